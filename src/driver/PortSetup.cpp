#include "driver/PortSetup.h"

#include "driver/RunSettings.h"

namespace {
constexpr int kHighestComNumber = 19;
}

void EnumeratePorts(const SerialPortRoots& roots)
{
    std::vector<std::string> devices = ListSerialDevices(roots);
    if (devices.size() > static_cast<size_t>(kHighestComNumber))
        devices.resize(kHighestComNumber);
    RunSettings& settings = Settings();
    settings.PortCount = 0;
    for (size_t i = 0; i < devices.size() && settings.PortCount < RunSettings::kMaxPorts; ++i)
        settings.PortNumbers[settings.PortCount++] = static_cast<int32_t>(i + 1);
    RememberSerialDevices(std::move(devices));
}
