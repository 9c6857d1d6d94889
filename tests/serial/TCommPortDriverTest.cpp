#include "serial/FakeSerialPort.h"
#include "serial/TCommPortDriver.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

namespace {

struct DriverFixture {
    FakeClock clock;
    FakeLine line{clock};
    EventLoop loop;
    TCommPortDriver driver{clock, loop, FakePortFactory({{"COM2", &line}, {"rfc2217://h:1", &line}})};
};

struct DelayCase {
    const char* name;
    TComPortBaudRate rate;
    int count;
    int ms;
};

TEST(TCommPortDriverTest, DelayForRX)
{
    const DelayCase cases[] = {
        {"9600 baud, 10 chars: 10.4 ms", br9600, 10, 10},
        {"115200 baud, 64 chars: 5.6 ms", br115200, 64, 6},
        {"28800 baud, one block: 6.6 ms", br28800, 19, 7},
        {"110 baud, the slowest: 90.9 ms", br110, 1, 91},
        {"a half rounds to even (down)", br1200, 3, 25},  // 25.0 exactly
        {"300 baud, 1 char: 33.3 ms", br300, 1, 33},
        {"2400 baud, 3 chars: 12.5 ms, half to even", br2400, 3, 12},
        {"4800 baud, 9 chars: 18.75 ms", br4800, 9, 19},
        {"no characters", br9600, 0, 0},
    };
    for (const DelayCase& c : cases)
        EXPECT_EQ(DelayForRX(c.rate, c.count), c.ms) << c.name;
}

struct PropertyCase {
    const char* name;
    std::function<void(TCommPortDriver&)> change;
    std::function<bool(const TCommPortDriver&)> holds;
};

TEST(TCommPortDriverTest, PropertyWrites)
{
    const PropertyCase cases[] = {
        {"PacketTimeout below the polling delay", [](TCommPortDriver& d) { d.SetPacketTimeout(30); },
         [](const TCommPortDriver& d) { return d.PacketTimeout() == 300; }},
        {"PacketTimeout 0 means none", [](TCommPortDriver& d) { d.SetPacketTimeout(0); },
         [](const TCommPortDriver& d) { return d.PacketTimeout() == -1; }},
        {"PacketTimeout above the delay kept", [](TCommPortDriver& d) { d.SetPacketTimeout(80); },
         [](const TCommPortDriver& d) { return d.PacketTimeout() == 80; }},
        {"PacketSize 0 is packet mode off", [](TCommPortDriver& d) { d.SetPacketSize(0); },
         [](const TCommPortDriver& d) { return d.PacketSize() == -1; }},
        {"PacketSize beyond the buffer doubles it", [](TCommPortDriver& d) { d.SetPacketSize(5000); },
         [](const TCommPortDriver& d) { return d.PacketSize() == 5000 && d.ComPortInBufSize() == 10000; }},
        {"a new polling delay re-checks PacketTimeout",
         [](TCommPortDriver& d) {
             d.SetPacketTimeout(60);
             d.SetComPortPollingDelay(100);
         },
         [](const TCommPortDriver& d) { return d.PacketTimeout() == 350 && d.ComPortPollingDelay() == 100; }},
        {"a smaller input buffer re-checks PacketSize",
         [](TCommPortDriver& d) {
             d.SetPacketSize(600);
             d.SetComPortInBufSize(100);
         },
         [](const TCommPortDriver& d) { return d.ComPortInBufSize() == 1200; }},
    };
    for (const PropertyCase& c : cases) {
        DriverFixture f;
        c.change(f.driver);
        EXPECT_TRUE(c.holds(f.driver)) << c.name;
    }
}

TEST(TCommPortDriverTest, DisconnectedResults)
{
    DriverFixture f;
    uint8_t byte = 0;
    EXPECT_EQ(f.driver.CharCount(), -1);
    EXPECT_EQ(f.driver.OutFreeSpace(), 65535);
    EXPECT_EQ(f.driver.SendData(&byte, 1), 0);
    EXPECT_TRUE(f.driver.ReadChar(byte)) << "a read on a closed port is a failure, never a byte";
    EXPECT_FALSE(f.driver.ReadDSR());
    EXPECT_EQ(f.driver.WaitForData(f.clock.NowMs() + 100), -1);
    EXPECT_TRUE(f.line.written.empty());
}

TEST(TCommPortDriverTest, ConnectOpensTheNamedPortWithTheLineSettings)
{
    DriverFixture f;
    f.driver.SetComPortSpeed(br28800);
    f.driver.SetEnableDTROnOpen(false);
    f.line.dtr = true;
    f.line.rts = true;
    ASSERT_TRUE(f.driver.Connect());
    EXPECT_EQ(f.line.opens, 1);
    EXPECT_EQ(f.line.settings.baudRate, 28800);
    EXPECT_EQ(f.line.settings.dataBits, 8);
    EXPECT_EQ(f.line.settings.parity, SerialParity::None);
    EXPECT_EQ(f.line.settings.stopBits, SerialStopBits::One);
    EXPECT_FALSE(f.line.settings.rtsCtsFlow);
    EXPECT_FALSE(f.line.dtr) << "DTR, the module's reset line, stays low";
    EXPECT_FALSE(f.line.rts);
    EXPECT_EQ(f.line.purges, 1);
    EXPECT_TRUE(f.driver.Connect()) << "connecting twice is harmless";
    EXPECT_EQ(f.line.opens, 1);
    EXPECT_EQ(f.driver.PortName(), "COM2");
}

TEST(TCommPortDriverTest, PortChangesOnlyWhileDisconnected)
{
    DriverFixture f;
    ASSERT_TRUE(f.driver.Connect());
    f.driver.SetComPort(pnCOM5);
    f.driver.SetComPortName("rfc2217://h:1");
    EXPECT_EQ(f.driver.ComPort(), pnCOM2);
    EXPECT_EQ(f.driver.PortName(), "COM2");
    f.driver.Disconnect();
    EXPECT_EQ(f.line.closes, 1);
    f.driver.SetComPort(pnCOM5);
    EXPECT_EQ(f.driver.PortName(), "COM5");
    EXPECT_FALSE(f.driver.Connect()) << "COM5 has no device";
    f.driver.SetComPortName("rfc2217://h:1");
    EXPECT_EQ(f.driver.PortName(), "rfc2217://h:1");
    EXPECT_TRUE(f.driver.Connect());
}

TEST(TCommPortDriverTest, ConnectFailsWhenThePortIsBusy)
{
    DriverFixture f;
    f.line.openError = EBUSY;
    EXPECT_FALSE(f.driver.Connect());
    EXPECT_FALSE(f.driver.Connected());
    EXPECT_EQ(f.driver.LastError(), EBUSY);
}

TEST(TCommPortDriverTest, SendDataReportsAStalledLineNegated)
{
    DriverFixture f;
    ASSERT_TRUE(f.driver.Connect());
    const uint8_t data[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(f.driver.SendData(data, 5), 5);
    f.line.writeLimit = 2;
    EXPECT_EQ(f.driver.SendData(data, 5), -2);
    EXPECT_FALSE(f.driver.SendString("abc"));
    f.line.writeLimit = -1;
    EXPECT_TRUE(f.driver.SendZString("xyz"));
    EXPECT_EQ(std::string(f.line.written.end() - 3, f.line.written.end()), "xyz");
}

TEST(TCommPortDriverTest, WaitForDataBlocksUntilADeadlineOrAByte)
{
    DriverFixture f;
    ASSERT_TRUE(f.driver.Connect());
    int64_t start = f.clock.NowMs();
    EXPECT_EQ(f.driver.WaitForData(start + 500), 0);
    EXPECT_EQ(f.clock.NowMs(), start + 500);
    EXPECT_EQ(f.line.waits, 1) << "one blocking wait, no polling";

    f.line.DeliverAfter(120, {0x41, 0x42});
    EXPECT_EQ(f.driver.WaitForData(f.clock.NowMs() + 500), 2);
    EXPECT_EQ(f.clock.NowMs(), start + 620);
    uint8_t c = 0;
    EXPECT_FALSE(f.driver.ReadChar(c));
    EXPECT_EQ(c, 0x41);

    f.line.broken = true;
    EXPECT_EQ(f.driver.WaitForData(f.clock.NowMs() + 500), -1);
    EXPECT_EQ(f.driver.LastError(), EIO);
}

struct Received {
    std::vector<std::vector<uint8_t>> chunks;
    std::vector<int32_t> elapsed;
};

TEST(TCommPortDriverTest, RawModeHandsOverWhatArrivedOnEachTick)
{
    DriverFixture f;
    Received got;
    f.driver.SetOnReceiveData([&](TCommPortDriver& sender, const uint8_t* data, int32_t size) {
        EXPECT_EQ(&sender, &f.driver);
        got.chunks.emplace_back(data, data + size);
    });
    f.driver.PollStep(); // not connected: nothing
    ASSERT_TRUE(f.driver.Connect());
    f.driver.PollStep(); // nothing waiting: no event
    f.line.Deliver({1, 2, 3});
    f.driver.PollStep();
    f.line.Deliver({4});
    f.driver.PollStep();
    ASSERT_EQ(got.chunks.size(), 2u);
    EXPECT_EQ(got.chunks[0], (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(got.chunks[1], (std::vector<uint8_t>{4}));

    // A read that fails marks the line as failed until the next connection.
    EXPECT_FALSE(f.driver.LineFailed());
    f.line.broken = true;
    f.driver.PollStep();
    EXPECT_TRUE(f.driver.LineFailed());
    EXPECT_EQ(got.chunks.size(), 2u);
    f.driver.Disconnect();
    f.line.broken = false;
    ASSERT_TRUE(f.driver.Connect());
    EXPECT_FALSE(f.driver.LineFailed());
}

TEST(TCommPortDriverTest, PacketModeCutsPacketsAndTimesOutAShortOne)
{
    for (TPacketMode mode : {pmPass, pmDiscard}) {
        DriverFixture f;
        Received got;
        f.driver.SetOnReceiveData([](TCommPortDriver&, const uint8_t*, int32_t) {});
        f.driver.SetOnReceivePacket([&](TCommPortDriver&, const uint8_t* data, int32_t size, int32_t elapsed) {
            got.chunks.emplace_back(data, data + size);
            got.elapsed.push_back(elapsed);
        });
        f.driver.SetComPortSpeed(br9600);
        f.driver.SetPacketSize(8);
        f.driver.SetPacketTimeout(100);
        f.driver.SetPacketMode(mode);
        ASSERT_TRUE(f.driver.Connect());
        std::vector<uint8_t> bytes(20);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i);
        f.line.Deliver(bytes);
        f.driver.PollStep();
        ASSERT_EQ(got.chunks.size(), 2u) << mode;
        EXPECT_EQ(got.chunks[1][0], 8);
        EXPECT_EQ(got.elapsed[0], 0);
        // The 4 left are timed from when they came in behind the two
        // packets: 16 character times at 9600 baud after the tick.
        f.clock.Advance(50);
        f.driver.PollStep();
        f.clock.Advance(66);
        f.driver.PollStep(); // 100 ms after they came: not yet beyond the time-out
        EXPECT_EQ(got.chunks.size(), 2u);
        f.clock.Advance(1);
        f.driver.PollStep();
        if (mode == pmPass) {
            ASSERT_EQ(got.chunks.size(), 3u);
            EXPECT_EQ(got.chunks[2], (std::vector<uint8_t>{16, 17, 18, 19}));
            EXPECT_EQ(got.elapsed[2], 101);
        } else {
            EXPECT_EQ(got.chunks.size(), 2u);
        }
        EXPECT_EQ(f.driver.CharCount(), 0) << "a timed-out short packet is taken either way";
    }
}

TEST(TCommPortDriverTest, PollTimerRunsOnlyWhileConnectedAndPumped)
{
    DriverFixture f;
    int ticks = 0;
    f.driver.SetOnReceiveData([&](TCommPortDriver&, const uint8_t*, int32_t) { ++ticks; });
    f.driver.SetComPortPollingDelay(1);
    ASSERT_TRUE(f.driver.Connect());
    f.line.Deliver({7});
    EXPECT_EQ(ticks, 0) << "nothing runs until the loop is pumped";
    for (int i = 0; i < 50 && ticks == 0; ++i)
        f.loop.RunOnce(-1, 5);
    EXPECT_EQ(ticks, 1);
    f.driver.Disconnect();
    f.line.Deliver({8});
    f.loop.RunOnce(-1, 5);
    EXPECT_EQ(ticks, 1) << "the timer stops with the connection";
}

} // namespace
