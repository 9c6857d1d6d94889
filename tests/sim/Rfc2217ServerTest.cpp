// The device-server end of RFC 2217 in front of a simulated module, spoken
// to by the tool's own Telnet codec as the client.

#include "platform/Rfc2217Codec.h"
#include "platform/SerialPort.h"
#include "platform/SerialPortList.h"
#include "sim/Rfc2217Server.h"
#include "sim/SimModule.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using namespace rfc2217;
using Bytes = std::vector<uint8_t>;

// A client codec connected to a server on one module.
struct Connection {
    Connection()
    {
        for (uint8_t option : {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead, telnet::kOptionComPort}) {
            client.Accept(option, true, true);
            client.Accept(option, false, true);
        }
        server.Open(now);
        client.Request(telnet::kOptionComPort, true, true);
        Exchange();
    }

    // Passes bytes both ways until both sides are quiet; returns the
    // client's events.
    std::vector<TelnetEvent> Exchange()
    {
        std::vector<TelnetEvent> events;
        for (int turn = 0; turn < 10; ++turn) {
            Bytes toServer = client.TakeOutput();
            if (!toServer.empty())
                server.Receive(toServer.data(), toServer.size(), now);
            Bytes toClient = server.TakeOutput(now, SIZE_MAX);
            if (toServer.empty() && toClient.empty())
                break;
            std::vector<TelnetEvent> got = client.Feed(toClient.data(), toClient.size());
            events.insert(events.end(), got.begin(), got.end());
        }
        return events;
    }

    // The COM port answers among the events.
    std::vector<ComPortMessage> Send(uint8_t command, const Bytes& value)
    {
        client.SendComPort(command, value);
        std::vector<ComPortMessage> answers;
        for (const TelnetEvent& event : Exchange()) {
            ComPortMessage message;
            if (ParseComPortMessage(event, message))
                answers.push_back(message);
        }
        return answers;
    }

    int64_t now = 1000;
    SimModule module{SimModule::Options{}};
    Rfc2217Server server{module};
    TelnetCodec client;
};

TEST(Rfc2217ServerTest, ControlLinesReachTheModuleAndDsrIsReported)
{
    Connection c;
    // RTS raises DSR, which the server reports with its change bit.
    std::vector<ComPortMessage> answers = c.Send(kSetControl, {kControlRtsOn});
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].value, Bytes{kControlRtsOn});
    EXPECT_EQ(answers[1].command, kNotifyModemState + kServerOffset);
    EXPECT_EQ(answers[1].value, Bytes{kModemDsr | kModemDeltaDsr});
    EXPECT_TRUE(c.module.Rts());
    EXPECT_EQ(c.Send(kNotifyModemState, {})[0].value, Bytes{kModemDsr});
    // With the mask cleared, changes go unreported.
    c.Send(kSetModemStateMask, {0});
    EXPECT_EQ(c.Send(kSetControl, {kControlRtsOff}).size(), 1u);
    EXPECT_FALSE(c.module.Dsr());
    // DTR is the reset line: its fall starts the module with 0x0F.
    c.Send(kSetControl, {kControlDtrOn});
    EXPECT_EQ(c.module.GetMode(), SimModule::Mode::mdResetHeld);
    c.client.SendComPort(kSetControl, {kControlDtrOff});
    bool startLoad = false;
    for (const TelnetEvent& event : c.Exchange())
        startLoad |= event.kind == TelnetEvent::evData && event.bytes == Bytes{0x0F};
    EXPECT_TRUE(startLoad);
    EXPECT_EQ(c.module.GetMode(), SimModule::Mode::mdStartUp);
}

TEST(Rfc2217ServerTest, ClosingTheConnectionDropsTheLines)
{
    Connection c;
    c.Send(kSetControl, {kControlDtrOn});
    c.Send(kSetControl, {kControlRtsOn});
    c.server.Close(c.now);
    EXPECT_FALSE(c.module.Connected());
    EXPECT_FALSE(c.module.Rts());
    EXPECT_FALSE(c.module.Dtr());
    EXPECT_EQ(c.module.GetMode(), SimModule::Mode::mdStartUp) << "the reset line fell: the module starts";
}

struct PortNameCase {
    const char* name;
    const char* port;
    bool simulator;
    int openError; // from a test program, which has no simulator next to it
};

TEST(SimulatorPortTest, SimNamesTheBundledSimulator)
{
    const PortNameCase cases[] = {
        {"plain", "sim", true, ENOENT},
        {"paced", "sim:pace", true, ENOENT},
        {"with memory", "sim:pace,memory=8192", true, ENOENT},
        {"an unknown option", "sim:fast", true, EINVAL},
        {"a bad memory size", "sim:memory=lots", true, EINVAL},
        {"not a simulator", "simulator", false, 0},
    };
    for (const PortNameCase& c : cases) {
        EXPECT_EQ(IsPortDeviceName(c.port), c.simulator) << c.name;
        std::unique_ptr<SerialPort> port = CreateSerialPort(c.port);
        ASSERT_EQ(port != nullptr, c.simulator) << c.name;
        if (port) {
            EXPECT_EQ(port->Name(), c.port) << c.name;
            EXPECT_EQ(port->Open(), c.openError) << c.name;
            EXPECT_FALSE(port->IsOpen()) << c.name;
        }
    }
}

} // namespace
