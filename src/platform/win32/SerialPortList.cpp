#include "platform/SerialPortList.h"

#include <cctype>
#include <windows.h>

namespace {

constexpr int kHighestDeviceNumber = 255;
constexpr const char* kDevicePrefix = "\\\\.\\";

// "COM<n>", any case, n from 1 to 255: 0 when the text is no such name.
int ComNumberOf(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return 0;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= kHighestDeviceNumber ? number : 0;
}

std::string DeviceOf(int number) { return kDevicePrefix + std::string("COM") + std::to_string(number); }

} // namespace

std::vector<ComPort> ListComPorts(int highestNumber, const SerialPortRoots&)
{
    std::vector<ComPort> ports;
    for (int number = 1; number <= highestNumber; ++number) {
        std::string name = "COM" + std::to_string(number);
        COMMCONFIG config{};
        DWORD size = sizeof config;
        if (GetDefaultCommConfigA(name.c_str(), &config, &size))
            ports.push_back(ComPort{number, DeviceOf(number)});
    }
    return ports;
}

// Every COM<n> is the system's own port, listed or not.
void RememberComPorts(std::vector<ComPort>) {}

std::string ComPortDevice(int number)
{
    return number >= 1 && number <= kHighestDeviceNumber ? DeviceOf(number) : "";
}

bool LocalDeviceOf(const std::string& text, std::string& device)
{
    if (text.compare(0, 4, kDevicePrefix) == 0 && text.size() > 4) {
        device = text;
        return true;
    }
    // COM10 and above open only through the device namespace.
    if (int number = ComNumberOf(text)) {
        device = DeviceOf(number);
        return true;
    }
    return false;
}
