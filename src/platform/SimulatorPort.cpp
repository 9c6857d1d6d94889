// "sim": the module simulator as a serial port. The simulator program
// (morvane-sim, installed next to this one) is started on first use as a
// child tied to this process, serves the module over RFC 2217 on a loopback
// port it picks itself, and is reached through the same RFC 2217 port as a
// device server on the network. It stays up for the whole run, like a board
// on the desk, so reconnecting (the probe, then the download) finds the
// same module; it ends when this process does.
//
// "sim:OPTIONS" passes options on, comma-separated: "pace" (keep the timing
// of the 28,800 baud line and the module's clock), "memory=BYTES" (the
// module's RAM), "bench=FILE" and "trace=FILE" (a bench around the program
// and a trace of its pins) and the simulator's faults as NAME=VALUE
// ("drop-ack=3").

#include "platform/ChildProcess.h"
#include "platform/SerialPort.h"

#include <cctype>
#include <cerrno>
#include <map>
#include <memory>

namespace {

constexpr const char* kSimulatorProgram = "morvane-sim";
// A simulator announces its port within milliseconds; this bounds what a
// broken installation costs.
constexpr int64_t kAnnounceTimeoutMs = 5000;
// The simulator's fault options: passed on as "--NAME VALUE"; the simulator
// checks the values, and one it refuses leaves the port unopened.
constexpr const char* kFaultOptions[] = {"drop-ack", "corrupt-status", "silent-after", "hang-up-at-block",
                                         "garbage", "ping-answer", "dsr"};

bool IsFaultOption(const std::string& option, std::string& name, std::string& value)
{
    size_t equals = option.find('=');
    if (equals == std::string::npos || equals + 1 == option.size() || option.size() - equals > 9)
        return false;
    name = option.substr(0, equals);
    value = option.substr(equals + 1);
    for (const char* fault : kFaultOptions)
        if (name == fault)
            return true;
    return false;
}

struct Simulator {
    ChildProcess process;
    uint16_t port = 0;
};

// One simulator per set of options, for the life of the process.
std::map<std::string, std::unique_ptr<Simulator>>& Simulators()
{
    static std::map<std::string, std::unique_ptr<Simulator>> simulators;
    return simulators;
}

// Splits "pace,memory=8192" at its commas.
std::vector<std::string> OptionsOf(const std::string& options)
{
    std::vector<std::string> list;
    size_t start = 0;
    while (start < options.size()) {
        size_t comma = options.find(',', start);
        list.push_back(options.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        start = comma == std::string::npos ? options.size() : comma + 1;
    }
    return list;
}

bool IsMemoryOption(const std::string& option) { return option.compare(0, 7, "memory=") == 0; }

// "bench=FILE" or "trace=FILE", with a file.
bool IsFileOption(const std::string& option)
{
    return (option.compare(0, 6, "bench=") == 0 || option.compare(0, 6, "trace=") == 0) && option.size() > 6;
}

// The RAM of "memory=BYTES"; false unless BYTES is a decimal number in range.
bool MemoryBytes(const std::string& option, long& bytes)
{
    std::string digits = option.substr(7);
    if (digits.empty() || digits.size() > 6)
        return false;
    bytes = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        bytes = bytes * 10 + (c - '0');
    }
    return bytes >= kSimulatorMinRamBytes && bytes <= kSimulatorMaxRamBytes;
}

// What is wrong with one option; "" when nothing is.
std::string OptionProblem(const std::string& option)
{
    std::string name, value;
    long bytes = 0;
    if (option == "pace" || IsFileOption(option) || IsFaultOption(option, name, value))
        return "";
    if (IsMemoryOption(option))
        return MemoryBytes(option, bytes) ? ""
                                          : "memory takes " + std::to_string(kSimulatorMinRamBytes) + " to " +
                                                std::to_string(kSimulatorMaxRamBytes) + " bytes, not " +
                                                option.substr(7);
    std::string faults;
    for (const char* fault : kFaultOptions)
        faults += std::string(", ") + fault + "=VALUE";
    return "unknown simulator option '" + option + "'; sim: takes pace, memory=BYTES, bench=FILE, trace=FILE" + faults;
}

// The simulator's arguments for the options of a port name; false when an
// option is not known.
bool SimulatorArguments(const std::string& options, std::vector<std::string>& args)
{
    args = {"--listen-port", "0", "--exit-on-eof"};
    for (const std::string& option : OptionsOf(options)) {
        std::string name, value;
        if (!OptionProblem(option).empty())
            return false;
        if (option == "pace") {
            args.push_back("--pace");
        } else if (IsMemoryOption(option)) {
            args.push_back("--memory");
            args.push_back(option.substr(7));
        } else if (IsFileOption(option)) {
            args.push_back("--" + option.substr(0, 5));
            args.push_back(option.substr(6));
        } else if (IsFaultOption(option, name, value)) {
            args.push_back("--" + name);
            args.push_back(value);
        }
    }
    return true;
}

// The port in the simulator's announcement "... rfc2217://127.0.0.1:PORT".
uint16_t AnnouncedPort(const std::string& line)
{
    std::string host;
    uint16_t port = 0;
    size_t at = line.find("rfc2217://");
    if (at == std::string::npos || !ParseRfc2217Url(line.substr(at), host, port))
        return 0;
    return port;
}

class SimulatorPort final : public SerialPort {
public:
    SimulatorPort(std::string name, std::string options) : name_(std::move(name)), options_(std::move(options)) {}

    const std::string& Name() const override { return name_; }

    int Open() override
    {
        if (port_ && port_->IsOpen())
            return 0;
        uint16_t tcpPort = 0;
        int error = EnsureSimulator(tcpPort);
        if (error != 0)
            return error_ = error;
        port_ = MakeRfc2217Port(name_, "127.0.0.1", tcpPort);
        error = port_->Open();
        if (error != 0)
            error_ = error;
        return error;
    }

    void Close() override
    {
        if (port_)
            port_->Close();
    }
    bool IsOpen() const override { return port_ && port_->IsOpen(); }
    bool Configure(const SerialLineSettings& settings) override { return port_ && port_->Configure(settings); }
    long Read(uint8_t* buffer, size_t size, int64_t timeoutMs) override
    {
        return port_ ? port_->Read(buffer, size, timeoutMs) : Closed();
    }
    int WaitReadable(int64_t timeoutMs) override { return port_ ? port_->WaitReadable(timeoutMs) : Closed(); }
    long Write(const uint8_t* data, size_t size, int64_t timeoutMs) override
    {
        return port_ ? port_->Write(data, size, timeoutMs) : Closed();
    }
    bool SetDTR(bool on) override { return port_ && port_->SetDTR(on); }
    bool SetRTS(bool on) override { return port_ && port_->SetRTS(on); }
    bool ReadDSR(bool& on) override
    {
        on = false;
        return port_ && port_->ReadDSR(on);
    }
    long InputWaiting() override { return port_ ? port_->InputWaiting() : Closed(); }
    long OutputWaiting() override { return port_ ? port_->OutputWaiting() : Closed(); }
    void Purge(bool input, bool output) override
    {
        if (port_)
            port_->Purge(input, output);
    }
    void Pause(int64_t ms) override
    {
        if (port_)
            port_->Pause(ms);
    }
    int LastError() const override { return port_ && port_->LastError() != 0 ? port_->LastError() : error_; }

private:
    int Closed()
    {
        error_ = EBADF;
        return -1;
    }

    int EnsureSimulator(uint16_t& tcpPort)
    {
        std::vector<std::string> args;
        if (!SimulatorArguments(options_, args))
            return EINVAL;
        std::unique_ptr<Simulator>& simulator = Simulators()[options_];
        if (simulator && simulator->process.Running()) {
            tcpPort = simulator->port;
            return 0;
        }
        simulator = std::make_unique<Simulator>();
        int error = simulator->process.Start(HelperProgramPath(kSimulatorProgram), args);
        if (error != 0) {
            simulator.reset();
            return error;
        }
        std::string line;
        while (simulator->process.ReadLine(line, kAnnounceTimeoutMs)) {
            simulator->port = AnnouncedPort(line);
            if (simulator->port != 0)
                break;
        }
        if (simulator->port == 0) {
            simulator.reset();
            return ECONNREFUSED;
        }
        tcpPort = simulator->port;
        return 0;
    }

    std::string name_;
    std::string options_;
    std::unique_ptr<SerialPort> port_;
    int error_ = 0;
};

} // namespace

bool IsSimulatorPortName(const std::string& name) { return name == "sim" || name.compare(0, 4, "sim:") == 0; }

std::string SimulatorOptionsProblem(const std::string& name)
{
    if (!IsSimulatorPortName(name))
        return "";
    for (const std::string& option : OptionsOf(name.size() > 4 ? name.substr(4) : ""))
        if (std::string problem = OptionProblem(option); !problem.empty())
            return problem;
    return "";
}

std::unique_ptr<SerialPort> MakeSimulatorPort(const std::string& name)
{
    if (!IsSimulatorPortName(name))
        return nullptr;
    return std::make_unique<SimulatorPort>(name, name.size() > 4 ? name.substr(4) : "");
}
