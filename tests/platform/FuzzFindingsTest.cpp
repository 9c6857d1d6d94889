// What fuzzing the network port found, each row named after its finding.

#include "platform/Clock.h"
#include "platform/Rfc2217Codec.h"
#include "platform/SerialPort.h"
#include "platform/Tcp.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kIAC = telnet::kIAC;
const Bytes kAgree = {kIAC, telnet::kWILL, telnet::kOptionComPort, kIAC, telnet::kDO, telnet::kOptionComPort,
                      kIAC, telnet::kWILL, telnet::kOptionBinary, kIAC, telnet::kDO, telnet::kOptionBinary};

// A server that agrees at once, sends `last` after `delayMs` and hangs up:
// by then the client is in the middle of a wait. Built on the platform's own
// sockets, so that it serves on either system.
class HangingUpServer {
public:
    HangingUpServer(Bytes last, int delayMs) : last_(std::move(last)), delayMs_(delayMs)
    {
        listener_.Listen(0);
        thread_ = std::thread([this] { Serve(); });
    }
    ~HangingUpServer() { thread_.join(); }
    HangingUpServer(const HangingUpServer&) = delete;
    HangingUpServer& operator=(const HangingUpServer&) = delete;

    uint16_t Port() const { return listener_.Port(); }

private:
    void Serve()
    {
        std::vector<WaitItem> waiting{WaitItem{listener_.Fd(), true, false}};
        WaitForDescriptors(waiting, 5000);
        int fd = listener_.Accept();
        if (fd < 0)
            return;
        TcpConnection client(fd);
        client.Send(kAgree.data(), kAgree.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
        if (!last_.empty())
            client.Send(last_.data(), last_.size());
        // What the client sent is taken first, so that the close is a plain
        // end of the stream.
        uint8_t sink[512];
        while (client.Receive(sink, sizeof sink) > 0) {
        }
    }

    Bytes last_;
    int delayMs_;
    TcpListener listener_;
    std::thread thread_;
};

struct HangUpRow {
    const char* name;
    Bytes last;      // what the server sends just before it hangs up
    bool read;       // a read waits, else a plain wait for data
};

TEST(FuzzFindingsTest, AServerThatHangsUpDuringAWaitFailsTheWaitAtOnce)
{
    const HangUpRow rows[] = {
        {"hang-up while a read waits", {}, true},
        {"hang-up while a wait for data is on", {}, false},
        {"a Telnet command, then the hang-up, while a read waits", {kIAC, telnet::kNOP}, true},
        {"a modem state report, then the hang-up, while a wait is on",
         {kIAC, telnet::kSB, telnet::kOptionComPort, rfc2217::kNotifyModemState + rfc2217::kServerOffset,
          rfc2217::kModemDsr, kIAC, telnet::kSE},
         false},
    };
    for (const HangUpRow& row : rows) {
        HangingUpServer server(row.last, 300);
        std::unique_ptr<SerialPort> port = MakeRfc2217Port("x", "127.0.0.1", server.Port());
        ASSERT_EQ(port->Open(), 0) << row.name;
        const int64_t start = SystemClock().NowMs();
        uint8_t byte = 0;
        const long result = row.read ? port->Read(&byte, 1, 5000) : port->WaitReadable(5000);
        // Not 0, the "nothing by the deadline" answer, long before the deadline.
        EXPECT_EQ(result, -1) << row.name;
        EXPECT_LT(SystemClock().NowMs() - start, 3000) << row.name;
        EXPECT_EQ(port->InputWaiting(), -1) << row.name;
    }
}

} // namespace
