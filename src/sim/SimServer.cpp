#include "sim/SimServer.h"

#include "driver/Console.h"
#include "errors/EError.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/StopSignals.h"
#include "platform/Tcp.h"
#include "sim/Rfc2217Server.h"
#include "sim/SimModule.h"
#include "sim/SimOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// What may wait for a slow client before the module's output stalls (and,
// with it, a program that prints).
constexpr size_t kPendingLimit = 16 * 1024;
// The log lines about a program's end wait until its last bytes have left
// and the host has had time to show them, so that they come after them.
constexpr int64_t kNoticeDelayMs = 250;

void PrintNotice(const std::string& text) { std::fprintf(stderr, "morvane-sim: %s\n", text.c_str()); }

class Server {
public:
    Server(const SimOptions& options, SimModule& module, TcpListener& listener)
        : options_(options), module_(module), listener_(listener), rfc2217_(module)
    {
    }

    void Run()
    {
        Clock& clock = SystemClock();
        module_.PowerOn(clock.NowMs());
        while (!StopSignals::Requested() && !finished_) {
            int64_t now = clock.NowMs();
            module_.Run(now);
            for (SimModule::Notice& notice : module_.TakeNotices()) {
                // Notices keep their order: one waits while an earlier one does.
                if (notice.afterOutput || !notices_.empty())
                    notices_.push_back(std::move(notice.text));
                else
                    PrintNotice(notice.text);
            }
            Transmit(now);
            PrintDueNotices(now);
            Wait(now);
        }
        for (const std::string& notice : notices_)
            PrintNotice(notice);
        if (client_)
            rfc2217_.Close(clock.NowMs());
    }

private:
    size_t Pending() const { return pending_.size() - sent_; }
    bool OutputIdle() const { return !client_ || (Pending() == 0 && module_.OutputQueued() == 0); }

    void Transmit(int64_t now)
    {
        if (!client_)
            return;
        if (Pending() < kPendingLimit) {
            std::vector<uint8_t> bytes = rfc2217_.TakeOutput(now, kPendingLimit - Pending());
            pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        }
        if (Pending() == 0)
            return;
        long n = client_->Send(pending_.data() + sent_, Pending());
        if (n < 0) {
            Disconnect(now);
            return;
        }
        if (n > 0)
            lastSendMs_ = now;
        sent_ += static_cast<size_t>(n);
        if (sent_ == pending_.size()) {
            pending_.clear();
            sent_ = 0;
        }
    }

    void PrintDueNotices(int64_t now)
    {
        if (notices_.empty() || !OutputIdle() || (client_ && now < lastSendMs_ + kNoticeDelayMs))
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
        if (client_ && Pending() < kPendingLimit)
            consider(module_.NextOutputMs());
        if (!notices_.empty() && OutputIdle())
            consider(client_ ? lastSendMs_ + kNoticeDelayMs : now);

        std::vector<WaitItem> items;
        items.push_back(WaitItem{listener_.Fd(), true, false});
        size_t clientItem = 0, inputItem = 0;
        if (client_) {
            clientItem = items.size();
            items.push_back(WaitItem{client_->Fd(), true, Pending() > 0});
        }
        if (options_.exitOnEof) {
            inputItem = items.size();
            items.push_back(WaitItem{0, true, false});
        }
        WaitForDescriptors(items, wake < 0 ? -1 : std::max<int64_t>(0, wake - now));

        now = SystemClock().NowMs();
        // The client's bytes first: they came before any newer connection.
        if (clientItem != 0 && items[clientItem].readable && client_)
            ReceiveFromClient(now);
        if (items[0].readable)
            Accept(now);
        if (inputItem != 0 && items[inputItem].readable) {
            uint8_t scratch[256];
            if (ReadAvailable(0, scratch, sizeof scratch) == 0)
                finished_ = true; // whoever started us has gone
        }
    }

    void Accept(int64_t now)
    {
        int fd;
        while ((fd = listener_.Accept()) >= 0) {
            // A serial line has one other end: the newest client takes it
            // over, as if the cable had been plugged into another computer.
            // A host that reconnects at once (the probe, then the download)
            // must not be turned away by its own connection's last moments.
            if (client_)
                Disconnect(now);
            client_ = std::make_unique<TcpConnection>(fd);
            pending_.clear();
            sent_ = 0;
            rfc2217_.Open(now);
        }
    }

    void ReceiveFromClient(int64_t now)
    {
        uint8_t buffer[4096];
        for (;;) {
            long n = client_->Receive(buffer, sizeof buffer);
            if (n == 0)
                return;
            if (n < 0) {
                Disconnect(now);
                return;
            }
            rfc2217_.Receive(buffer, static_cast<size_t>(n), now);
            if (module_.TakeHangUp()) {
                Disconnect(now);
                return;
            }
        }
    }

    void Disconnect(int64_t now)
    {
        rfc2217_.Close(now);
        client_.reset();
        pending_.clear();
        sent_ = 0;
    }

    const SimOptions& options_;
    SimModule& module_;
    TcpListener& listener_;
    Rfc2217Server rfc2217_;
    std::unique_ptr<TcpConnection> client_;
    std::vector<uint8_t> pending_;
    size_t sent_ = 0;
    int64_t lastSendMs_ = 0;
    std::vector<std::string> notices_;
    bool finished_ = false;
};

} // namespace

int RunSimulator(const std::vector<std::string>& args)
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

    SimModule::Options moduleOptions;
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

    TcpListener listener;
    if (int error = listener.Listen(static_cast<uint16_t>(options.listenPort)); error != 0) {
        std::string where = "127.0.0.1:" + std::to_string(options.listenPort) + " (" + SystemErrorText(error) + ")";
        EError(ecIDE, 6, where).Print(false);
        return 1;
    }
    ConsolePrint("morvane-sim listening on rfc2217://127.0.0.1:%u\n", static_cast<unsigned>(listener.Port()));

    StopSignals stop;
    IgnoreBrokenPipes();
    Server server(options, module, listener);
    server.Run();
    return 0;
}
