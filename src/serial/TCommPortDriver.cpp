#include "serial/TCommPortDriver.h"

#include "platform/Clock.h"
#include "platform/EventLoop.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

constexpr int kBaudRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 56000, 57600, 115200};

} // namespace

int BaudRateOf(TComPortBaudRate rate)
{
    int index = static_cast<int>(rate);
    if (index < 0 || index >= static_cast<int>(std::size(kBaudRates)))
        return 0;
    return kBaudRates[index];
}

int DelayForRX(TComPortBaudRate rate, int count)
{
    int baud = BaudRateOf(rate);
    if (baud <= 0)
        return 0;
    // nearbyint rounds halves to even in the default rounding mode.
    return static_cast<int>(std::nearbyint(count / (baud / 10.0) * 1000.0));
}

TCommPortDriver::TCommPortDriver() : TCommPortDriver(SystemClock(), MainEventLoop(), CreateSerialPort) {}

TCommPortDriver::TCommPortDriver(Clock& clock, EventLoop& loop, SerialPortFactory factory)
    : clock_(clock), loop_(loop), factory_(std::move(factory))
{
    AllocateReceiveBuffer(inBufSize_);
}

TCommPortDriver::~TCommPortDriver() { Disconnect(); }

void TCommPortDriver::SetComPort(TComPortNumber port)
{
    if (!Connected())
        comPort_ = port;
}

void TCommPortDriver::SetComPortName(const std::string& name)
{
    if (!Connected())
        comPortName_ = name;
}

std::string TCommPortDriver::PortName() const
{
    if (!comPortName_.empty())
        return comPortName_;
    return "COM" + std::to_string(static_cast<int>(comPort_) + 1);
}

void TCommPortDriver::Reapply()
{
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetComPortSpeed(TComPortBaudRate speed)
{
    speed_ = speed;
    Reapply();
}

void TCommPortDriver::SetComPortDataBits(TComPortDataBits bits)
{
    dataBits_ = bits;
    Reapply();
}

void TCommPortDriver::SetComPortStopBits(TComPortStopBits bits)
{
    stopBits_ = bits;
    Reapply();
}

void TCommPortDriver::SetComPortParity(TComPortParity parity)
{
    parity_ = parity;
    Reapply();
}

void TCommPortDriver::SetComPortHwHandshaking(TComPortHwHandshaking handshaking)
{
    hwHandshaking_ = handshaking;
    Reapply();
}

void TCommPortDriver::SetComPortSwHandshaking(TComPortSwHandshaking handshaking)
{
    swHandshaking_ = handshaking;
    Reapply();
}

void TCommPortDriver::AllocateReceiveBuffer(size_t size) { receiveBuffer_.assign(size, 0); }

void TCommPortDriver::SetComPortInBufSize(uint16_t size)
{
    if (Connected())
        return;
    inBufSize_ = size;
    AllocateReceiveBuffer(size);
    SetPacketSize(packetSize_);
}

void TCommPortDriver::SetComPortOutBufSize(uint16_t size)
{
    if (!Connected())
        outBufSize_ = size;
}

void TCommPortDriver::SetPacketSize(int16_t size)
{
    if (size < 1) {
        packetSize_ = -1;
        return;
    }
    // The buffer grows even while connected: the poll step reads whole
    // packets into it, and a packet larger than the buffer would overrun it.
    if (size > inBufSize_) {
        inBufSize_ = static_cast<uint16_t>(2 * size);
        AllocateReceiveBuffer(inBufSize_);
    }
    packetSize_ = size;
}

void TCommPortDriver::SetPacketTimeout(int32_t timeoutMs)
{
    if (timeoutMs < 1)
        packetTimeout_ = -1;
    else if (timeoutMs < pollingDelay_)
        packetTimeout_ = pollingDelay_ + 250;
    else
        packetTimeout_ = timeoutMs;
}

void TCommPortDriver::SetComPortPollingDelay(uint16_t delayMs)
{
    if (delayMs == pollingDelay_)
        return;
    bool running = Connected();
    if (running)
        StopTimer();
    pollingDelay_ = delayMs;
    if (running)
        StartTimer();
    SetPacketTimeout(packetTimeout_);
}

void TCommPortDriver::StartTimer()
{
    if (timerId_ == 0)
        timerId_ = loop_.AddTimer(pollingDelay_, [this] { PollStep(); });
}

void TCommPortDriver::StopTimer()
{
    if (timerId_ != 0)
        loop_.RemoveTimer(timerId_);
    timerId_ = 0;
}

bool TCommPortDriver::Connect()
{
    if (Connected())
        return true;
    std::unique_ptr<SerialPort> port = factory_ ? factory_(PortName()) : nullptr;
    if (port == nullptr) {
        lastError_ = ENODEV;
        return false;
    }
    int error = port->Open();
    if (error != 0) {
        lastError_ = error;
        return false;
    }
    port_ = std::move(port);
    lineFailed_ = false;
    ApplyCOMSettings();
    StartTimer();
    return true;
}

void TCommPortDriver::Disconnect()
{
    if (!Connected())
        return;
    StopTimer();
    port_->Close();
    port_.reset();
}

void TCommPortDriver::SetComHandle(std::unique_ptr<SerialPort> port)
{
    if (port != nullptr && port.get() == port_.get())
        return;
    Disconnect();
    if (port == nullptr)
        return;
    port_ = std::move(port);
    StartTimer();
}

SerialLineSettings TCommPortDriver::LineSettings() const
{
    SerialLineSettings settings;
    settings.baudRate = BaudRateOf(speed_);
    settings.dataBits = static_cast<int>(dataBits_) + 5;
    static constexpr SerialParity kParities[] = {SerialParity::None, SerialParity::Odd, SerialParity::Even,
                                                 SerialParity::Mark, SerialParity::Space};
    settings.parity = kParities[std::clamp(static_cast<int>(parity_), 0, 4)];
    settings.stopBits = stopBits_ == sb1BITS       ? SerialStopBits::One
                        : stopBits_ == sb1HALFBITS ? SerialStopBits::OneAndHalf
                                                   : SerialStopBits::Two;
    settings.rtsCtsFlow = hwHandshaking_ == hhRTSCTS;
    settings.xonXoffFlow = swHandshaking_ == shXONXOFF;
    settings.dtrOn = enableDtrOnOpen_;
    return settings;
}

void TCommPortDriver::ApplyCOMSettings()
{
    if (!Connected())
        return;
    port_->Configure(LineSettings());
    FlushBuffers(true, true);
}

void TCommPortDriver::FlushBuffers(bool inBuf, bool outBuf)
{
    if (!Connected())
        return;
    port_->Purge(inBuf, outBuf);
    packetStartMs_ = -1;
}

uint16_t TCommPortDriver::OutFreeSpace()
{
    if (!Connected())
        return 65535;
    long queued = port_->OutputWaiting();
    return static_cast<uint16_t>(outBufSize_ - static_cast<uint16_t>(queued < 0 ? 0 : queued));
}

int32_t TCommPortDriver::CharCount()
{
    if (!Connected())
        return -1;
    long waiting = port_->InputWaiting();
    if (waiting < 0) {
        lastError_ = port_->LastError();
        return -1;
    }
    return static_cast<int32_t>(std::min<long>(waiting, INT32_MAX));
}

int32_t TCommPortDriver::SendData(const uint8_t* dataPtr, int32_t dataSize)
{
    if (!Connected() || dataSize <= 0)
        return 0;
    long written = port_->Write(dataPtr, static_cast<size_t>(dataSize), outputTimeout_);
    if (written < 0) {
        lastError_ = port_->LastError();
        return 0;
    }
    if (written < dataSize) {
        lastError_ = port_->LastError();
        // A line that stalled for OutputTimeout: the count, negated.
        return lastError_ == ETIMEDOUT ? -static_cast<int32_t>(written) : static_cast<int32_t>(written);
    }
    return static_cast<int32_t>(written);
}

bool TCommPortDriver::SendString(const std::string& text)
{
    int32_t size = static_cast<int32_t>(text.size());
    return SendData(reinterpret_cast<const uint8_t*>(text.data()), size) == size;
}

bool TCommPortDriver::SendZString(const char* text)
{
    int32_t size = static_cast<int32_t>(std::strlen(text));
    return SendData(reinterpret_cast<const uint8_t*>(text), size) == size;
}

bool TCommPortDriver::ReadChar(uint8_t& c)
{
    if (!Connected()) {
        lastError_ = EBADF;
        return true;
    }
    long n = port_->Read(&c, 1, SerialPort::kNoWait);
    if (n == 1)
        return false;
    lastError_ = n < 0 ? port_->LastError() : EAGAIN;
    return true;
}

void TCommPortDriver::ToggleDTR(bool onOff)
{
    if (Connected())
        port_->SetDTR(onOff);
}

void TCommPortDriver::ToggleRTS(bool onOff)
{
    if (Connected())
        port_->SetRTS(onOff);
}

bool TCommPortDriver::ReadDSR()
{
    bool on = false;
    return Connected() && port_->ReadDSR(on) && on;
}

int32_t TCommPortDriver::WaitForData(int64_t deadlineMs)
{
    if (!Connected()) {
        lastError_ = EBADF;
        return -1;
    }
    for (;;) {
        int32_t waiting = CharCount();
        if (waiting != 0)
            return waiting;
        int64_t left = deadlineMs - clock_.NowMs();
        if (left <= 0)
            return 0;
        if (port_->WaitReadable(left) < 0) {
            lastError_ = port_->LastError();
            return -1;
        }
    }
}

void TCommPortDriver::Pause(int64_t ms)
{
    if (Connected())
        port_->Pause(ms);
    else
        clock_.SleepMs(ms);
}

int64_t TCommPortDriver::NowMs() const { return clock_.NowMs(); }

int TCommPortDriver::LastError() const { return lastError_; }

long TCommPortDriver::ReadNow(size_t count)
{
    count = std::min(count, receiveBuffer_.size());
    if (count == 0)
        return 0;
    long n = port_->Read(receiveBuffer_.data(), count, SerialPort::kNoWait);
    if (n < 0) {
        lastError_ = port_->LastError();
        lineFailed_ = true;
    }
    return n;
}

void TCommPortDriver::PollStep()
{
    if (!Connected() || !onReceiveData_)
        return;
    long waiting = std::max<long>(port_->InputWaiting(), 0);
    if (packetSize_ < 1) {
        long n = ReadNow(receiveBuffer_.size());
        if (n > 0)
            onReceiveData_(*this, receiveBuffer_.data(), static_cast<int32_t>(n));
        return;
    }
    int64_t now = clock_.NowMs();
    if (waiting >= packetSize_) {
        int64_t start = now;
        // A packet that arrived whole within one tick has waited no time.
        if (packetStartMs_ < 0)
            packetStartMs_ = start;
        while (waiting >= packetSize_) {
            long n = ReadNow(static_cast<size_t>(packetSize_));
            if (n > 0 && onReceivePacket_)
                onReceivePacket_(*this, receiveBuffer_.data(), static_cast<int32_t>(n),
                                 static_cast<int32_t>(start - packetStartMs_));
            if (!Connected() || packetSize_ < 1)
                return; // the handler closed the port or left packet mode
            if (waiting > packetSize_) {
                int delay = DelayForRX(speed_, packetSize_);
                start += delay;
                packetStartMs_ += delay;
            }
            waiting -= packetSize_;
            if (waiting == 0)
                packetStartMs_ = -1;
        }
        return;
    }
    if (packetTimeout_ > 0 && packetStartMs_ != -1 && now - packetStartMs_ > packetTimeout_) {
        long n = ReadNow(static_cast<size_t>(waiting));
        if (n > 0 && packetMode_ == pmPass && onReceivePacket_)
            onReceivePacket_(*this, receiveBuffer_.data(), static_cast<int32_t>(n),
                             static_cast<int32_t>(now - packetStartMs_));
        packetStartMs_ = -1;
        return;
    }
    if (waiting > 0 && packetStartMs_ == -1)
        packetStartMs_ = now;
}
