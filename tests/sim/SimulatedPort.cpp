#include "sim/SimulatedPort.h"

#include <algorithm>

SimulatedLine::SimulatedLine(FakeClock& clockIn, const SimModule::Options& options) : clock(clockIn), module(options)
{
    module.PowerOn(clock.NowMs());
}

void SimulatedLine::Collect()
{
    // A running program has more to do at the same moment: give it slices
    // until it waits or sleeps.
    for (int slice = 0; slice < 100; ++slice) {
        int64_t now = clock.NowMs();
        module.Run(now);
        std::vector<uint8_t> bytes = module.TakeOutput(now);
        input.insert(input.end(), bytes.begin(), bytes.end());
        if (module.NextRunMs(now) != now)
            break;
    }
}

void SimulatedLine::AdvanceTo(int64_t untilMs, bool untilInput)
{
    for (;;) {
        Collect();
        int64_t now = clock.NowMs();
        if ((untilInput && !input.empty()) || now >= untilMs)
            return;
        int64_t next = untilMs;
        for (int64_t at : {module.NextRunMs(now), module.NextOutputMs()})
            if (at >= 0 && at < next)
                next = at;
        // A program that computes without end still lets time pass.
        clock.Set(std::max(next, now + 1));
    }
}

namespace {

class SimulatedPort final : public SerialPort {
public:
    SimulatedPort(std::string name, SimulatedLine& line) : name_(std::move(name)), line_(line) {}
    ~SimulatedPort() override { Close(); }

    const std::string& Name() const override { return name_; }
    int Open() override
    {
        open_ = true;
        line_.module.SetConnected(true, line_.clock.NowMs());
        return 0;
    }
    void Close() override
    {
        if (open_)
            line_.module.SetConnected(false, line_.clock.NowMs());
        open_ = false;
        line_.input.clear();
    }
    bool IsOpen() const override { return open_; }
    bool Configure(const SerialLineSettings& settings) override
    {
        line_.module.SetDtr(settings.dtrOn, line_.clock.NowMs());
        line_.module.SetRts(settings.rtsCtsFlow);
        return true;
    }
    long Read(uint8_t* buffer, size_t size, int64_t timeoutMs) override
    {
        if (timeoutMs != kNoWait)
            WaitReadable(timeoutMs);
        line_.Collect();
        size_t n = std::min(size, line_.input.size());
        std::copy_n(line_.input.begin(), n, buffer);
        line_.input.erase(line_.input.begin(), line_.input.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }
    int WaitReadable(int64_t timeoutMs) override
    {
        int64_t now = line_.clock.NowMs();
        line_.AdvanceTo(timeoutMs < 0 ? now + 3600000 : now + timeoutMs, true);
        return line_.input.empty() ? 0 : 1;
    }
    long Write(const uint8_t* data, size_t size, int64_t) override
    {
        line_.module.ReceiveFromHost(data, size, line_.clock.NowMs());
        line_.Collect();
        return static_cast<long>(size);
    }
    bool SetDTR(bool on) override
    {
        line_.module.SetDtr(on, line_.clock.NowMs());
        return true;
    }
    bool SetRTS(bool on) override
    {
        line_.module.SetRts(on);
        return true;
    }
    bool ReadDSR(bool& on) override
    {
        on = line_.module.Dsr();
        return true;
    }
    long InputWaiting() override
    {
        line_.Collect();
        return static_cast<long>(line_.input.size());
    }
    long OutputWaiting() override { return 0; }
    void Purge(bool input, bool) override
    {
        if (input) {
            line_.Collect();
            line_.input.clear();
        }
    }
    void Pause(int64_t ms) override { line_.AdvanceTo(line_.clock.NowMs() + ms); }
    int LastError() const override { return 0; }

private:
    std::string name_;
    SimulatedLine& line_;
    bool open_ = false;
};

} // namespace

std::unique_ptr<SerialPort> MakeSimulatedPort(const std::string& name, SimulatedLine& line)
{
    return std::make_unique<SimulatedPort>(name, line);
}
