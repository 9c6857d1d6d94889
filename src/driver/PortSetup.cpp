#include "driver/PortSetup.h"

#include "driver/RunSettings.h"
#include "platform/SerialPortList.h"

namespace {
constexpr int kHighestComNumber = 19;
}

void EnumeratePorts(const SerialPortRoots& roots)
{
    std::vector<ComPort> ports = ListComPorts(kHighestComNumber, roots);
    RunSettings& settings = Settings();
    settings.PortCount = 0;
    for (size_t i = 0; i < ports.size() && settings.PortCount < RunSettings::kMaxPorts; ++i)
        settings.PortNumbers[settings.PortCount++] = static_cast<int32_t>(ports[i].number);
    RememberComPorts(std::move(ports));
}
