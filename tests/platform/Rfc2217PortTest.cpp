// The network port against real peers: pyserial's RFC 2217 server (with the
// emulated module's modem lines behind it), and small servers of our own
// that misbehave on purpose.

#include "integration/ModuleEmulator.h"
#include "platform/Clock.h"
#include "platform/Rfc2217Codec.h"
#include "platform/SerialPort.h"

#include <atomic>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadExactly(SerialPort& port, size_t count, int64_t timeoutMs)
{
    Bytes got;
    int64_t deadline = SystemClock().NowMs() + timeoutMs;
    while (got.size() < count) {
        int64_t left = deadline - SystemClock().NowMs();
        if (left <= 0)
            break;
        uint8_t chunk[512];
        long n = port.Read(chunk, std::min(sizeof chunk, count - got.size()), left);
        if (n < 0)
            break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

TEST(Rfc2217PortTest, LineSettingsDataAndModemLinesThroughARealServer)
{
    ModuleEmulator server({"--mode", "echo"});
    ASSERT_TRUE(server.Started());
    std::unique_ptr<SerialPort> port = CreateSerialPort(server.Url());
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->Open(), 0);
    SerialLineSettings settings;
    settings.baudRate = 28800;
    EXPECT_TRUE(port->Configure(settings));

    // Every byte value, the Telnet escape among them, there and back.
    Bytes all(256);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(port->Write(all.data(), all.size(), 1000), 256);
    EXPECT_EQ(ReadExactly(*port, 256, 3000), all);
    EXPECT_EQ(server.Received(), all);
    EXPECT_EQ(server.Line(), "[28800, 8, \"N\", 1]");

    // The server looks at the lines once a second by itself; the client's
    // request after each change gets DSR within the settle time.
    for (int round = 0; round < 2; ++round) {
        bool dsr = false;
        port->SetRTS(true);
        port->Pause(200);
        EXPECT_TRUE(port->ReadDSR(dsr));
        EXPECT_TRUE(dsr) << round;
        port->SetRTS(false);
        port->Pause(200);
        EXPECT_TRUE(port->ReadDSR(dsr));
        EXPECT_FALSE(dsr) << round;
    }
    EXPECT_EQ(port->InputWaiting(), 0);
    EXPECT_EQ(port->Read(all.data(), 1, SerialPort::kNoWait), 0);
}

TEST(Rfc2217PortTest, AServerThatGoesAwayIsAFailedLine)
{
    auto server = std::make_unique<ModuleEmulator>(std::vector<std::string>{"--mode", "echo"});
    ASSERT_TRUE(server->Started());
    std::unique_ptr<SerialPort> port = CreateSerialPort(server->Url());
    ASSERT_EQ(port->Open(), 0);
    server.reset();
    int64_t start = SystemClock().NowMs();
    EXPECT_EQ(port->WaitReadable(5000), -1);
    EXPECT_LT(SystemClock().NowMs() - start, 2000) << "reported at once, not at the deadline";
    EXPECT_EQ(port->InputWaiting(), -1);
}

TEST(Rfc2217PortTest, NoServerNoPort)
{
    // A port nobody listens on: bind one, then close it.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    std::unique_ptr<SerialPort> port = MakeRfc2217Port("x", "127.0.0.1", ntohs(address.sin_port));
    EXPECT_EQ(port->Open(), ECONNREFUSED);
    EXPECT_FALSE(port->IsOpen());
}

// A one-connection server made of our own codec, behaving as told.
class TinyServer {
public:
    enum Behaviour { bAgreesButNeverReportsModemState, bRefusesComPort, bSilent };

    // On the IPv4 loopback address, or with `ipv6` on ::1.
    explicit TinyServer(Behaviour behaviour, bool ipv6 = false) : behaviour_(behaviour)
    {
        listener_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        sockaddr* bound = ipv6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address);
        socklen_t size = ipv6 ? sizeof address6 : sizeof address;
        bind(listener_, bound, size);
        listen(listener_, 1);
        getsockname(listener_, bound, &size);
        port_ = ntohs(ipv6 ? address6.sin6_port : address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TinyServer()
    {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    TinyServer(const TinyServer&) = delete;
    TinyServer& operator=(const TinyServer&) = delete;

    uint16_t Port() const { return port_; }
    std::atomic<int> modemRequests{0};

private:
    void Serve()
    {
        pollfd waiting{listener_, POLLIN, 0};
        while (!stop_ && poll(&waiting, 1, 20) <= 0) {
        }
        if (stop_)
            return;
        int client = accept(listener_, nullptr, nullptr);
        TelnetCodec codec;
        codec.Accept(telnet::kOptionBinary, true, true);
        codec.Accept(telnet::kOptionBinary, false, true);
        codec.Accept(telnet::kOptionComPort, false, behaviour_ != bRefusesComPort);
        pollfd readable{client, POLLIN, 0};
        while (!stop_) {
            if (poll(&readable, 1, 20) <= 0)
                continue;
            uint8_t chunk[512];
            ssize_t n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            if (behaviour_ == bSilent)
                continue;
            for (const TelnetEvent& e : codec.Feed(chunk, static_cast<size_t>(n))) {
                ComPortMessage m;
                if (ParseComPortMessage(e, m) && m.command == rfc2217::kNotifyModemState)
                    ++modemRequests;
                if (e.kind == TelnetEvent::evData)
                    codec.SendData(e.bytes.data(), e.bytes.size());
            }
            Bytes out = codec.TakeOutput();
            if (!out.empty())
                send(client, out.data(), out.size(), MSG_NOSIGNAL);
        }
        close(client);
    }

    Behaviour behaviour_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(Rfc2217PortTest, DsrNeverReportedIsOff)
{
    TinyServer server(TinyServer::bAgreesButNeverReportsModemState);
    std::unique_ptr<SerialPort> port = MakeRfc2217Port("x", "127.0.0.1", server.Port());
    ASSERT_EQ(port->Open(), 0);
    port->SetRTS(true);
    port->Pause(200);
    bool dsr = true;
    EXPECT_FALSE(port->ReadDSR(dsr));
    EXPECT_FALSE(dsr);
    EXPECT_EQ(server.modemRequests.load(), 1) << "the RTS change asked for the modem state";
    // Data still flows with an echoing server.
    const Bytes data{1, 0xFF, 2};
    EXPECT_EQ(port->Write(data.data(), data.size(), 1000), 3);
    EXPECT_EQ(ReadExactly(*port, 3, 2000), data);
}

TEST(Rfc2217PortTest, AServerWithoutTheComPortOptionIsNoPort)
{
    struct Row {
        const char* name;
        TinyServer::Behaviour behaviour;
        int error;
        int64_t atLeastMs;
        bool ipv6 = false; // the server on ::1, named in brackets
    };
    const Row rows[] = {
        {"refuses the option", TinyServer::bRefusesComPort, EPROTONOSUPPORT, 0},
        {"never answers", TinyServer::bSilent, EPROTONOSUPPORT, 2000},
        {"refuses the option on IPv6", TinyServer::bRefusesComPort, EPROTONOSUPPORT, 0, true},
    };
    for (const Row& row : rows) {
        TinyServer server(row.behaviour, row.ipv6);
        std::string host = row.ipv6 ? "[::1]" : "127.0.0.1";
        std::unique_ptr<SerialPort> port = CreateSerialPort("rfc2217://" + host + ":" + std::to_string(server.Port()));
        ASSERT_NE(port, nullptr) << row.name;
        int64_t start = SystemClock().NowMs();
        EXPECT_EQ(port->Open(), row.error) << row.name;
        EXPECT_GE(SystemClock().NowMs() - start, row.atLeastMs) << row.name;
        EXPECT_LT(SystemClock().NowMs() - start, 3000) << row.name;
        EXPECT_FALSE(port->IsOpen()) << row.name;
    }
}

} // namespace
