#include "driver/Options.h"

#include "driver/RunSettings.h"
#include "platform/SerialPortList.h"

#include <cctype>
#include <climits>

namespace {

void ChoosePort(const std::string& value)
{
    RunSettings& settings = Settings();
    if (IsPortDeviceName(value)) {
        settings.PortDevice = value;
        settings.PortChosen = true;
        return;
    }
    long number = PortNumberOf(value);
    if (number != 0) {
        settings.PortDevice.clear();
        settings.PortIndex = static_cast<int32_t>(number - 1);
        settings.PortChosen = true;
    }
}

CommandLine UsageError(const char* text)
{
    CommandLine line;
    line.outcome = CommandLine::ocUsageError;
    line.error = text;
    return line;
}

} // namespace

long PortNumberOf(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        // Saturate instead of overflowing; such a number names no port anyway.
        if (value < INT_MAX / 10)
            value = value * 10 + (text[i] - '0');
        else
            value = INT_MAX;
    }
    return negative ? -value : value;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine line;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--path") {
            if (i + 1 >= args.size())
                return UsageError("\nError: Path expected.\n\n");
            line.classPath = args[++i];
        } else if (arg == "--port") {
            if (i + 1 >= args.size())
                return UsageError("\nError: Port number expected.\n\n");
            ChoosePort(args[++i]);
        } else if (arg == "--link") {
            line.linkOnly = true;
        } else if (arg == "--load") {
            line.loadOnly = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/h" || arg == "/?") {
            line.outcome = CommandLine::ocUsage;
            return line;
        } else if (arg == "--listen") {
            line.listen = true;
        } else {
            line.fileName = arg;
        }
    }
    // Linking only and loading only together leave nothing to download to.
    if (line.linkOnly && line.loadOnly)
        return UsageError("\nError: --link and --load cannot be used together.\n\n");
    // Linking only never opens a port, so there would be nothing to listen to.
    if (line.linkOnly)
        line.listen = false;
    return line;
}
