#include "serial/FakeSerialPort.h"

#include <algorithm>
#include <cerrno>

void FakeLine::Deliver(const std::vector<uint8_t>& bytes, int64_t atMs)
{
    if (atMs < 0)
        atMs = clock_.NowMs();
    inFlight_.emplace(atMs, bytes);
}

size_t FakeLine::Arrived()
{
    int64_t now = clock_.NowMs();
    for (auto it = inFlight_.begin(); it != inFlight_.end() && it->first <= now;) {
        input_.insert(input_.end(), it->second.begin(), it->second.end());
        it = inFlight_.erase(it);
    }
    return input_.size();
}

int64_t FakeLine::NextArrival() const { return inFlight_.empty() ? -1 : inFlight_.begin()->first; }

namespace {

class FakeSerialPort final : public SerialPort {
public:
    FakeSerialPort(std::string name, FakeLine& line) : name_(std::move(name)), line_(line) {}
    ~FakeSerialPort() override { Close(); }
    FakeSerialPort(const FakeSerialPort&) = delete;
    FakeSerialPort& operator=(const FakeSerialPort&) = delete;

    const std::string& Name() const override { return name_; }

    int Open() override
    {
        if (line_.openError != 0)
            return error_ = line_.openError;
        open_ = true;
        ++line_.opens;
        return 0;
    }

    void Close() override
    {
        if (open_)
            ++line_.closes;
        open_ = false;
    }

    bool IsOpen() const override { return open_; }

    bool Configure(const SerialLineSettings& settings) override
    {
        line_.settings = settings;
        SetDTR(settings.dtrOn);
        if (!settings.rtsCtsFlow)
            SetRTS(false);
        return true;
    }

    long Read(uint8_t* buffer, size_t size, int64_t timeoutMs) override
    {
        if (line_.broken)
            return Broken();
        if (line_.Arrived() == 0 && timeoutMs != kNoWait && WaitReadable(timeoutMs) <= 0)
            return line_.broken ? -1 : 0;
        std::vector<uint8_t>& input = line_.Input();
        size_t n = std::min(size, input.size());
        std::copy_n(input.begin(), n, buffer);
        input.erase(input.begin(), input.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }

    int WaitReadable(int64_t timeoutMs) override
    {
        ++line_.waits;
        if (line_.broken)
            return Broken();
        if (line_.Arrived() > 0)
            return 1;
        int64_t next = line_.NextArrival();
        FakeClock& clock = line_.ClockOf();
        if (next >= 0 && (timeoutMs < 0 || next <= clock.NowMs() + timeoutMs)) {
            clock.Set(std::max(next, clock.NowMs()));
            line_.Arrived();
            return 1;
        }
        // Nothing will come in time: the whole wait passes.
        clock.Advance(timeoutMs < 0 ? 1000000 : timeoutMs);
        return 0;
    }

    long Write(const uint8_t* data, size_t size, int64_t /*timeoutMs*/) override
    {
        size_t n = size;
        if (line_.writeLimit >= 0)
            n = std::min(size, static_cast<size_t>(line_.writeLimit));
        for (size_t i = 0; i < n; ++i) {
            line_.written.push_back(data[i]);
            if (line_.onHostByte)
                line_.onHostByte(data[i]);
        }
        if (n < size)
            error_ = ETIMEDOUT;
        return static_cast<long>(n);
    }

    bool SetDTR(bool on) override
    {
        bool changed = line_.dtr != on;
        line_.dtr = on;
        if (changed && line_.onDtr)
            line_.onDtr(on);
        return true;
    }

    bool SetRTS(bool on) override
    {
        bool changed = line_.rts != on;
        line_.rts = on;
        if (changed && line_.onRts)
            line_.onRts(on);
        return true;
    }

    bool ReadDSR(bool& on) override
    {
        on = line_.dsrKnown && line_.dsr;
        return line_.dsrKnown;
    }

    long InputWaiting() override
    {
        if (line_.broken)
            return Broken();
        return static_cast<long>(line_.Arrived());
    }

    long OutputWaiting() override { return 0; }

    void Purge(bool input, bool /*output*/) override
    {
        ++line_.purges;
        if (input) {
            line_.Arrived();
            line_.Input().clear();
        }
    }

    void Pause(int64_t ms) override { line_.ClockOf().Advance(ms); }

    int LastError() const override { return error_; }

private:
    long Broken()
    {
        error_ = EIO;
        return -1;
    }

    std::string name_;
    FakeLine& line_;
    bool open_ = false;
    int error_ = 0;
};

} // namespace

std::unique_ptr<SerialPort> MakeFakeSerialPort(const std::string& name, FakeLine& line)
{
    return std::make_unique<FakeSerialPort>(name, line);
}

SerialPortFactory FakePortFactory(std::map<std::string, FakeLine*> lines)
{
    return [lines](const std::string& name) -> std::unique_ptr<SerialPort> {
        auto it = lines.find(name);
        if (it == lines.end())
            return nullptr;
        return MakeFakeSerialPort(name, *it->second);
    };
}
