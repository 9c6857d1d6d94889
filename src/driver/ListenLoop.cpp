#include "driver/ListenLoop.h"

#include "platform/ConsoleKeys.h"
#include "platform/EventLoop.h"
#include "platform/StopSignals.h"

void RunListenLoop(ConsoleKeys& keys, const std::function<void(uint8_t)>& onKey, const std::function<void()>& afterTurn)
{
    while (!StopSignals::Requested()) {
        if (keys.KeyWaiting()) {
            int key = keys.ReadKey();
            if (key >= 0)
                onKey(static_cast<uint8_t>(key));
        } else {
            MainEventLoop().RunOnce(keys.WaitFd());
        }
        // Asked to stop: whatever the line did meanwhile is no longer news.
        if (StopSignals::Requested())
            break;
        afterTurn();
    }
}
