#include "sim/SimOptions.h"

#include "driver/Console.h"
#include "platform/ChildProcess.h"
#include "platform/SerialPort.h"

#include <algorithm>
#include <cctype>

namespace {

// A decimal number in [low, high]; false otherwise.
bool ParseNumber(const std::string& text, long low, long high, long& value)
{
    if (text.empty() || text.size() > 6)
        return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high;
}

SimOptions Failed(const std::string& argument)
{
    SimOptions options;
    options.outcome = SimOptions::ocError;
    options.error = argument;
    return options;
}

bool IsFaultOption(const std::string& arg)
{
    const std::vector<std::string>& names = SimFaultNames();
    return arg.size() > 2 && arg.compare(0, 2, "--") == 0 &&
           std::find(names.begin(), names.end(), arg.substr(2)) != names.end();
}

} // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args)
{
    SimOptions options;
    if (args.empty()) {
        options.outcome = SimOptions::ocUsage;
        return options;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        bool hasValue = i + 1 < args.size();
        long value = 0;
        if (arg == "-h" || arg == "--help") {
            options.outcome = SimOptions::ocUsage;
            return options;
        } else if (arg == "--listen-port") {
            if (!hasValue || !ParseNumber(args[i + 1], 0, 65535, value))
                return Failed(hasValue ? arg + " " + args[i + 1] : arg);
            options.listenPort = static_cast<int32_t>(value);
            ++i;
        } else if (arg == "--pty") {
            if (!hasValue || args[i + 1].empty())
                return Failed(arg);
            options.ptyPath = args[++i];
        } else if (arg == "--memory") {
            if (!hasValue || !ParseNumber(args[i + 1], kSimulatorMinRamBytes, kSimulatorMaxRamBytes, value))
                return Failed(hasValue ? arg + " " + args[i + 1] : arg);
            options.ramBytes = static_cast<uint32_t>(value);
            ++i;
        } else if (arg == "--image") {
            if (!hasValue)
                return Failed(arg);
            options.imageFile = args[++i];
        } else if (arg == "--bench" || arg == "--trace") {
            if (!hasValue || args[i + 1].empty())
                return Failed(arg);
            (arg == "--bench" ? options.benchFile : options.traceFile) = args[++i];
        } else if (arg == "--pace") {
            options.paced = true;
        } else if (arg == "--exit-on-eof") {
            options.exitOnEof = true;
        } else if (IsFaultOption(arg)) {
            if (!hasValue || !ParseSimFault(arg.substr(2), args[i + 1], options.faults))
                return Failed(hasValue ? arg + " " + args[i + 1] : arg);
            ++i;
        } else {
            return Failed(arg);
        }
    }
    // One line to serve, and only one.
    if (options.listenPort < 0 && options.ptyPath.empty())
        return Failed(""); // nothing wrong, something missing: the usage says what
    if (options.listenPort >= 0 && !options.ptyPath.empty())
        return Failed("--pty " + options.ptyPath);
    return options;
}

namespace {

// The tree this program lies in: the folder above its own, where the class
// library and the modem-line library are installed (a build folder has them
// at the same places), so that the examples work as typed.
std::string OwnTree()
{
    std::string self = HelperProgramPath("morvane-sim");
    size_t slash = self.find_last_of("/\\");
    std::string bin = slash == std::string::npos ? "." : self.substr(0, slash);
    slash = bin.find_last_of("/\\");
    return slash == std::string::npos ? bin + "/.." : bin.substr(0, slash);
}

} // namespace

void PrintSimUsage()
{
    const std::string tree = OwnTree();
    const std::string preload = tree + "/lib/morvane/preload/libmorvane_modemlines.so";
    const std::string classPath = "--path \"" + tree + "/share/morvane/lib;classes\"";
    const std::string lines[] = {
        "\nmorvane-sim --listen-port <port> | --pty <path> [options]\n",
        "   A Morvane module, simulated: it runs the programs downloaded to it and\n",
        "   talks the module's serial protocol behind an RFC 2217 server or on a\n",
        "   pseudo-terminal.\n",
        "\n",
        "   --listen-port <port> Serve on 127.0.0.1 at <port>; 0 picks a free port.\n",
        "                 The address is printed as rfc2217://127.0.0.1:<port>.\n",
        "   --pty <path>  Serve on a pseudo-terminal; <path> becomes a link to its\n",
        "                 device, opened as a serial port is. Prints pty <path>.\n",
        "                 A host reaches the modem lines only with this library\n",
        "                 in LD_PRELOAD: " + preload + "\n",
        "                 Not on Windows, which has no pseudo-terminals.\n",
        "   --pace        Keep the timing of the 28,800 baud line (10 bits a byte)\n",
        "                 and of the module's own clock.\n",
        "   --memory <bytes> RAM for static fields, stack and heap\n",
        "                 (4096 to 49152, default 16384).\n",
        "   --image <file> Start with this .mox image in EEPROM, as if downloaded.\n",
        "   --exit-on-eof End when standard input ends.\n",
        "   --bench <file> Drive the pins of every program that starts by this\n",
        "                 bench file (docs/bench.md); its results go to standard\n",
        "                 error and the exit code is morvane-run's.\n",
        "   --trace <file.vcd> Write the pins' levels and directions as a value\n",
        "                 change dump in module time.\n",
        "   --help        Display this help message\n",
        "\n",
        "   Faults, to see how a host copes:\n",
        "   --drop-ack <k>  Lose the acknowledgement of block k of each download.\n",
        "   --corrupt-status <n> Invert byte n (from 0) of each status packet.\n",
        "   --silent-after <n> Send nothing more once n bytes have gone out.\n",
        "   --hang-up-at-block <k> Hang up when block k of a download arrives.\n",
        "   --garbage <n>   Send n noise bytes before each start-up byte.\n",
        "   --ping-answer <byte> Answer a ping in the loader with this byte.\n",
        "   --dsr low|high  Keep DSR at this level whatever RTS does.\n",
        "\n",
        "   e.g., with Hello compiled into classes (see morvanedirect(1)):\n",
        "        morvane-sim --listen-port 2217\n",
        "        morvanedirect --port rfc2217://127.0.0.1:2217 --listen " + classPath + " Hello\n",
        "        morvane-sim --pty /tmp/morvane\n",
        "        LD_PRELOAD=" + preload + " \\\n",
        "        morvanedirect --port /tmp/morvane --listen " + classPath + " Hello\n",
        "   morvanedirect --port sim starts a simulator of its own.\n",
        "\n",
    };
    for (const std::string& line : lines)
        ConsoleText(line);
}
