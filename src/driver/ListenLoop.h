#pragma once

#include <cstdint>
#include <functional>

class ConsoleKeys;

// Pumps the main event loop (which runs the serial driver's poll timer) while
// no key is waiting, and hands each key on. `afterTurn` runs after every turn
// of the loop. Runs until SIGINT or SIGTERM, or until `onKey` or `afterTurn`
// raises; it never spins, also after the keys have ended.
//
// Keys from a pipe or a file are read only while `roomForKey` says the
// receiver can take one, so a script of any length arrives whole and in
// order; a person at a terminal is not held back, and typing faster than
// the program takes keys overflows the receiver as it always has.
void RunListenLoop(ConsoleKeys& keys, const std::function<void(uint8_t)>& onKey,
                   const std::function<void()>& afterTurn = [] {},
                   const std::function<bool()>& roomForKey = [] { return true; });
