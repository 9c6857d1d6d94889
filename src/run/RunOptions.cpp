#include "run/RunOptions.h"

#include "bench/BenchScript.h"
#include "driver/Console.h"
#include "sim/MoxVm.h"

namespace {

// The same memory range morvane-sim takes: the least a program's statics,
// stack and heap need, and the module's address space.
constexpr uint32_t kMaxRamBytes = 48 * 1024;

RunOptions Failed(std::string text)
{
    RunOptions options;
    options.outcome = RunOptions::ocError;
    options.error = std::move(text);
    return options;
}

bool ParseBytes(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 6)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value >= MoxVm::kMinRamBytes && value <= kMaxRamBytes;
}

} // namespace

RunOptions ParseRunOptions(const std::vector<std::string>& args)
{
    RunOptions options;
    if (args.empty()) {
        options.outcome = RunOptions::ocUsage;
        return options;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options = RunOptions();
            options.outcome = RunOptions::ocUsage;
            return options;
        }
        const bool takesValue = arg == "--path" || arg == "--bench" || arg == "--trace" || arg == "--expect-text" ||
                                arg == "--fail-text" || arg == "--timeout" || arg == "--keys" || arg == "--junit" ||
                                arg == "--memory" || arg == "--jdwp";
        if (!takesValue) {
            if (!arg.empty() && arg[0] == '-')
                return Failed("Unknown option on command line: '" + arg + "'.");
            if (!options.mainClass.empty())
                return Failed("One main class only: '" + options.mainClass + "' and '" + arg + "' were given.");
            if (arg.empty())
                return Failed("The main class is an empty name.");
            options.mainClass = arg;
            continue;
        }
        if (i + 1 >= args.size())
            return Failed(arg + " expects a value.");
        const std::string& value = args[++i];
        // A file name or text that is empty is a quoting mistake in a script,
        // and an empty text would be found at once.
        if (value.empty() && arg != "--path")
            return Failed(arg + " expects a value that is not empty.");
        if (arg == "--path") {
            options.classPath = value;
        } else if (arg == "--bench") {
            options.benchFile = value;
        } else if (arg == "--trace") {
            options.traceFile = value;
        } else if (arg == "--keys") {
            options.keysFile = value;
        } else if (arg == "--junit") {
            options.junitFile = value;
        } else if (arg == "--expect-text") {
            options.expectTexts.push_back(value);
        } else if (arg == "--fail-text") {
            options.failTexts.push_back(value);
        } else if (arg == "--timeout") {
            options.timeoutUs = value == "0" ? 0 : ParseModuleTimeUs(value);
            options.timeoutGiven = true;
            if (options.timeoutUs < 0)
                return Failed("--timeout expects a module time such as 10s, 500ms or 200us (0 for none), not '" +
                              value + "'.");
        } else if (arg == "--memory") {
            if (!ParseBytes(value, options.ramBytes))
                return Failed("--memory expects " + std::to_string(MoxVm::kMinRamBytes) + " to " +
                              std::to_string(kMaxRamBytes) + " bytes, not '" + value + "'.");
        } else if (arg == "--jdwp") {
            int port = 0;
            bool digits = !value.empty() && value.size() <= 5;
            for (char c : value) {
                digits = digits && c >= '0' && c <= '9';
                if (digits)
                    port = port * 10 + (c - '0');
            }
            if (!digits || port > 65535)
                return Failed("--jdwp expects a port number from 0 to 65535 (0 picks a free one), not '" + value + "'.");
            options.jdwpPort = port;
        }
    }
    if (options.mainClass.empty())
        return Failed("The main class is missing.");
    return options;
}

void PrintRunUsage()
{
    static const char* const kLines[] = {
        "\nmorvane-run [options] <Main>\n",
        "   Link a Morvane program and run it on the simulated module, headless,\n",
        "   as a test: a bench file drives its pins, UARTs and keys, the exit code\n",
        "   tells how the run ended. The program's text goes to standard output,\n",
        "   the runner's own notices to standard error.\n",
        "\n",
        "   --path <path> Class path, as MorvaneDirect takes it.\n",
        "   --bench <file> The bench file: steps that set pins, send to UARTs, type\n",
        "                 keys, wait for text and check pins (docs/bench.md).\n",
        "   --trace <file.vcd> Write what every pin did as a value change dump.\n",
        "   --expect-text <text> Pass once the program has printed <text> (repeatable).\n",
        "   --fail-text <text> Fail as soon as the program prints <text> (repeatable).\n",
        "   --timeout <time> Module time the run may take: 10s (default), 500ms,\n",
        "                 200us; 0 for none.\n",
        "   --keys <file> Keys typed on the terminal, from a file. Without it they\n",
        "                 come from standard input when that is no terminal.\n",
        "   --junit <file.xml> Write the result as a JUnit test report.\n",
        "   --memory <bytes> RAM for static fields, stack and heap\n",
        "                 (4096 to 49152, default 16384).\n",
        "   --jdwp <port> Serve Java debuggers (jdb, an IDE's remote attach) on\n",
        "                 127.0.0.1:<port>, 0 for a free one; the program waits\n",
        "                 for the debugger before its first instruction.\n",
        "   --help        Display this help message\n",
        "\n",
        "   Exit codes: 0 passed (the program ended, or every expectation was met),\n",
        "   1 failed, 2 nothing ran (command line, link or bench file error),\n",
        "   3 timed out.\n",
        "\n",
        "   e.g. morvane-run --path classes --bench Blink.bench.toml --trace blink.vcd Blink\n",
        "        morvane-run --expect-text \"done\" --timeout 2s Hello\n",
        "\n",
    };
    for (const char* line : kLines)
        ConsoleText(line);
}
