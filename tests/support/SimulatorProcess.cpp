#include "support/SimulatorProcess.h"

#include "platform/Clock.h"

#include <cstdlib>

namespace {

const char* const kPreload = "LD_PRELOAD";

} // namespace

bool SimulatorProcess::Start(Line line, const std::string& dir, const std::vector<std::string>& args)
{
    // Through the shell only to put its log where its announcement goes.
    std::vector<std::string> command = {"-c", "exec \"$0\" \"$@\" 2>&1", MORVANE_SIM_EXE,
                                        "--exit-on-eof"};
    if (line == lnPty) {
        command.insert(command.end(), {"--pty", dir + "/line"});
    } else {
        command.insert(command.end(), {"--listen-port", "0"});
    }
    command.insert(command.end(), args.begin(), args.end());
    if (process_.Start("/bin/sh", command) != 0)
        return false;
    std::string announced;
    if (!ReadLine(announced, 5000))
        return false;
    const std::string prefix = line == lnPty ? "pty " : "morvane-sim listening on ";
    if (announced.compare(0, prefix.size(), prefix) != 0) {
        startOutput_ = announced + "\n" + Log(200);
        return false;
    }
    port_ = announced.substr(prefix.size());
    return true;
}

bool SimulatorProcess::ReadLine(std::string& line, int64_t timeoutMs) { return process_.ReadLine(line, timeoutMs); }

bool SimulatorProcess::WaitFor(const std::string& text, int64_t timeoutMs)
{
    int64_t deadline = SystemClock().NowMs() + timeoutMs;
    std::string line;
    for (int64_t left = timeoutMs; left > 0; left = deadline - SystemClock().NowMs())
        if (ReadLine(line, left) && line.find(text) != std::string::npos)
            return true;
    return false;
}

std::string SimulatorProcess::Log(int64_t quietMs)
{
    std::string log, line;
    while (ReadLine(line, quietMs))
        log += line + "\n";
    return log;
}

DevicePathEnvironment::DevicePathEnvironment()
{
    const char* preload = std::getenv(kPreload);
    hadPreload_ = preload != nullptr;
    preload_ = preload ? preload : "";
    setenv(kPreload, (std::string(MORVANE_DEVICE_PRELOAD) + (preload_.empty() ? "" : ":" + preload_)).c_str(), 1);
}

DevicePathEnvironment::~DevicePathEnvironment()
{
    if (hadPreload_)
        setenv(kPreload, preload_.c_str(), 1);
    else
        unsetenv(kPreload);
}
