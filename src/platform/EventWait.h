#pragma once

#include <cstdint>

// The system's part of the event loop's turn: blocks until `wakeFd` (a C
// library descriptor; none when negative) is readable, `waitMs` has passed
// (negative: no limit) or a stop request (Ctrl-C) arrives.
void WaitForWake(int wakeFd, int64_t waitMs);
