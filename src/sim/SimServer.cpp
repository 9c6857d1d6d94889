#include "sim/SimServer.h"

#include "driver/Console.h"
#include "errors/EError.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/StopSignals.h"
#include "platform/Tcp.h"
#include "sim/PtyLine.h"
#include "sim/Rfc2217Line.h"
#include "sim/SimModule.h"
#include "sim/SimOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The log lines about a program's end wait until its last bytes have left
// and the host has had time to show them, so that they come after them.
constexpr int64_t kNoticeDelayMs = 250;

void PrintNotice(const std::string& text) { std::fprintf(stderr, "morvane-sim: %s\n", text.c_str()); }

class Server {
public:
    Server(const SimOptions& options, SimModule& module, SimLine& line) : options_(options), module_(module), line_(line)
    {
        // A paced byte is due every 347 us: its wake-up must not come late.
        if (options.paced)
            UsePreciseTimers();
    }

    void Run()
    {
        Clock& clock = SystemClock();
        module_.PowerOn(clock.NowMs());
        while (!StopSignals::Requested() && !finished_ && !line_.Failed()) {
            int64_t now = clock.NowMs();
            module_.Run(now);
            for (SimModule::Notice& notice : module_.TakeNotices()) {
                // Notices keep their order: one waits while an earlier one does.
                if (notice.afterOutput || !notices_.empty())
                    notices_.push_back(std::move(notice.text));
                else
                    PrintNotice(notice.text);
            }
            for (std::string& notice : line_.TakeNotices()) {
                if (notices_.empty())
                    PrintNotice(notice);
                else
                    notices_.push_back(std::move(notice));
            }
            line_.Transmit(now);
            PrintDueNotices(now);
            Wait(now);
        }
        for (const std::string& notice : notices_)
            PrintNotice(notice);
        line_.Close(clock.NowMs());
    }

private:
    void PrintDueNotices(int64_t now)
    {
        if (notices_.empty() || !line_.OutputIdle() ||
            (line_.HostConnected() && now < line_.LastSendMs() + kNoticeDelayMs))
            return;
        for (const std::string& notice : notices_)
            PrintNotice(notice);
        notices_.clear();
    }

    void Wait(int64_t now)
    {
        int64_t wake = -1;
        auto consider = [&wake](int64_t at) {
            if (at >= 0 && (wake < 0 || at < wake))
                wake = at;
        };
        consider(module_.NextRunMs(now));
        if (line_.HostConnected() && line_.CanTakeOutput())
            consider(module_.NextOutputMs());
        if (!notices_.empty() && line_.OutputIdle())
            consider(line_.HostConnected() ? line_.LastSendMs() + kNoticeDelayMs : now);

        std::vector<WaitItem> items;
        line_.AddWaitItems(items);
        size_t inputItem = 0;
        if (options_.exitOnEof) {
            inputItem = items.size();
            items.push_back(WaitItem{0, true, false});
        }
        WaitForDescriptors(items, wake < 0 ? -1 : std::max<int64_t>(0, wake - now));

        line_.Service(SystemClock().NowMs());
        if (options_.exitOnEof && items[inputItem].readable) {
            uint8_t scratch[256];
            if (ReadAvailable(0, scratch, sizeof scratch) == 0)
                finished_ = true; // whoever started us has gone
        }
    }

    const SimOptions& options_;
    SimModule& module_;
    SimLine& line_;
    std::vector<std::string> notices_;
    bool finished_ = false;
};

// The line the command line asks for, announced on standard output once a
// host can reach it; nullptr after printing why not.
std::unique_ptr<SimLine> OpenLine(const SimOptions& options, SimModule& module, std::unique_ptr<TcpListener>& listener)
{
    if (!options.ptyPath.empty()) {
        auto line = std::make_unique<PtyLine>(module, options.ptyPath);
        if (int error = line->Open(); error != 0) {
            EError(ecIDE, 6, options.ptyPath + " (" + SystemErrorText(error) + ")").Print(false);
            return nullptr;
        }
        ConsolePrint("pty %s\n", options.ptyPath.c_str());
        return line;
    }
    listener = std::make_unique<TcpListener>();
    if (int error = listener->Listen(static_cast<uint16_t>(options.listenPort)); error != 0) {
        std::string where = "127.0.0.1:" + std::to_string(options.listenPort) + " (" + SystemErrorText(error) + ")";
        EError(ecIDE, 6, where).Print(false);
        return nullptr;
    }
    ConsolePrint("morvane-sim listening on rfc2217://127.0.0.1:%u\n", static_cast<unsigned>(listener->Port()));
    return std::make_unique<Rfc2217Line>(module, *listener);
}

} // namespace

int RunSimulator(const std::vector<std::string>& args, const WatcherFactory& makeWatcher)
{
    SimOptions options = ParseSimOptions(args);
    if (options.outcome == SimOptions::ocUsage) {
        PrintSimUsage();
        return 0;
    }
    if (options.outcome == SimOptions::ocError) {
        if (!options.error.empty())
            EError(ecIDE, 39, options.error).Print(false);
        PrintSimUsage();
        return 1;
    }

    std::unique_ptr<ModuleWatcher> watcher;
    if (!options.benchFile.empty() || !options.traceFile.empty()) {
        std::string error = "--bench and --trace are not available in this build";
        if (makeWatcher)
            watcher = makeWatcher(options.benchFile, options.traceFile, error);
        if (!watcher) {
            PrintNotice(error);
            return 2;
        }
    }

    SimModule::Options moduleOptions;
    moduleOptions.watcher = watcher.get();
    moduleOptions.paced = options.paced;
    moduleOptions.faults = options.faults;
    if (options.ramBytes != 0)
        moduleOptions.ramBytes = options.ramBytes;
    SimModule module(moduleOptions);
    if (!options.imageFile.empty()) {
        std::vector<uint8_t> image;
        if (ReadWholeFile(options.imageFile, SimModule::kProgramEepromBytes, image) != 0) {
            EError(ecIDE, 2, options.imageFile).Print(false);
            return 1;
        }
        module.LoadProgram(image);
    }

    StopSignals stop;
    IgnoreBrokenPipes();
    std::unique_ptr<TcpListener> listener;
    std::unique_ptr<SimLine> line = OpenLine(options, module, listener);
    if (!line)
        return 1;
    Server server(options, module, *line);
    server.Run();
    // Only a pseudo-terminal fails: no new pair could be made after a hang-up.
    if (line->Failed()) {
        EError(ecIDE, 6, options.ptyPath).Print(false);
        return 1;
    }
    return watcher && !options.benchFile.empty() ? watcher->ExitCode() : 0;
}
