#pragma once

#include <cstdint>
#include <functional>

class ConsoleKeys;

// Pumps the main event loop (which runs the serial driver's poll timer) while
// no key is waiting, and hands each key on. `afterTurn` runs after every turn
// of the loop. Runs until SIGINT or SIGTERM, or until `onKey` or `afterTurn`
// raises; it never spins, also after the keys have ended.
void RunListenLoop(ConsoleKeys& keys, const std::function<void(uint8_t)>& onKey,
                   const std::function<void()>& afterTurn = [] {});
