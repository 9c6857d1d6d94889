#include "platform/Clock.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace {

class MonotonicClock final : public Clock {
public:
    int64_t NowMs() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }

    void SleepMs(int64_t ms) override
    {
        if (ms <= 0)
            return;
        timespec request{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
        while (nanosleep(&request, &request) != 0 && errno == EINTR) {
        }
    }
};

} // namespace

Clock& SystemClock()
{
    static MonotonicClock clock;
    return clock;
}

void UsePreciseTimers() { prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }
