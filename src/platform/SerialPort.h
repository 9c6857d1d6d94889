#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// One serial line, whatever carries it: a local device or a network port.
// Every operation runs on the calling thread and returns by itself; the only
// blocking ones take a time-out and block in the kernel, never by spinning.

enum class SerialParity { None, Odd, Even, Mark, Space };
enum class SerialStopBits { One, OneAndHalf, Two };

struct SerialLineSettings {
    int baudRate = 9600;
    int dataBits = 8;
    SerialParity parity = SerialParity::None;
    SerialStopBits stopBits = SerialStopBits::One;
    bool rtsCtsFlow = false;
    bool xonXoffFlow = false;
    // The level DTR is put to; RTS goes low unless RTS/CTS flow drives it.
    bool dtrOn = false;
    // The driver's receive and transmit queues, where the system sizes them.
    int inQueueBytes = 2048;
    int outQueueBytes = 2048;
};

class SerialPort {
public:
    // Time-outs of the waiting operations, in milliseconds.
    static constexpr int64_t kNoWait = 0;
    static constexpr int64_t kWaitForever = -1;

    virtual ~SerialPort() = default;

    // The name the port was created for, as the user gave it.
    virtual const std::string& Name() const = 0;

    // 0 when the port is open, else the system's error number (EBUSY when
    // another program holds it). Opening an open port does nothing.
    virtual int Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Applies line settings and puts DTR and RTS to the levels they imply.
    virtual bool Configure(const SerialLineSettings& settings) = 0;

    // Copies up to `size` received bytes. Returns at once with what is there
    // when bytes are waiting; otherwise waits up to `timeoutMs` (kNoWait: not
    // at all; kWaitForever: until a byte comes or the port fails) for the
    // first byte. Returns the count (0: nothing by the deadline) or -1 when
    // the port failed (LastError tells why).
    virtual long Read(uint8_t* buffer, size_t size, int64_t timeoutMs) = 0;

    // Waits until a byte can be read: 1 ready, 0 time-out, -1 failure.
    virtual int WaitReadable(int64_t timeoutMs) = 0;

    // Writes `size` bytes, waiting for room while the line makes progress;
    // gives up once no byte could be written for `timeoutMs`. Returns the
    // count written, or -1 when the port failed before any byte went out.
    virtual long Write(const uint8_t* data, size_t size, int64_t timeoutMs) = 0;

    virtual bool SetDTR(bool on) = 0;
    virtual bool SetRTS(bool on) = 0;
    // False when the state cannot be known; `on` is then false.
    virtual bool ReadDSR(bool& on) = 0;

    // Bytes received and not read yet, and bytes written and not sent yet;
    // -1 when the port failed.
    virtual long InputWaiting() = 0;
    virtual long OutputWaiting() = 0;

    // Drops what is waiting in either direction.
    virtual void Purge(bool input, bool output) = 0;

    // Lets `ms` pass without reading data. A network port keeps taking in its
    // peer's control messages meanwhile (modem line reports).
    virtual void Pause(int64_t ms) = 0;

    // The system error number of the last failure.
    virtual int LastError() const = 0;
};

// What the implementations share: the last failure, recorded where it
// happens by helpers that return the failure value of the call site's result,
// so that call sites read as results.
class RecordingSerialPort : public SerialPort {
public:
    int LastError() const override { return error_; }

protected:
    bool Failed(int error)
    {
        error_ = error;
        return false;
    }
    int Broken(int error)
    {
        error_ = error;
        return -1;
    }
    int Fail(int error)
    {
        error_ = error;
        return error;
    }

    int error_ = 0;
};

using SerialPortFactory = std::function<std::unique_ptr<SerialPort>(const std::string& name)>;

// The one place a port name chooses its implementation:
//   "COM<n>"             the device listed as COM<n> (SerialPortList.h)
//   a local device name  that device (IsLocalDeviceName: a path such as
//                        /dev/ttyUSB0 here, COM12 or \\.\COM12 on Windows)
//   "rfc2217://HOST:PORT" a network port speaking the Telnet COM port option
//   "<scheme>://..."     a scheme added with RegisterSerialPortScheme
//   "sim", "sim:OPTIONS" the bundled module simulator (SimulatorPort.cpp)
// Returns nullptr when the name names no port (a COM number with no device,
// a malformed URL); the port is created closed.
std::unique_ptr<SerialPort> CreateSerialPort(const std::string& name);

// Adds a URL scheme (without "://") served by another library, such as the
// module simulator. A later registration of the same scheme replaces it.
void RegisterSerialPortScheme(const std::string& scheme, SerialPortFactory factory);

// The implementations, for the factory and for tests.
// The system's serial device `device` (a path, or \\.\COM<n> on Windows).
std::unique_ptr<SerialPort> MakeLocalSerialPort(const std::string& name, const std::string& device);
std::unique_ptr<SerialPort> MakeRfc2217Port(const std::string& name, const std::string& host, uint16_t port);
// nullptr when `name` is not a simulator port name.
std::unique_ptr<SerialPort> MakeSimulatorPort(const std::string& name);
bool IsSimulatorPortName(const std::string& name);
// The RAM "sim:memory=BYTES" may ask for, as morvane-sim takes it.
constexpr long kSimulatorMinRamBytes = 4096;
constexpr long kSimulatorMaxRamBytes = 49152;
// What is wrong with the options of simulator port name `name`, in words
// that name the option and what it takes ("" when nothing is). A fault's
// value is left to the simulator, which knows its range.
std::string SimulatorOptionsProblem(const std::string& name);

// True when `name` is a URL of a scheme CreateSerialPort serves (well formed
// or not: a malformed one is then reported as a port that cannot be opened).
bool IsSerialPortUrl(const std::string& name);

// Splits "rfc2217://HOST:PORT" (HOST may be a bracketed IPv6 address).
// False when the text is not such a URL or the port number is not 1..65535.
bool ParseRfc2217Url(const std::string& url, std::string& host, uint16_t& port);
