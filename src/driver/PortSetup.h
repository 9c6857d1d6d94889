#pragma once

#include <string>

// Lists the serial ports present into the run settings: PortNumbers holds the
// COM numbers that name a device (COM1 up to COM19), PortCount how many.
void EnumeratePorts();

// The name a port is shown under: the device text the user gave to --port,
// or "COM<n>" for the zero-based index.
std::string PortDisplayName(int zeroBasedIndex);
