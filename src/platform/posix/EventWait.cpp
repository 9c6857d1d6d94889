#include "platform/EventWait.h"

#include <algorithm>
#include <poll.h>

void WaitForWake(int wakeFd, int64_t waitMs)
{
    pollfd descriptor{wakeFd, POLLIN, 0};
    // Interrupted by a signal: return so the caller can look at it.
    poll(wakeFd >= 0 ? &descriptor : nullptr, wakeFd >= 0 ? 1 : 0,
         waitMs < 0 ? -1 : static_cast<int>(std::min<int64_t>(waitMs, 1 << 30)));
}
