// The module's side of the serial protocol, driven byte by byte on a clock
// the test sets.

#include "sim/SimModule.h"
#include "sim/VmTestSupport.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kT0 = 50000;

uint8_t Checksum(const Bytes& bytes)
{
    uint8_t sum = 0;
    for (uint8_t b : bytes)
        sum = static_cast<uint8_t>(sum + b);
    return static_cast<uint8_t>(-sum);
}

// A block packet as the host sends it: stuffed, no flags.
Bytes BlockPacket(bool first, const Bytes& data)
{
    Bytes packet = {0x0B, static_cast<uint8_t>(first ? 1 : 0)};
    for (size_t i = 0; i < 16; ++i)
        packet.push_back(i < data.size() ? data[i] : 0);
    packet.push_back(Checksum(packet));
    Bytes stuffed;
    for (uint8_t b : packet) {
        if (b == 0x7D || b == 0x7E) {
            stuffed.push_back(0x7D);
            stuffed.push_back(b ^ 0x20);
        } else {
            stuffed.push_back(b);
        }
    }
    return stuffed;
}

// A program that reads pin 3 into static 5 and then drives it high, asks
// for two keys and stores them in statics 2 and 3, then waits for a third.
Bytes KeyProgram()
{
    TestProgram program;
    int getByte = program.assembler.AddNative(program.mainClass, "tolve/core/Terminal", "getByte", 0);
    int readPin = program.assembler.AddNative(program.mainClass, "tolve/core/CPU", "readPin", 1);
    int writePin = program.assembler.AddNative(program.mainClass, "tolve/core/CPU", "writePin", 2);
    MoxCode code;
    code.Push(3).Call(readPin).Store(5).Push(3).Push(1).Call(writePin);
    code.Call(getByte).Store(2).Call(getByte).Store(3).Call(getByte).Store(4).Op(tReturn);
    return program.Build(code);
}

class Module {
public:
    explicit Module(SimModule::Options options = {}) : module(options)
    {
        module.SetConnected(true, now);
        module.PowerOn(now);
        Drain();
    }

    Bytes Send(const Bytes& bytes)
    {
        module.ReceiveFromHost(bytes.data(), bytes.size(), now);
        return Drain();
    }
    // Runs the module until `ms` later and returns what it sent.
    Bytes Wait(int64_t ms)
    {
        int64_t until = now + ms;
        Bytes out;
        for (int turns = 0; turns < 10000; ++turns) {
            module.Run(now);
            Bytes got = module.TakeOutput(now);
            out.insert(out.end(), got.begin(), got.end());
            if (now >= until)
                break;
            int64_t next = until;
            for (int64_t at : {module.NextRunMs(now), module.NextOutputMs()})
                if (at >= 0 && at < next)
                    next = at;
            now = std::max(now, next); // at `now` again while the program runs
        }
        return out;
    }
    Bytes Drain() { return module.TakeOutput(now); }
    // DTR pulse: the host's reset.
    Bytes Reset()
    {
        module.SetDtr(true, now);
        now += 2;
        module.SetDtr(false, now);
        return Drain();
    }

    SimModule module;
    int64_t now = kT0;
};

TEST(SimModuleTest, TheLineEchoesEveryByteAndDsrFollowsRts)
{
    Module m;
    EXPECT_EQ(m.Send({0x42, 0x7E}), (Bytes{0x42, 0x7E})) << "during start-up";
    m.Wait(SimModule::kStartUpWindowMs);
    EXPECT_EQ(m.module.GetMode(), SimModule::Mode::mdLoader);
    EXPECT_EQ(m.Send({0x99}), (Bytes{0x99})) << "in the loader";
    m.module.SetDtr(true, m.now);
    EXPECT_EQ(m.Send({0x0E}), (Bytes{0x0E})) << "held in reset";
    EXPECT_FALSE(m.module.Dsr());
    m.module.SetRts(true);
    EXPECT_TRUE(m.module.Dsr());
    m.module.SetRts(false);
    EXPECT_FALSE(m.module.Dsr());
}

struct StartUpCase {
    const char* name;
    bool program;
    int64_t pingAfterMs; // -1: no ping
    Bytes expected;      // after 0x0F
    SimModule::Mode mode;
    int starts = 1; // the program ran this often before, and left pin 3 high
};

TEST(SimModuleTest, StartUpWindowDecidesBetweenLoaderAndProgram)
{
    const StartUpCase cases[] = {
        {"ping in the window", true, 50, {0x0E, 0x50}, SimModule::Mode::mdLoader},
        {"ping at the window's last moment", true, SimModule::kStartUpWindowMs - 1, {0x0E, 0x50}, SimModule::Mode::mdLoader},
        {"no ping, a program", true, -1, {0x51}, SimModule::Mode::mdRunning},
        {"no ping, no program", false, -1, {0x50}, SimModule::Mode::mdLoader},
        {"ping after the window", true, SimModule::kStartUpWindowMs + 10, {0x51, 0x0E}, SimModule::Mode::mdRunning},
        {"a restart finds the pins low inputs", true, -1, {0x51}, SimModule::Mode::mdRunning, 2},
    };
    for (const StartUpCase& c : cases) {
        Module m;
        if (c.program)
            m.module.LoadProgram(KeyProgram());
        for (int start = 1; start < c.starts; ++start) {
            m.Reset();
            m.Wait(SimModule::kStartUpWindowMs + 10);
        }
        EXPECT_EQ(m.Reset(), Bytes{0x0F}) << c.name;
        Bytes seen;
        if (c.pingAfterMs >= 0) {
            seen = m.Wait(c.pingAfterMs);
            Bytes answer = m.Send({0x0E});
            seen.insert(seen.end(), answer.begin(), answer.end());
        }
        Bytes rest = m.Wait(SimModule::kStartUpWindowMs + 10);
        seen.insert(seen.end(), rest.begin(), rest.end());
        // Only the start-up bytes: a running program asks for a key (0x11).
        seen.erase(std::remove(seen.begin(), seen.end(), 0x11), seen.end());
        EXPECT_EQ(seen, c.expected) << c.name;
        EXPECT_EQ(m.module.GetMode(), c.mode) << c.name;
        if (const MoxVm* vm = m.module.Vm()) {
            EXPECT_EQ(vm->Memory()->Read16(vm->StaticsBase() + 10), 0) << c.name << ": pin 3 as the program found it";
        }
    }
}

TEST(SimModuleTest, StatusPacketsReportPcAndActivity)
{
    Module m;
    m.module.LoadProgram(KeyProgram());
    m.Wait(SimModule::kStartUpWindowMs + 1);
    m.Drain();
    // The program waits for its first key: pc + 1 little-endian, activity 2.
    Bytes reply = m.Send({0x01});
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(reply[0], 0x01) << "the echo first";
    EXPECT_EQ(reply[1], 0x81);
    int pc = m.module.Vm()->Pc();
    EXPECT_EQ(reply[2] | reply[3] << 8, pc + 1);
    EXPECT_EQ(reply[4], SimModule::acWaitingForKey);
    EXPECT_EQ(Checksum(Bytes(reply.begin() + 1, reply.begin() + 7)), 0) << "the six bytes sum to zero";
    EXPECT_EQ(reply[7], 0x7E);

    Module loader;
    loader.Wait(SimModule::kStartUpWindowMs + 1);
    Bytes idle = loader.Send({0x01});
    EXPECT_EQ(idle, (Bytes{0x01, 0x81, 0x00, 0x00, SimModule::acLoader, 0x00, 0x7F, 0x7E})) << "pc -1 and the loader";
}

struct DownloadCase {
    const char* name;
    std::vector<Bytes> packets;
    Bytes expectedReplies; // without echoes
    Bytes eepromStart;
    uint32_t length;
};

TEST(SimModuleTest, DownloadsCheckEachBlockBeforeWritingIt)
{
    Bytes first(16, 0x11), second(16, 0x22), stuffed = {0x7E, 0x7D, 0x7E};
    Bytes damaged = BlockPacket(false, second);
    damaged[5] ^= 1;
    const DownloadCase cases[] = {
        {"two blocks", {{0x0C}, BlockPacket(true, first), BlockPacket(false, second)}, {0x8C, 0x8B, 0x8B}, {0x11, 0x22}, 32},
        {"escaped bytes", {{0x0C}, BlockPacket(true, stuffed)}, {0x8C, 0x8B}, {0x7E, 0x7D, 0x7E}, 16},
        {"a damaged block is not acknowledged", {{0x0C}, BlockPacket(true, first), damaged}, {0x8C, 0x8B}, {0x11}, 16},
        {"a first block starts over", {BlockPacket(true, first), BlockPacket(true, second)}, {0x8B, 0x8B}, {0x22}, 16},
    };
    for (const DownloadCase& c : cases) {
        Module m;
        m.Send({0x0E}); // claimed in the window: the loader
        size_t echoes = 0;
        Bytes replies;
        for (const Bytes& packet : c.packets) {
            Bytes out = m.Send(packet);
            ASSERT_GE(out.size(), packet.size()) << c.name;
            EXPECT_TRUE(std::equal(packet.begin(), packet.end(), out.begin())) << c.name << ": echo first";
            replies.insert(replies.end(), out.begin() + static_cast<long>(packet.size()), out.end());
            echoes += packet.size();
        }
        EXPECT_EQ(replies, c.expectedReplies) << c.name;
        EXPECT_EQ(m.module.ProgramLength(), c.length) << c.name;
        for (size_t i = 0; i < c.eepromStart.size(); ++i) {
            size_t at = c.length == 32 ? i * 16 : i;
            EXPECT_EQ(m.module.ProgramEeprom()[at], c.eepromStart[i]) << c.name << " byte " << at;
        }
    }
}

TEST(SimModuleTest, KeyRequestsWaitForTheHostsAnswer)
{
    Module m;
    m.module.LoadProgram(KeyProgram());
    EXPECT_EQ(m.Wait(SimModule::kStartUpWindowMs + 5), (Bytes{0x51, 0x11}));
    // A key that is itself a command code is still the key.
    EXPECT_EQ(m.Send({0x12, 0x01}), (Bytes{0x12, 0x01}));
    EXPECT_EQ(m.Wait(1), Bytes{0x11});
    EXPECT_EQ(m.Send({0x13}), Bytes{0x13});
    EXPECT_EQ(m.Wait(1), Bytes{0x11});
    const MoxVm* vm = m.module.Vm();
    EXPECT_EQ(static_cast<int16_t>(vm->Memory()->Read16(vm->StaticsBase() + 4)), 1);
    EXPECT_EQ(static_cast<int16_t>(vm->Memory()->Read16(vm->StaticsBase() + 6)), -1);
    // The host goes away: the waiting program gets no key and ends.
    m.module.SetConnected(false, m.now);
    m.Wait(1);
    EXPECT_EQ(static_cast<int16_t>(vm->Memory()->Read16(vm->StaticsBase() + 8)), -1);
}

TEST(SimModuleTest, WithNobodyConnectedAKeyRequestIsAnsweredAtAHostsPace)
{
    // Asks for keys for ever, counting the asks in static 2.
    TestProgram program;
    int getByte = program.assembler.AddNative(program.mainClass, "tolve/core/Terminal", "getByte", 0);
    MoxCode code;
    code.Label("ask").Call(getByte).Op(tPop).Op(tGetstatic).Static(2).Push(1).Op(tIadd).Store(2);
    code.Op(tGoto).Branch("ask");
    Module m;
    m.module.LoadProgram(program.Build(code));
    m.Wait(SimModule::kStartUpWindowMs + 5);
    m.module.SetConnected(false, m.now);
    const MoxVm* vm = m.module.Vm();
    int16_t before = static_cast<int16_t>(vm->Memory()->Read16(vm->StaticsBase() + 4));
    m.Wait(1000);
    int16_t asks = static_cast<int16_t>(vm->Memory()->Read16(vm->StaticsBase() + 4)) - before;
    EXPECT_GE(asks, 1000 / SimModule::kNoHostAnswerMs - 1);
    EXPECT_LE(asks, 1000 / SimModule::kNoHostAnswerMs + 1) << "a program waiting for a key must not spin";
}

TEST(SimModuleTest, AResetStopsTheProgramAndDropsWhatWasNotSent)
{
    Module m;
    m.module.LoadProgram(KeyProgram());
    m.Wait(SimModule::kStartUpWindowMs + 5);
    m.module.SetDtr(true, m.now);
    EXPECT_EQ(m.module.GetMode(), SimModule::Mode::mdResetHeld);
    EXPECT_EQ(m.module.Vm(), nullptr);
    EXPECT_EQ(m.Send({0x12, 0x41}), (Bytes{0x12, 0x41})) << "echoed, nothing else";
    m.module.SetDtr(false, m.now);
    EXPECT_EQ(m.Drain(), Bytes{0x0F});
}

TEST(SimModuleTest, PacedOutputKeepsTheLinesTiming)
{
    SimModule::Options options;
    options.paced = true;
    Module m(options);
    m.Wait(SimModule::kStartUpWindowMs + 5); // 0x0F and 0x50 have gone
    Bytes block(16, 0);
    Bytes packet = BlockPacket(true, block); // 19 bytes of echo, then 0x8B
    m.module.ReceiveFromHost(packet.data(), packet.size(), m.now);
    // 10 bits at 28,800 baud: 347 us a byte, so 2 bytes in the first ms.
    EXPECT_EQ(m.module.TakeOutput(m.now).size(), 0u);
    EXPECT_EQ(m.module.TakeOutput(m.now + 1).size(), 2u);
    EXPECT_EQ(m.module.TakeOutput(m.now + 6).size(), 15u);
    Bytes rest = m.module.TakeOutput(m.now + 7);
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(rest.back(), 0x8B);
    EXPECT_EQ(m.module.NextOutputMs(), -1);
}

TEST(SimModuleTest, APacedProgramsClockKeepsToRealTime)
{
    TestProgram program;
    int delay = program.assembler.AddNative(program.mainClass, "tolve/core/CPU", "delay", 1);
    MoxCode code;
    code.Push(1000).Call(delay).Push(1).Store(2).Op(tReturn); // 100 ms
    Bytes image = program.Build(code);
    SimModule::Options options;
    options.paced = true;
    Module m(options);
    m.module.LoadProgram(image);
    m.Wait(SimModule::kStartUpWindowMs); // the program starts now
    int64_t start = m.now;
    m.Wait(2);
    ASSERT_NE(m.module.Vm(), nullptr);
    EXPECT_EQ(m.module.Vm()->GetState(), MoxVm::State::vsRunning) << "asleep in its delay";
    int64_t wake = m.module.NextRunMs(m.now);
    EXPECT_GE(wake, start + 100);
    EXPECT_LE(wake, start + 102);
    m.Wait(wake - m.now);
    EXPECT_EQ(m.module.Vm()->GetState(), MoxVm::State::vsEnded);
}

} // namespace
