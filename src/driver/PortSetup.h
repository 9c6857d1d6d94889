#pragma once

#include "platform/SerialPortList.h"

// Lists the serial ports present under `roots` into the run settings:
// PortNumbers holds the COM numbers that name a device (COM1 up to COM19),
// PortCount how many.
void EnumeratePorts(const SerialPortRoots& roots = {});
