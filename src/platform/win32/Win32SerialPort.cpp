// A COM port through the Win32 communication services.

#include "platform/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <vector>
#include <windows.h>

namespace {

// A wait for ever is made of waits this long.
constexpr DWORD kLongWaitMs = 3600 * 1000;
// Writes go out in pieces, so that the time-out bounds a stall of the line
// and not the time a long block takes.
constexpr DWORD kWriteChunk = 512;

class Win32SerialPort final : public RecordingSerialPort {
public:
    Win32SerialPort(std::string name, std::string device) : name_(std::move(name)), device_(std::move(device)) {}
    ~Win32SerialPort() override { Close(); }
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    const std::string& Name() const override { return name_; }

    int Open() override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            return 0;
        // Not shared: a port another program holds is refused
        // (ERROR_ACCESS_DENIED), as the port search expects.
        HANDLE handle = CreateFileA(device_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return Fail(static_cast<int>(GetLastError()));
        // DTR is the module's reset line: down before anything else, so the
        // pulse an open may give stays as short as we can make it.
        EscapeCommFunction(handle, CLRDTR);
        handle_ = handle;
        timeoutsSet_ = false;
        lookahead_.clear();
        return 0;
    }

    void Close() override
    {
        if (handle_ == INVALID_HANDLE_VALUE)
            return;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        lookahead_.clear();
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    bool Configure(const SerialLineSettings& settings) override
    {
        if (!IsOpen())
            return Failed(ERROR_INVALID_HANDLE);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(handle_, &dcb); // keeps what the driver alone knows (its EOF and event characters)
        dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
        dcb.fBinary = TRUE;
        dcb.fParity = settings.parity != SerialParity::None;
        dcb.fOutxCtsFlow = settings.rtsCtsFlow;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = settings.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fTXContinueOnXoff = FALSE;
        dcb.fOutX = settings.xonXoffFlow;
        dcb.fInX = settings.xonXoffFlow;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fRtsControl = settings.rtsCtsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = FALSE;
        dcb.XonLim = static_cast<WORD>(settings.inQueueBytes / 4);
        dcb.XoffLim = 1;
        dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
        switch (settings.parity) {
        case SerialParity::None: dcb.Parity = NOPARITY; break;
        case SerialParity::Odd: dcb.Parity = ODDPARITY; break;
        case SerialParity::Even: dcb.Parity = EVENPARITY; break;
        case SerialParity::Mark: dcb.Parity = MARKPARITY; break;
        case SerialParity::Space: dcb.Parity = SPACEPARITY; break;
        }
        dcb.StopBits = settings.stopBits == SerialStopBits::One   ? ONESTOPBIT
                       : settings.stopBits == SerialStopBits::Two ? TWOSTOPBITS
                                                                  : ONE5STOPBITS;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        bool ok = SetCommState(handle_, &dcb);
        if (!ok)
            error_ = static_cast<int>(GetLastError());
        SetupComm(handle_, static_cast<DWORD>(settings.inQueueBytes), static_cast<DWORD>(settings.outQueueBytes));
        return ok;
    }

    long Read(uint8_t* buffer, size_t size, int64_t timeoutMs) override
    {
        if (!IsOpen())
            return Broken(ERROR_INVALID_HANDLE);
        if (size == 0)
            return 0;
        if (!lookahead_.empty()) {
            size_t n = std::min(size, lookahead_.size());
            std::copy_n(lookahead_.begin(), n, buffer);
            lookahead_.erase(lookahead_.begin(), lookahead_.begin() + static_cast<long>(n));
            long more = n < size ? ReadWithin(buffer + n, size - n, SerialPort::kNoWait) : 0;
            return static_cast<long>(n) + std::max(more, 0L);
        }
        return ReadWithin(buffer, size, timeoutMs);
    }

    // The first byte is read ahead and kept: the communication services
    // wait for data only inside a read.
    int WaitReadable(int64_t timeoutMs) override
    {
        if (!IsOpen())
            return Broken(ERROR_INVALID_HANDLE);
        if (!lookahead_.empty())
            return 1;
        long waiting = QueuedInput();
        if (waiting != 0)
            return waiting > 0 ? 1 : -1;
        uint8_t byte = 0;
        long n = ReadWithin(&byte, 1, timeoutMs);
        if (n == 1)
            lookahead_.push_back(byte);
        return n > 0 ? 1 : static_cast<int>(n);
    }

    long Write(const uint8_t* data, size_t size, int64_t timeoutMs) override
    {
        if (!IsOpen())
            return Broken(ERROR_INVALID_HANDLE);
        size_t done = 0;
        while (done < size) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, kWriteChunk));
            if (!SetTimeouts(readTimeouts_, timeoutMs <= 0 ? 0 : static_cast<DWORD>(std::min<int64_t>(timeoutMs, kLongWaitMs))))
                return done > 0 ? static_cast<long>(done) : -1;
            DWORD written = 0;
            if (!WriteFile(handle_, data + done, chunk, &written, nullptr)) {
                error_ = static_cast<int>(GetLastError());
                return done > 0 ? static_cast<long>(done) : -1;
            }
            done += written;
            if (written < chunk) {
                error_ = ETIMEDOUT; // the line stalled for the whole time-out
                break;
            }
        }
        return static_cast<long>(done);
    }

    bool SetDTR(bool on) override { return Escape(on ? SETDTR : CLRDTR); }
    bool SetRTS(bool on) override { return Escape(on ? SETRTS : CLRRTS); }

    bool ReadDSR(bool& on) override
    {
        on = false;
        DWORD lines = 0;
        if (!IsOpen())
            return Failed(ERROR_INVALID_HANDLE);
        if (!GetCommModemStatus(handle_, &lines))
            return Failed(static_cast<int>(GetLastError()));
        on = (lines & MS_DSR_ON) != 0;
        return true;
    }

    long InputWaiting() override
    {
        long queued = QueuedInput();
        return queued < 0 ? -1 : queued + static_cast<long>(lookahead_.size());
    }

    long OutputWaiting() override
    {
        COMSTAT status{};
        if (!Status(status))
            return -1;
        return static_cast<long>(status.cbOutQue);
    }

    void Purge(bool input, bool output) override
    {
        if (!IsOpen() || (!input && !output))
            return;
        DWORD flags = (input ? PURGE_RXABORT | PURGE_RXCLEAR : 0) | (output ? PURGE_TXABORT | PURGE_TXCLEAR : 0);
        PurgeComm(handle_, flags);
        if (input)
            lookahead_.clear();
    }

    void Pause(int64_t ms) override
    {
        if (ms > 0)
            Sleep(static_cast<DWORD>(std::min<int64_t>(ms, kLongWaitMs)));
    }

private:
    // Clears any line error and tells the queue counts.
    bool Status(COMSTAT& status)
    {
        if (!IsOpen())
            return Failed(ERROR_INVALID_HANDLE);
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &status))
            return Failed(static_cast<int>(GetLastError()));
        return true;
    }

    long QueuedInput()
    {
        COMSTAT status{};
        return Status(status) ? static_cast<long>(status.cbInQue) : -1;
    }

    bool Escape(DWORD function)
    {
        if (!IsOpen())
            return Failed(ERROR_INVALID_HANDLE);
        if (!EscapeCommFunction(handle_, function))
            return Failed(static_cast<int>(GetLastError()));
        return true;
    }

    // Reads with the one combination of time-outs that waits for the first
    // byte only: MAXDWORD, MAXDWORD and a constant return at once with what
    // has arrived, else with the first byte that arrives within the
    // constant, else with nothing. MAXDWORD, 0, 0 returns at once.
    long ReadWithin(uint8_t* buffer, size_t size, int64_t timeoutMs)
    {
        for (;;) {
            COMMTIMEOUTS read{MAXDWORD, 0, 0, 0, 0};
            if (timeoutMs != SerialPort::kNoWait) {
                read.ReadTotalTimeoutMultiplier = MAXDWORD;
                read.ReadTotalTimeoutConstant =
                    timeoutMs < 0 ? kLongWaitMs : static_cast<DWORD>(std::clamp<int64_t>(timeoutMs, 1, kLongWaitMs));
            }
            if (!SetTimeouts(read, writeTimeoutMs_))
                return -1;
            DWORD n = 0;
            if (!ReadFile(handle_, buffer, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &n, nullptr))
                return Broken(static_cast<int>(GetLastError()));
            if (n > 0)
                return static_cast<long>(n);
            // A line that has gone (an unplugged adapter, the far end of the
            // device closed) reads as empty at once; asking for its status
            // tells it apart from a quiet one.
            COMSTAT status{};
            if (!Status(status))
                return -1;
            if (timeoutMs >= 0)
                return 0;
        }
    }

    bool SetTimeouts(const COMMTIMEOUTS& read, DWORD writeTimeoutMs)
    {
        if (timeoutsSet_ && read.ReadIntervalTimeout == readTimeouts_.ReadIntervalTimeout &&
            read.ReadTotalTimeoutMultiplier == readTimeouts_.ReadTotalTimeoutMultiplier &&
            read.ReadTotalTimeoutConstant == readTimeouts_.ReadTotalTimeoutConstant && writeTimeoutMs == writeTimeoutMs_)
            return true;
        COMMTIMEOUTS timeouts = read;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = writeTimeoutMs;
        if (!SetCommTimeouts(handle_, &timeouts))
            return Failed(static_cast<int>(GetLastError()));
        readTimeouts_ = read;
        writeTimeoutMs_ = writeTimeoutMs;
        timeoutsSet_ = true;
        return true;
    }

    std::string name_;
    std::string device_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool timeoutsSet_ = false;
    COMMTIMEOUTS readTimeouts_{};
    DWORD writeTimeoutMs_ = 0;
    std::vector<uint8_t> lookahead_;
};

} // namespace

std::unique_ptr<SerialPort> MakeLocalSerialPort(const std::string& name, const std::string& device)
{
    return std::make_unique<Win32SerialPort>(name, device);
}
