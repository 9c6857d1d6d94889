// The local device port on a pseudo-terminal, and which implementation a
// port name gets.

#include "platform/SerialPort.h"
#include "platform/SerialPortList.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

// The far end of a pseudo-terminal stands in for the device.
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        int follower = -1;
        char name[256] = {};
        if (openpty(&leader_, &follower, name, nullptr, nullptr) == 0) {
            path_ = name;
            // Our end stays open through the leader alone, as a device
            // nobody else has opened.
            close(follower);
        }
    }
    ~PseudoTerminal() { CloseLeader(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& Path() const { return path_; }
    int Leader() const { return leader_; }
    void CloseLeader()
    {
        if (leader_ >= 0)
            close(leader_);
        leader_ = -1;
    }

    Bytes ReadLeader(size_t count)
    {
        Bytes got;
        pollfd descriptor{leader_, POLLIN, 0};
        while (got.size() < count && poll(&descriptor, 1, 2000) > 0) {
            uint8_t chunk[256];
            ssize_t n = read(leader_, chunk, sizeof chunk);
            if (n <= 0)
                break;
            got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

private:
    int leader_ = -1;
    std::string path_;
};

TEST(PosixSerialPortTest, ExclusiveRawAndWaitingOnAPseudoTerminal)
{
    PseudoTerminal pty;
    ASSERT_FALSE(pty.Path().empty());
    std::unique_ptr<SerialPort> port = MakeLocalSerialPort("COM1", pty.Path());
    ASSERT_EQ(port->Open(), 0);
    EXPECT_EQ(port->Name(), "COM1");
    SerialLineSettings settings;
    settings.baudRate = 28800; // no termios constant: the termios2 path
    EXPECT_TRUE(port->Configure(settings));

    std::unique_ptr<SerialPort> second = MakeLocalSerialPort("again", pty.Path());
    EXPECT_EQ(second->Open(), EBUSY) << "a port is used by one program at a time";

    // Raw: no byte is translated either way.
    const Bytes out{0x0A, 0x0D, 0x03, 0x11, 0x13, 0x7F, 0xFF, 0x00};
    EXPECT_EQ(port->Write(out.data(), out.size(), 1000), static_cast<long>(out.size()));
    EXPECT_EQ(pty.ReadLeader(out.size()), out);

    uint8_t buffer[16];
    EXPECT_EQ(port->InputWaiting(), 0);
    EXPECT_EQ(port->Read(buffer, sizeof buffer, SerialPort::kNoWait), 0);
    EXPECT_EQ(port->WaitReadable(30), 0);
    const Bytes in{0x0D, 0x0A, 0x04, 0x1A};
    ASSERT_EQ(write(pty.Leader(), in.data(), in.size()), static_cast<ssize_t>(in.size()));
    EXPECT_EQ(port->WaitReadable(2000), 1);
    EXPECT_EQ(port->Read(buffer, sizeof buffer, 1000), static_cast<long>(in.size()));
    EXPECT_EQ(Bytes(buffer, buffer + in.size()), in);

    bool dsr = true;
    EXPECT_FALSE(port->ReadDSR(dsr)) << "a pseudo-terminal has no modem lines";
    EXPECT_FALSE(dsr);

    // Closed and opened again by the same program, as each probe does.
    port->Close();
    EXPECT_EQ(port->Open(), 0);
    port->Close();
    EXPECT_EQ(second->Open(), 0);
    second->Close();
}

TEST(PosixSerialPortTest, AVanishedDeviceFailsInsteadOfWaking)
{
    PseudoTerminal pty;
    std::unique_ptr<SerialPort> port = MakeLocalSerialPort("COM1", pty.Path());
    ASSERT_EQ(port->Open(), 0);
    pty.CloseLeader();
    EXPECT_EQ(port->WaitReadable(1000), -1);
    uint8_t byte = 0;
    EXPECT_EQ(port->Read(&byte, 1, 1000), -1);
}

TEST(PosixSerialPortTest, WhatCannotBeOpened)
{
    struct Row {
        const char* name;
        std::string device;
        int error;
    };
    const Row rows[] = {
        {"no such device", "/nonexistent/ttyS0", ENOENT},
        {"not a terminal", "/dev/null", ENOTTY},
    };
    for (const Row& row : rows) {
        std::unique_ptr<SerialPort> port = MakeLocalSerialPort("x", row.device);
        EXPECT_EQ(port->Open(), row.error) << row.name;
        EXPECT_FALSE(port->IsOpen()) << row.name;
    }
}

struct NameCase {
    const char* name;
    std::string port;
    bool created;
    bool deviceName; // what the command line takes as a port named directly
};

TEST(SerialPortFactoryTest, NamesChooseTheImplementation)
{
    RememberComPorts({{1, "/dev/ttyS0"}, {2, "/dev/ttyUSB0"}});
    RegisterSerialPortScheme("fake", [](const std::string& name) { return MakeLocalSerialPort(name, "/dev/null"); });
    const NameCase cases[] = {
        {"a listed COM number", "COM2", true, false},
        {"an unlisted COM number", "COM3", false, false},
        {"COM without a number", "COM", false, false},
        {"COM and a word", "COMx", false, false},
        {"a device path", "/dev/ttyACM7", true, true},
        {"a network port", "rfc2217://127.0.0.1:4000", true, true},
        {"a network port by host name", "rfc2217://server.example:23", true, true},
        {"a network port on IPv6", "rfc2217://[::1]:2217", true, true},
        {"no port number", "rfc2217://127.0.0.1", false, true},
        {"port 0", "rfc2217://h:0", false, true},
        {"port 65536", "rfc2217://h:65536", false, true},
        {"a path after the port", "rfc2217://h:23/x", false, true},
        {"options after the port", "rfc2217://h:23?logging=debug", false, true},
        {"a signed port number", "rfc2217://h:+23", false, true},
        {"two colons without brackets", "rfc2217://a:b:23", false, true},
        {"no host", "rfc2217://:23", false, true},
        {"a registered scheme", "fake://anything", true, true},
        {"an unknown scheme", "tcp://h:23", false, false},
        {"a plain number", "3", false, false},
        {"empty", "", false, false},
    };
    for (const NameCase& c : cases) {
        std::unique_ptr<SerialPort> port = CreateSerialPort(c.port);
        EXPECT_EQ(port != nullptr, c.created) << c.name;
        if (port != nullptr) {
            EXPECT_EQ(port->Name(), c.port) << c.name;
        }
        EXPECT_EQ(IsPortDeviceName(c.port), c.deviceName) << c.name;
    }
    RememberComPorts({});
}

} // namespace
