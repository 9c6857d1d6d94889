#include "platform/EventWait.h"

#include "platform/win32/KeyInput.h"
#include "platform/win32/StopEvent.h"

void WaitForWake(int wakeFd, int64_t waitMs)
{
    HANDLE handles[2] = {StopEvent(), nullptr};
    DWORD count = 1;
    // A console is signalled while input records (keys, but also mouse and
    // focus events, which the key reader throws away) wait.
    if (wakeFd >= 0)
        if (HANDLE keys = KeysReadyEvent(wakeFd))
            handles[count++] = keys;
    DWORD timeout = waitMs < 0 ? INFINITE : static_cast<DWORD>(waitMs < 0x7FFFFFFE ? waitMs : 0x7FFFFFFE);
    WaitForMultipleObjects(count, handles, FALSE, timeout);
}
