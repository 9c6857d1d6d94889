#pragma once

#include <windows.h>

// What the event loop waits on for the keys of C library descriptor `fd`:
// the console's input handle, or the event of the thread that reads a pipe
// or a file (ConsoleKeys.cpp). nullptr when `fd` names nothing.
HANDLE KeysReadyEvent(int fd);
