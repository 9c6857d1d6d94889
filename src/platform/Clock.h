#pragma once

#include <cstdint>

// Milliseconds on a clock that never jumps. The protocol's time-outs are
// measured on it; tests substitute a clock they advance themselves, so that a
// 10 s time-out is tested without waiting 10 s.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t NowMs() = 0;
    // A real pause, used only where the protocol wants the line quiet.
    virtual void SleepMs(int64_t ms) = 0;
};

// The operating system's monotonic clock.
Clock& SystemClock();

// Asks that this process's timed waits end when they are due, not when the
// system finds it convenient to wake it (on Linux up to 50 us later): for a
// program that keeps a line's timing to the byte.
void UsePreciseTimers();
