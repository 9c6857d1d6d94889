#pragma once

#include <cstdint>
#include <functional>
#include <map>

// The process's message pump: periodic timers (the serial driver polls its
// port from one) and a descriptor to wake on (the keyboard). One turn blocks
// until a timer is due, the descriptor is readable or a stop request
// (Ctrl-C) arrives, runs the timers that are due, and returns; nothing spins.
class EventLoop {
public:
    using TimerId = int;

    TimerId AddTimer(int64_t periodMs, std::function<void()> callback);
    void RemoveTimer(TimerId id);
    bool HasTimer(TimerId id) const { return timers_.count(id) != 0; }

    // One turn. `wakeFd` (ConsoleKeys::WaitFd; ignored when negative) ends
    // the wait when readable.
    // `maxWaitMs` bounds the wait (negative: until a timer or the descriptor).
    void RunOnce(int wakeFd = -1, int64_t maxWaitMs = -1);

private:
    struct Timer {
        int64_t periodMs;
        int64_t dueMs;
        std::function<void()> callback;
    };
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
};

// The loop of the main thread.
EventLoop& MainEventLoop();
