#include "driver/Options.h"

#include "driver/RunSettings.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortList.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace {

// "COM3" and the like: on a system whose ports are named otherwise it names
// no port, and (as "0" does) leaves the choice to the port search, as it
// always has.
bool IsComWord(const std::string& value)
{
    if (value.size() < 4 || value.size() > 9)
        return false;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(value[i])) != "COM"[i])
            return false;
    return std::all_of(value.begin() + 3, value.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// Records the port choice; "" when the value is one, else the usage error.
// A word that is neither a number, a port's name nor a COM name is refused:
// a misspelt "sim" or URL would otherwise send the run searching every port.
std::string ChoosePort(const std::string& value)
{
    RunSettings& settings = Settings();
    if (IsPortDeviceName(value)) {
        if (std::string problem = SimulatorOptionsProblem(value); !problem.empty())
            return "\nError: --port " + value + ": " + problem + ".\n\n";
        settings.PortDevice = value;
        settings.PortChosen = true;
        return "";
    }
    long number = PortNumberOf(value);
    if (number != 0) {
        settings.PortDevice.clear();
        settings.PortIndex = static_cast<int32_t>(number - 1);
        settings.PortChosen = true;
        return "";
    }
    // What reads as the number 0, and a blank value, choose no port.
    size_t start = value.find_first_not_of(" \t\n\v\f\r");
    if (start != std::string::npos && (value[start] == '+' || value[start] == '-'))
        ++start;
    bool blank = start == std::string::npos;
    bool zero = !blank && start < value.size() && std::isdigit(static_cast<unsigned char>(value[start]));
    if (blank || zero || IsComWord(value))
        return "";
    return "\nError: Unknown port " + value + " (a COM number, a device, rfc2217://HOST:PORT or sim expected).\n\n";
}

CommandLine UsageError(const std::string& text)
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
            if (std::string error = ChoosePort(args[++i]); !error.empty())
                return UsageError(error);
        } else if (arg == "--link") {
            line.linkOnly = true;
        } else if (arg == "--load") {
            line.loadOnly = true;
        } else if (arg == "--help" || arg == "-h" || arg == "/h" || arg == "/?") {
            line.outcome = CommandLine::ocUsage;
            return line;
        } else if (arg == "--listen") {
            line.listen = true;
        } else if (arg.compare(0, 2, "--") == 0) {
            // A mistyped option taken as the file name would change the run
            // without a word.
            return UsageError("\nError: Unknown option " + arg + ".\n\n");
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
