// A serial line behind a device server, reached over TCP with the Telnet COM
// port option (RFC 2217): "rfc2217://HOST:PORT".

#include "platform/Clock.h"
#include "platform/Rfc2217Codec.h"
#include "platform/SerialPort.h"
#include "platform/Tcp.h"

#include <algorithm>
#include <cerrno>

namespace {

// A device server answers within milliseconds on a LAN; these bound what a
// dead host or a port that speaks no Telnet can cost one probe.
constexpr int64_t kConnectTimeoutMs = 3000;
constexpr int64_t kNegotiationTimeoutMs = 2000;
// What we keep of data nobody reads, like a UART's receive queue.
constexpr size_t kMaxBuffered = 1 << 20;

class Rfc2217Port final : public RecordingSerialPort {
public:
    Rfc2217Port(std::string name, std::string host, uint16_t port)
        : name_(std::move(name)), host_(std::move(host)), port_(port)
    {
    }
    ~Rfc2217Port() override { Close(); }
    Rfc2217Port(const Rfc2217Port&) = delete;
    Rfc2217Port& operator=(const Rfc2217Port&) = delete;

    const std::string& Name() const override { return name_; }

    int Open() override
    {
        if (socket_)
            return 0;
        int error = TcpConnection::Connect(host_, port_, kConnectTimeoutMs, socket_);
        if (error != 0)
            return Fail(error);
        broken_ = false;
        input_.clear();
        head_ = 0;
        modemState_ = -1;
        codec_ = TelnetCodec{};
        using namespace telnet;
        codec_.AcceptSerialLineOptions();
        // Binary both ways, or a server may turn CR into CR NUL; go-ahead
        // suppressed, as every device server expects of a raw line.
        codec_.Request(kOptionBinary, true, true);
        codec_.Request(kOptionBinary, false, true);
        codec_.Request(kOptionSuppressGoAhead, true, true);
        codec_.Request(kOptionSuppressGoAhead, false, true);
        codec_.Request(kOptionComPort, true, true);
        if (!SendOutput(kNegotiationTimeoutMs)) {
            int failed = error_;
            Close();
            return Fail(failed);
        }
        // Servers differ in which side of the option they confirm; either
        // one means they will take our line settings.
        int64_t deadline = SystemClock().NowMs() + kNegotiationTimeoutMs;
        while (!broken_ && !(ComPortAgreed() && !codec_.Pending(kOptionBinary, true) && !codec_.Pending(kOptionBinary, false))) {
            if (!codec_.Pending(kOptionComPort, true) && !ComPortAgreed())
                break; // refused
            int64_t left = deadline - SystemClock().NowMs();
            if (left <= 0)
                break;
            Pump(left);
        }
        if (!ComPortAgreed()) {
            int failed = broken_ ? error_ : EPROTONOSUPPORT;
            Close();
            return Fail(failed);
        }
        // Only DSR matters to us; its change bit makes a server that reports
        // on changes report the drop as well as the rise.
        codec_.SendComPort(rfc2217::kSetModemStateMask, {rfc2217::kModemDsr | rfc2217::kModemDeltaDsr});
        SendOutput(kNegotiationTimeoutMs);
        return 0;
    }

    void Close() override
    {
        socket_.reset();
        input_.clear();
        head_ = 0;
    }

    bool IsOpen() const override { return socket_ != nullptr; }

    bool Configure(const SerialLineSettings& settings) override
    {
        if (!socket_)
            return Failed(EBADF);
        using namespace rfc2217;
        codec_.SendComPort(kSetBaudRate, BaudRateValue(static_cast<uint32_t>(settings.baudRate)));
        codec_.SendComPort(kSetDataSize, {static_cast<uint8_t>(settings.dataBits)});
        uint8_t parity = kParityNone;
        switch (settings.parity) {
        case SerialParity::None: parity = kParityNone; break;
        case SerialParity::Odd: parity = kParityOdd; break;
        case SerialParity::Even: parity = kParityEven; break;
        case SerialParity::Mark: parity = kParityMark; break;
        case SerialParity::Space: parity = kParitySpace; break;
        }
        codec_.SendComPort(kSetParity, {parity});
        uint8_t stop = settings.stopBits == SerialStopBits::One ? kStopOne
                       : settings.stopBits == SerialStopBits::Two ? kStopTwo
                                                                  : kStopOneAndHalf;
        codec_.SendComPort(kSetStopSize, {stop});
        uint8_t flow = settings.rtsCtsFlow ? kControlRtsCtsFlow : settings.xonXoffFlow ? kControlXonXoffFlow : kControlNoFlow;
        codec_.SendComPort(kSetControl, {flow});
        codec_.SendComPort(kSetControl, {settings.dtrOn ? kControlDtrOn : kControlDtrOff});
        if (!settings.rtsCtsFlow)
            codec_.SendComPort(kSetControl, {kControlRtsOff});
        return SendOutput(kNegotiationTimeoutMs);
    }

    long Read(uint8_t* buffer, size_t size, int64_t timeoutMs) override
    {
        if (!socket_)
            return Broken(EBADF);
        if (Buffered() == 0 && timeoutMs != kNoWait) {
            int ready = WaitReadable(timeoutMs);
            if (ready <= 0)
                return ready;
        } else {
            PumpAvailable();
        }
        if (Buffered() == 0)
            return broken_ ? -1 : 0;
        size_t n = std::min(size, Buffered());
        std::copy_n(input_.begin() + static_cast<long>(head_), n, buffer);
        head_ += n;
        if (head_ == input_.size()) {
            input_.clear();
            head_ = 0;
        } else if (head_ > 4096 && head_ > input_.size() / 2) {
            input_.erase(input_.begin(), input_.begin() + static_cast<long>(head_));
            head_ = 0;
        }
        return static_cast<long>(n);
    }

    int WaitReadable(int64_t timeoutMs) override
    {
        if (!socket_)
            return Broken(EBADF);
        PumpAvailable();
        int64_t deadline = timeoutMs < 0 ? -1 : SystemClock().NowMs() + timeoutMs;
        // Telnet commands wake the wait too, so wait until data proper is there.
        while (Buffered() == 0) {
            if (broken_)
                return -1;
            int64_t left = deadline < 0 ? -1 : deadline - SystemClock().NowMs();
            if (deadline >= 0 && left <= 0)
                return 0;
            // A server that hung up while we waited is a failed line now,
            // not a time-out the caller would have to ask about again.
            if (!Pump(left))
                return broken_ ? -1 : 0; // else a time-out or a signal: the caller looks at its clock
        }
        return 1;
    }

    long Write(const uint8_t* data, size_t size, int64_t timeoutMs) override
    {
        if (!socket_ || broken_)
            return Broken(!socket_ ? EBADF : error_);
        codec_.SendData(data, size);
        size_t sent = 0;
        if (SendOutput(timeoutMs, &sent))
            return static_cast<long>(size);
        // Count the data bytes whose whole encoding went out.
        size_t encoded = 0, whole = 0;
        for (size_t i = 0; i < size; ++i) {
            encoded += data[i] == telnet::kIAC ? 2 : 1;
            if (encoded > sent)
                break;
            whole = i + 1;
        }
        // Half a sequence on the wire leaves the stream beyond repair.
        broken_ = true;
        return whole > 0 ? static_cast<long>(whole) : -1;
    }

    bool SetDTR(bool on) override
    {
        if (!socket_)
            return Failed(EBADF);
        codec_.SendComPort(rfc2217::kSetControl, {on ? rfc2217::kControlDtrOn : rfc2217::kControlDtrOff});
        return SendOutput(kNegotiationTimeoutMs);
    }

    bool SetRTS(bool on) override
    {
        if (!socket_)
            return Failed(EBADF);
        codec_.SendComPort(rfc2217::kSetControl, {on ? rfc2217::kControlRtsOn : rfc2217::kControlRtsOff});
        // Some servers look at the modem lines only about once a second;
        // asking for the state now gets the answer within the settle time
        // the caller waits before it reads DSR.
        codec_.SendComPort(rfc2217::kNotifyModemState, {});
        return SendOutput(kNegotiationTimeoutMs);
    }

    bool ReadDSR(bool& on) override
    {
        on = false;
        if (!socket_)
            return Failed(EBADF);
        PumpAvailable();
        if (modemState_ < 0)
            return Failed(ENODATA); // never reported: no DSR to go by
        on = (modemState_ & rfc2217::kModemDsr) != 0;
        return true;
    }

    long InputWaiting() override
    {
        if (!socket_)
            return Broken(EBADF);
        PumpAvailable();
        if (Buffered() == 0 && broken_)
            return -1;
        return static_cast<long>(Buffered());
    }

    long OutputWaiting() override
    {
        if (!socket_)
            return Broken(EBADF);
        long count = socket_->OutputQueued();
        return count < 0 ? Broken(socket_->Error()) : count;
    }

    void Purge(bool input, bool output) override
    {
        if (!socket_ || (!input && !output))
            return;
        codec_.SendComPort(rfc2217::kPurgeData, {input && output ? rfc2217::kPurgeBoth
                                                 : input         ? rfc2217::kPurgeReceive
                                                                 : rfc2217::kPurgeTransmit});
        SendOutput(kNegotiationTimeoutMs);
        if (input) {
            PumpAvailable();
            input_.clear();
            head_ = 0;
        }
    }

    void Pause(int64_t ms) override
    {
        if (!socket_ || broken_) {
            SystemClock().SleepMs(ms);
            return;
        }
        int64_t deadline = SystemClock().NowMs() + ms;
        for (int64_t left = ms; left > 0; left = deadline - SystemClock().NowMs()) {
            if (broken_) {
                SystemClock().SleepMs(left);
                break;
            }
            Pump(left);
        }
    }

private:
    size_t Buffered() const { return input_.size() - head_; }

    bool ComPortAgreed() const
    {
        return codec_.Enabled(telnet::kOptionComPort, true) || codec_.Enabled(telnet::kOptionComPort, false);
    }

    // Sends what the codec has queued; waits for room up to `timeoutMs` of
    // no progress. `sent` receives the bytes that went out.
    bool SendOutput(int64_t timeoutMs, size_t* sent = nullptr)
    {
        std::vector<uint8_t> out = codec_.TakeOutput();
        size_t done = 0;
        while (done < out.size()) {
            long n = socket_->Send(out.data() + done, out.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0) {
                error_ = socket_->Error();
                broken_ = true;
                break;
            }
            int ready = socket_->Wait(true, timeoutMs);
            if (ready == 0) {
                error_ = ETIMEDOUT;
                break;
            }
            if (ready < 0) {
                error_ = socket_->Error();
                break;
            }
        }
        if (sent != nullptr)
            *sent = done;
        return done == out.size();
    }

    // Waits up to `timeoutMs` for bytes from the server and takes in what
    // came. False when nothing came (time-out or a signal).
    bool Pump(int64_t timeoutMs)
    {
        if (broken_)
            return false;
        if (Buffered() >= kMaxBuffered) {
            SystemClock().SleepMs(timeoutMs < 0 ? 0 : timeoutMs);
            return false;
        }
        int ready = socket_->Wait(false, timeoutMs);
        if (ready <= 0) {
            if (ready < 0) {
                error_ = socket_->Error();
                broken_ = true;
            }
            return false;
        }
        return Receive();
    }

    void PumpAvailable()
    {
        while (!broken_ && Buffered() < kMaxBuffered && Receive()) {
        }
    }

    // One non-blocking receive, fed through the codec. False when nothing
    // was there.
    bool Receive()
    {
        uint8_t chunk[4096];
        long n = socket_->Receive(chunk, sizeof chunk);
        if (n == 0)
            return false;
        if (n < 0) {
            error_ = socket_->Error(); // ECONNRESET: the server went away, like an unplugged line
            broken_ = true;
            return false;
        }
        for (TelnetEvent& event : codec_.Feed(chunk, static_cast<size_t>(n))) {
            ComPortMessage message;
            if (event.kind == TelnetEvent::evData) {
                if (head_ > 0 && head_ == input_.size()) {
                    input_.clear();
                    head_ = 0;
                }
                input_.insert(input_.end(), event.bytes.begin(), event.bytes.end());
            } else if (ParseComPortMessage(event, message) &&
                       message.command == rfc2217::kNotifyModemState + rfc2217::kServerOffset && !message.value.empty()) {
                modemState_ = message.value[0];
            }
        }
        // Answers to the server's negotiation go out at once.
        SendOutput(kNegotiationTimeoutMs);
        return true;
    }

    std::string name_;
    std::string host_;
    uint16_t port_;
    std::unique_ptr<TcpConnection> socket_;
    bool broken_ = false;
    TelnetCodec codec_;
    std::vector<uint8_t> input_;
    size_t head_ = 0;
    int modemState_ = -1; // last reported modem state; -1 before the first report
};

} // namespace

std::unique_ptr<SerialPort> MakeRfc2217Port(const std::string& name, const std::string& host, uint16_t port)
{
    return std::make_unique<Rfc2217Port>(name, host, port);
}
