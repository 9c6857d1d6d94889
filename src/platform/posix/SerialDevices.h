#pragma once

#include "platform/SerialPortList.h"

#include <string>
#include <vector>

// The serial devices present, in the fixed order that gives them their COM
// numbers: /dev/ttyS<n> with a UART behind them, then /dev/ttyUSB<n>, then
// /dev/ttyACM<n>, each in ascending numeric order. The first is COM1.

std::vector<std::string> ListSerialDevices(const SerialPortRoots& roots = {});
