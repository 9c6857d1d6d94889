#pragma once

#include <string>
#include <vector>

// The COM ports of this machine, numbered as the port search and "--port N"
// know them. On Windows they are the system's own COM1 to COM19, each probed
// for existence; here they are the serial devices present, in a fixed order
// (posix/SerialDevices.h), the first being COM1.
struct ComPort {
    int number = 0;     // the N of COM<N>
    std::string device; // what opening it opens
};

// Where the serial devices are looked for on a system whose devices are
// files (tests root the list elsewhere). Windows' COM ports are the system's
// own: there it means nothing.
struct SerialPortRoots {
    std::string dev = "/dev";
    std::string sysClassTty = "/sys/class/tty"; // where a ttyS node's UART type is read
};

// The ports present with numbers up to `highestNumber`, ascending.
std::vector<ComPort> ListComPorts(int highestNumber, const SerialPortRoots& roots = {});

// The device behind COM<number>, or "" when there is none. The ports are
// listed once at start-up and remembered, so numbers stay stable for the
// run; on Windows every COM<number> names the system's own port.
void RememberComPorts(std::vector<ComPort> ports);
std::string ComPortDevice(int number);

// True when `text` names a local serial device directly (the device is set
// into `device`): a path such as /dev/ttyUSB0 here; COM12 or \\.\COM12 on
// Windows.
bool LocalDeviceOf(const std::string& text, std::string& device);

// True when `text` names a port directly instead of a COM number: a local
// device, a network port URL such as "rfc2217://HOST:PORT", or "sim".
bool IsPortDeviceName(const std::string& text);
