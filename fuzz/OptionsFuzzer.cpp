// The command line from arbitrary words: the bytes split at each zero byte
// into arguments, parsed as the run parses them, with every --port value
// read as a number, a device name or a network port address. Whatever the
// words, the parse ends in one of its three outcomes, takes its file name
// and class path from the words given, and chooses a port only as the words
// name it.

#include "FuzzSupport.h"

#include "driver/Options.h"
#include "driver/RunSettings.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortList.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool IsOneOf(const std::string& word, const std::vector<std::string>& words)
{
    return std::find(words.begin(), words.end(), word) != words.end();
}

// Decimal reading agrees with the C library's wherever no saturation is
// involved.
void CheckNumber(const std::string& text)
{
    const long value = PortNumberOf(text);
    FUZZ_CHECK(value >= -INT_MAX && value <= INT_MAX);
    if (text.find('\0') != std::string::npos)
        return; // the C library stops at the zero byte
    errno = 0;
    const long library = std::strtol(text.c_str(), nullptr, 10);
    if (errno == 0 && library > -2147483640L && library < 2147483640L)
        FUZZ_CHECK(value == library);
}

void CheckPortName(const std::string& text)
{
    std::string host;
    uint16_t port = 0;
    if (ParseRfc2217Url(text, host, port))
        FUZZ_CHECK(!host.empty() && port != 0 && IsPortDeviceName(text));
    // Creating a port opens nothing; a name that names no port gives none.
    if (std::unique_ptr<SerialPort> created = CreateSerialPort(text)) {
        FUZZ_CHECK(!created->IsOpen());
        FUZZ_CHECK(created->Name() == text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args;
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (size > 0)
        args.push_back(word);
    if (args.size() > 64)
        args.resize(64);

    InitialiseSettings();
    const CommandLine line = ParseCommandLine(args);
    const RunSettings settings = Settings();

    switch (line.outcome) {
    case CommandLine::ocUsage:
        FUZZ_CHECK(IsOneOf("--help", args) || IsOneOf("-h", args) || IsOneOf("/h", args) || IsOneOf("/?", args));
        break;
    case CommandLine::ocUsageError:
        // Each error names an argument the command line really has.
        FUZZ_CHECK(line.error == "\nError: Path expected.\n\n" || line.error == "\nError: Port number expected.\n\n" ||
                   line.error == "\nError: --link and --load cannot be used together.\n\n" ||
                   std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
                       return (arg.compare(0, 2, "--") == 0 && line.error == "\nError: Unknown option " + arg + ".\n\n") ||
                              line.error.rfind("\nError: Unknown port " + arg + " (", 0) == 0 ||
                              line.error.rfind("\nError: --port " + arg + ": ", 0) == 0;
                   }));
        break;
    case CommandLine::ocRun:
        FUZZ_CHECK(!(line.linkOnly && line.loadOnly));
        FUZZ_CHECK(!(line.linkOnly && line.listen));
        FUZZ_CHECK(line.fileName.empty() || IsOneOf(line.fileName, args));
        FUZZ_CHECK(line.classPath.empty() || IsOneOf(line.classPath, args));
        break;
    default:
        FUZZ_CHECK(false);
    }
    if (settings.PortChosen && !settings.PortDevice.empty()) {
        FUZZ_CHECK(IsOneOf(settings.PortDevice, args) && IsPortDeviceName(settings.PortDevice));
    } else if (settings.PortChosen) {
        FUZZ_CHECK(std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
            return !IsPortDeviceName(arg) && PortNumberOf(arg) == int64_t{settings.PortIndex} + 1;
        }));
    } else {
        FUZZ_CHECK(settings.PortDevice.empty());
    }

    // The same words always give the same run.
    InitialiseSettings();
    const CommandLine again = ParseCommandLine(args);
    FUZZ_CHECK(again.outcome == line.outcome && again.error == line.error && again.fileName == line.fileName &&
               again.classPath == line.classPath && again.listen == line.listen);
    FUZZ_CHECK(Settings().PortChosen == settings.PortChosen && Settings().PortIndex == settings.PortIndex &&
               Settings().PortDevice == settings.PortDevice);

    for (const std::string& arg : args) {
        CheckNumber(arg);
        CheckPortName(arg);
    }
    InitialiseSettings();
    return 0;
}
