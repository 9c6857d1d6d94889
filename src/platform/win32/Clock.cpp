#include "platform/Clock.h"

#include <windows.h>

namespace {

// The performance counter: millisecond resolution, where the tick count
// moves in steps of about 16 ms, coarser than the protocol's shortest wait.
class PerformanceClock final : public Clock {
public:
    PerformanceClock() { QueryPerformanceFrequency(&frequency_); }

    int64_t NowMs() override
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<int64_t>(now.QuadPart / frequency_.QuadPart * 1000 +
                                    now.QuadPart % frequency_.QuadPart * 1000 / frequency_.QuadPart);
    }

    void SleepMs(int64_t ms) override
    {
        if (ms > 0)
            Sleep(static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF));
    }

private:
    LARGE_INTEGER frequency_{};
};

} // namespace

Clock& SystemClock()
{
    static PerformanceClock clock;
    return clock;
}

// Waits here end to the resolution of the system's timer (about 16 ms); the
// simulator's paced line keeps its timing to that.
void UsePreciseTimers() {}
