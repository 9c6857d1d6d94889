#include "platform/SerialPort.h"
#include "platform/SerialPortList.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace {

constexpr const char* kRfc2217Scheme = "rfc2217";

std::map<std::string, SerialPortFactory>& Schemes()
{
    static std::map<std::string, SerialPortFactory> schemes;
    return schemes;
}

// "scheme://rest" gives the scheme; "" when the text is no URL.
std::string SchemeOf(const std::string& name)
{
    size_t colon = name.find("://");
    if (colon == std::string::npos || colon == 0)
        return "";
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return "";
    }
    return name.substr(0, colon);
}

// "COM<n>" with n a positive decimal number, as the port search names ports.
int ComNumberOf(const std::string& name)
{
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0 || name.size() > 9)
        return 0;
    int number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return 0;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

} // namespace

bool ParseRfc2217Url(const std::string& url, std::string& host, uint16_t& port)
{
    const std::string prefix = std::string(kRfc2217Scheme) + "://";
    if (url.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::string rest = url.substr(prefix.size());
    // Options after the address ("?logging=...") are a habit of other
    // clients; we take none, and a path means nothing to a device server.
    if (rest.find_first_of("/?#@") != std::string::npos)
        return false;
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon)
            return false;
        host = rest.substr(0, colon);
    }
    std::string digits = rest.substr(colon + 1);
    if (host.empty() || digits.empty() || digits.size() > 5)
        return false;
    long number = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > 65535)
        return false;
    port = static_cast<uint16_t>(number);
    return true;
}

bool IsSerialPortUrl(const std::string& name)
{
    std::string scheme = SchemeOf(name);
    return scheme == kRfc2217Scheme || (!scheme.empty() && Schemes().count(scheme) != 0);
}

void RegisterSerialPortScheme(const std::string& scheme, SerialPortFactory factory)
{
    Schemes()[scheme] = std::move(factory);
}

std::unique_ptr<SerialPort> CreateSerialPort(const std::string& name)
{
    if (IsSimulatorPortName(name))
        return MakeSimulatorPort(name);
    std::string scheme = SchemeOf(name);
    if (scheme == kRfc2217Scheme) {
        std::string host;
        uint16_t port = 0;
        if (!ParseRfc2217Url(name, host, port))
            return nullptr;
        return MakeRfc2217Port(name, host, port);
    }
    if (!scheme.empty()) {
        auto it = Schemes().find(scheme);
        return it == Schemes().end() ? nullptr : it->second(name);
    }
    std::string device;
    if (LocalDeviceOf(name, device))
        return MakeLocalSerialPort(name, device);
    if (int number = ComNumberOf(name)) {
        device = ComPortDevice(number);
        if (!device.empty())
            return MakeLocalSerialPort(name, device);
    }
    return nullptr;
}

bool IsPortDeviceName(const std::string& text)
{
    std::string device;
    return LocalDeviceOf(text, device) || IsSerialPortUrl(text) || IsSimulatorPortName(text);
}
