#include "platform/EventLoop.h"

#include "platform/Clock.h"
#include "platform/EventWait.h"

#include <algorithm>
#include <vector>

EventLoop::TimerId EventLoop::AddTimer(int64_t periodMs, std::function<void()> callback)
{
    periodMs = std::max<int64_t>(periodMs, 1);
    TimerId id = nextId_++;
    timers_[id] = Timer{periodMs, SystemClock().NowMs() + periodMs, std::move(callback)};
    return id;
}

void EventLoop::RemoveTimer(TimerId id) { timers_.erase(id); }

void EventLoop::RunOnce(int wakeFd, int64_t maxWaitMs)
{
    int64_t now = SystemClock().NowMs();
    int64_t wait = maxWaitMs;
    for (const auto& [id, timer] : timers_) {
        int64_t untilDue = std::max<int64_t>(timer.dueMs - now, 0);
        wait = wait < 0 ? untilDue : std::min(wait, untilDue);
    }
    if (wait != 0)
        WaitForWake(wakeFd, wait);

    now = SystemClock().NowMs();
    std::vector<TimerId> due;
    for (const auto& [id, timer] : timers_)
        if (timer.dueMs <= now)
            due.push_back(id);
    for (TimerId id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end())
            continue; // removed by an earlier callback of this turn
        Timer& timer = it->second;
        // A tick that is late (a slow handler) is not repeated to catch up.
        timer.dueMs += timer.periodMs;
        if (timer.dueMs <= now)
            timer.dueMs = now + timer.periodMs;
        std::function<void()> callback = timer.callback;
        callback();
    }
}

EventLoop& MainEventLoop()
{
    static EventLoop loop;
    return loop;
}
