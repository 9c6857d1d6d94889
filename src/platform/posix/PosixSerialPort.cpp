// A local serial device (/dev/ttyS*, /dev/ttyUSB*, a pseudo-terminal).

#include "platform/Clock.h"
#include "platform/posix/PosixBaudRate.h"
#include "platform/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct StandardRate {
    int baud;
    speed_t constant;
};

constexpr StandardRate kStandardRates[] = {
    {110, B110},     {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},   {9600, B9600},   {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400},
};

int PollTimeout(int64_t timeoutMs)
{
    if (timeoutMs < 0)
        return -1;
    return static_cast<int>(std::min<int64_t>(timeoutMs, 1 << 30));
}

class PosixSerialPort final : public RecordingSerialPort {
public:
    PosixSerialPort(std::string name, std::string device) : name_(std::move(name)), device_(std::move(device)) {}
    ~PosixSerialPort() override { Close(); }
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    const std::string& Name() const override { return name_; }

    int Open() override
    {
        if (fd_ >= 0)
            return 0;
        // Not our controlling terminal: a hang-up of the line must not send
        // the tool SIGHUP. Non-blocking so that no call can hang; waits are
        // made with poll() and a time-out.
        int fd = open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return Fail(errno);
        if (!isatty(fd)) {
            close(fd);
            return Fail(ENOTTY);
        }
        // TIOCEXCL keeps other openers out, but not root, who gets this far
        // on a port another program holds; the lock tells us (and
        // cooperating tools, which test it instead of opening) that the port
        // is busy. Until we hold it the line is not ours to touch.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int error = errno == EWOULDBLOCK ? EBUSY : errno;
            close(fd);
            return Fail(error);
        }
        ioctl(fd, TIOCEXCL);
        // The kernel raises DTR on open, and DTR is the module's reset line:
        // drop it at once so the pulse stays as short as we can make it.
        int dtr = TIOCM_DTR;
        ioctl(fd, TIOCMBIC, &dtr);
        // The download waits for an acknowledgement after every 19-byte block;
        // an adapter that holds short packets for its latency timer would cut
        // the rate to a third. Drivers without the flag refuse it: no harm.
        serial_struct serial{};
        if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags |= ASYNC_LOW_LATENCY;
            ioctl(fd, TIOCSSERIAL, &serial);
        }
        fd_ = fd;
        return 0;
    }

    void Close() override
    {
        if (fd_ < 0)
            return;
        // A pseudo-terminal keeps its exclusive flag while the other side is
        // open, which would keep us out of our own port on the next open.
        ioctl(fd_, TIOCNXCL);
        close(fd_);
        fd_ = -1;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool Configure(const SerialLineSettings& settings) override
    {
        if (fd_ < 0)
            return false;
        termios mode{};
        if (tcgetattr(fd_, &mode) != 0)
            return Failed(errno);
        cfmakeraw(&mode);
        mode.c_cflag |= CLOCAL | CREAD;
        mode.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
        switch (settings.dataBits) {
        case 5: mode.c_cflag |= CS5; break;
        case 6: mode.c_cflag |= CS6; break;
        case 7: mode.c_cflag |= CS7; break;
        default: mode.c_cflag |= CS8; break;
        }
        switch (settings.parity) {
        case SerialParity::None: break;
        case SerialParity::Odd: mode.c_cflag |= PARENB | PARODD; break;
        case SerialParity::Even: mode.c_cflag |= PARENB; break;
        case SerialParity::Mark: mode.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case SerialParity::Space: mode.c_cflag |= PARENB | CMSPAR; break;
        }
        if (settings.stopBits != SerialStopBits::One)
            mode.c_cflag |= CSTOPB;
        if (settings.rtsCtsFlow)
            mode.c_cflag |= CRTSCTS;
        mode.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        if (settings.xonXoffFlow)
            mode.c_iflag |= IXON | IXOFF;
        mode.c_cc[VSTART] = 0x11;
        mode.c_cc[VSTOP] = 0x13;
        mode.c_cc[VMIN] = 0;
        mode.c_cc[VTIME] = 0;
        const StandardRate* rate = std::find_if(std::begin(kStandardRates), std::end(kStandardRates),
                                                [&](const StandardRate& r) { return r.baud == settings.baudRate; });
        bool ok = true;
        if (rate != std::end(kStandardRates)) {
            cfsetispeed(&mode, rate->constant);
            cfsetospeed(&mode, rate->constant);
            ok = tcsetattr(fd_, TCSANOW, &mode) == 0;
        } else {
            ok = tcsetattr(fd_, TCSANOW, &mode) == 0 && SetAnyBaudRate(fd_, settings.baudRate);
        }
        if (!ok)
            error_ = errno;
        SetDTR(settings.dtrOn);
        if (!settings.rtsCtsFlow)
            SetRTS(false);
        return ok;
    }

    long Read(uint8_t* buffer, size_t size, int64_t timeoutMs) override
    {
        if (fd_ < 0)
            return Broken(EBADF);
        if (size == 0)
            return 0;
        for (;;) {
            ssize_t n = read(fd_, buffer, size);
            if (n > 0)
                return n;
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return Broken(errno);
            // In raw mode a hung-up line (an unplugged adapter, the far end
            // of a pseudo-terminal gone) reads as empty, for ever; only the
            // wait tells it apart.
            if (timeoutMs == kNoWait)
                return HungUp() ? Broken(EIO) : 0;
            int ready = WaitReadable(timeoutMs);
            if (ready <= 0)
                return ready;
            timeoutMs = kNoWait; // a byte is there now; one more read takes it
        }
    }

    int WaitReadable(int64_t timeoutMs) override
    {
        if (fd_ < 0)
            return Broken(EBADF);
        pollfd descriptor{fd_, POLLIN, 0};
        int ready = poll(&descriptor, 1, PollTimeout(timeoutMs));
        if (ready < 0)
            return errno == EINTR ? 0 : Broken(errno);
        if (ready == 0)
            return 0;
        int waiting = 0;
        if (ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0)
            return 1;
        // Readable with nothing to read is a hang-up (an unplugged adapter,
        // the far end of a pseudo-terminal gone). Reported, so that nobody
        // waits on a descriptor that is ready for ever.
        return Broken(EIO);
    }

    long Write(const uint8_t* data, size_t size, int64_t timeoutMs) override
    {
        if (fd_ < 0)
            return Broken(EBADF);
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(fd_, data + done, size - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                error_ = errno;
                return done > 0 ? static_cast<long>(done) : -1;
            }
            // Full: wait for room, but no longer than the line may stall.
            pollfd descriptor{fd_, POLLOUT, 0};
            int ready = poll(&descriptor, 1, PollTimeout(timeoutMs));
            if (ready == 0) {
                error_ = ETIMEDOUT;
                break;
            }
            if (ready < 0 && errno != EINTR) {
                error_ = errno;
                break;
            }
            if (ready > 0 && !(descriptor.revents & POLLOUT)) {
                error_ = EIO;
                return done > 0 ? static_cast<long>(done) : -1;
            }
        }
        return static_cast<long>(done);
    }

    bool SetDTR(bool on) override { return SetModemLine(TIOCM_DTR, on); }
    bool SetRTS(bool on) override { return SetModemLine(TIOCM_RTS, on); }

    bool ReadDSR(bool& on) override
    {
        on = false;
        int lines = 0;
        if (fd_ < 0 || ioctl(fd_, TIOCMGET, &lines) != 0)
            return Failed(fd_ < 0 ? EBADF : errno);
        on = (lines & TIOCM_DSR) != 0;
        return true;
    }

    long InputWaiting() override { return QueueCount(FIONREAD); }
    long OutputWaiting() override { return QueueCount(TIOCOUTQ); }

    void Purge(bool input, bool output) override
    {
        if (fd_ < 0 || (!input && !output))
            return;
        tcflush(fd_, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH);
    }

    void Pause(int64_t ms) override { SystemClock().SleepMs(ms); }

private:
    bool HungUp() const
    {
        pollfd descriptor{fd_, POLLIN, 0};
        return poll(&descriptor, 1, 0) > 0 && (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }

    bool SetModemLine(int line, bool on)
    {
        if (fd_ < 0)
            return Failed(EBADF);
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) != 0)
            return Failed(errno);
        return true;
    }

    long QueueCount(unsigned long request)
    {
        int count = 0;
        if (fd_ < 0)
            return Broken(EBADF);
        if (ioctl(fd_, request, &count) != 0)
            return Broken(errno);
        return count;
    }

    std::string name_;
    std::string device_;
    int fd_ = -1;
};

} // namespace

std::unique_ptr<SerialPort> MakeLocalSerialPort(const std::string& name, const std::string& device)
{
    return std::make_unique<PosixSerialPort>(name, device);
}
