#include "platform/SerialPortList.h"

#include "platform/posix/SerialDevices.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::vector<ComPort> gPorts;

// Numbers of the entries named <prefix><digits> in `dir`, ascending.
std::vector<long> NumberedEntries(const std::string& dir, const std::string& prefix)
{
    std::vector<long> numbers;
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr)
        return numbers;
    while (dirent* entry = readdir(handle)) {
        std::string name = entry->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string digits = name.substr(prefix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) || digits.size() > 6)
            continue;
        numbers.push_back(std::strtol(digits.c_str(), nullptr, 10));
    }
    closedir(handle);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

// A ttyS node exists for every possible UART; only those whose port type is
// known have hardware behind them. The kernel tells the type in sysfs; where
// that is missing we ask the device.
bool HasUart(const SerialPortRoots& roots, const std::string& name)
{
    std::ifstream typeFile(roots.sysClassTty + "/" + name + "/type");
    int type = 0;
    if (typeFile >> type)
        return type != PORT_UNKNOWN;
    int fd = open((roots.dev + "/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    bool known = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return known;
}

} // namespace

std::vector<std::string> ListSerialDevices(const SerialPortRoots& roots)
{
    std::vector<std::string> devices;
    for (long n : NumberedEntries(roots.dev, "ttyS")) {
        std::string name = "ttyS" + std::to_string(n);
        if (HasUart(roots, name))
            devices.push_back(roots.dev + "/" + name);
    }
    for (const char* prefix : {"ttyUSB", "ttyACM"})
        for (long n : NumberedEntries(roots.dev, prefix))
            devices.push_back(roots.dev + "/" + prefix + std::to_string(n));
    return devices;
}

std::vector<ComPort> ListComPorts(int highestNumber, const SerialPortRoots& roots)
{
    std::vector<ComPort> ports;
    for (std::string& device : ListSerialDevices(roots)) {
        int number = static_cast<int>(ports.size()) + 1;
        if (number > highestNumber)
            break;
        ports.push_back(ComPort{number, std::move(device)});
    }
    return ports;
}

void RememberComPorts(std::vector<ComPort> ports) { gPorts = std::move(ports); }

std::string ComPortDevice(int number)
{
    for (const ComPort& port : gPorts)
        if (port.number == number)
            return port.device;
    return "";
}

bool LocalDeviceOf(const std::string& text, std::string& device)
{
    if (text.empty() || text[0] != '/')
        return false;
    device = text;
    return true;
}
