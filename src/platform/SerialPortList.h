#pragma once

#include <string>
#include <vector>

// The serial devices present, in the fixed order that gives them their COM
// numbers: /dev/ttyS<n> with a UART behind them, then /dev/ttyUSB<n>, then
// /dev/ttyACM<n>, each in ascending numeric order. The first is COM1.
struct SerialPortRoots {
    std::string dev = "/dev";
    std::string sysClassTty = "/sys/class/tty"; // where a ttyS node's UART type is read
};

std::vector<std::string> ListSerialDevices(const SerialPortRoots& roots = {});

// The device behind COM<number> in the list made at start-up, or "" when
// there is none. The list is taken once, so numbers stay stable for the run.
void RememberSerialDevices(std::vector<std::string> devices);
std::string ComPortDevice(int number);

// True when `text` names a port directly instead of a COM number: a device
// path, a network port URL such as "rfc2217://HOST:PORT", or "sim".
bool IsPortDeviceName(const std::string& text);
