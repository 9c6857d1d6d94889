#include "driver/ListenLoop.h"

#include "platform/ConsoleKeys.h"
#include "platform/EventLoop.h"
#include "platform/StopSignals.h"

void RunListenLoop(ConsoleKeys& keys, const std::function<void(uint8_t)>& onKey, const std::function<void()>& afterTurn,
                   const std::function<bool()>& roomForKey)
{
    while (!StopSignals::Requested()) {
        // A full receiver and keys from a script: the input is not even
        // looked at until a timer tick (the program taking a key) makes room.
        bool takeKeys = keys.IsTerminal() || roomForKey();
        if (takeKeys && keys.KeyWaiting()) {
            int key = keys.ReadKey();
            if (key >= 0)
                onKey(static_cast<uint8_t>(key));
        } else {
            MainEventLoop().RunOnce(takeKeys ? keys.WaitFd() : -1);
        }
        // Asked to stop: whatever the line did meanwhile is no longer news.
        if (StopSignals::Requested())
            break;
        afterTurn();
    }
}
