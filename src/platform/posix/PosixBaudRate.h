#pragma once

// Rates the termios constants do not name (28,800 baud among them) can only
// be set through the kernel's termios2 interface, whose header clashes with
// <termios.h>; it therefore lives in a file of its own.

// Sets input and output speed of the open terminal `fd` to `baudRate`.
// False when the driver refuses the rate.
bool SetAnyBaudRate(int fd, int baudRate);
