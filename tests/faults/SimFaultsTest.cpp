// The simulator's line faults, byte by byte on a clock the test sets: each
// fault does exactly what it says and nothing else, so a host test that meets
// it knows what it met.

#include "sim/SimModule.h"
#include "sim/SimOptions.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kT0 = 70000;

// A block packet as the host sends it: stuffed, no flags.
Bytes Block(bool first, uint8_t fill)
{
    Bytes packet = {0x0B, static_cast<uint8_t>(first ? 1 : 0)};
    packet.insert(packet.end(), 16, fill);
    uint8_t sum = 0;
    for (uint8_t b : packet)
        sum = static_cast<uint8_t>(sum + b);
    packet.push_back(static_cast<uint8_t>(-sum));
    Bytes stuffed;
    for (uint8_t b : packet) {
        if (b == 0x7D || b == 0x7E) {
            stuffed.push_back(0x7D);
            stuffed.push_back(static_cast<uint8_t>(b ^ 0x20));
        } else {
            stuffed.push_back(b);
        }
    }
    return stuffed;
}

// A module in its loader, as a probe leaves it: reset, pinged in the window.
class Loader {
public:
    explicit Loader(const SimFaults& faults)
    {
        SimModule::Options options;
        options.faults = faults;
        module = std::make_unique<SimModule>(options);
        module->SetConnected(true, now);
        module->PowerOn(now);
        module->Run(now + SimModule::kStartUpWindowMs);
        now += SimModule::kStartUpWindowMs;
        Take();
    }

    Bytes Send(const Bytes& bytes)
    {
        module->ReceiveFromHost(bytes.data(), bytes.size(), now);
        return Take();
    }
    Bytes Take() { return module->TakeOutput(now); }
    Bytes Reset()
    {
        module->SetDtr(true, now);
        now += 2;
        module->SetDtr(false, now);
        return Take();
    }

    std::unique_ptr<SimModule> module;
    int64_t now = kT0;
};

Bytes Echoed(const Bytes& sent, const Bytes& answer)
{
    Bytes out = sent;
    out.insert(out.end(), answer.begin(), answer.end());
    return out;
}

struct FaultParseCase {
    const char* name;
    std::vector<std::string> args; // after --listen-port 0
    bool accepted;
    SimFaults expected;
};

SimFaults With(void (*set)(SimFaults&))
{
    SimFaults faults;
    set(faults);
    return faults;
}

TEST(SimFaultsTest, OptionsTakeEachFaultAndRefuseWhatNoFaultMeans)
{
    const FaultParseCase cases[] = {
        {"none", {}, true, {}},
        {"drop-ack", {"--drop-ack", "3"}, true, With([](SimFaults& f) { f.dropAckOfBlock = 3; })},
        {"drop-ack of block 0, which no download has", {"--drop-ack", "0"}, false, {}},
        {"corrupt-status, the flag", {"--corrupt-status", "6"}, true, With([](SimFaults& f) { f.corruptStatusByte = 6; })},
        {"corrupt-status beyond any packet", {"--corrupt-status", "14"}, false, {}},
        {"silent from the first byte", {"--silent-after", "0"}, true, With([](SimFaults& f) { f.silentAfterBytes = 0; })},
        {"hang-up", {"--hang-up-at-block", "2"}, true, With([](SimFaults& f) { f.hangUpAtBlock = 2; })},
        {"garbage", {"--garbage", "300"}, true, With([](SimFaults& f) { f.garbageBeforeStartUp = 300; })},
        {"no garbage is not a fault", {"--garbage", "0"}, false, {}},
        {"ping answer in hex", {"--ping-answer", "0x33"}, true, With([](SimFaults& f) { f.pingAnswer = 0x33; })},
        {"ping answer in decimal", {"--ping-answer", "255"}, true, With([](SimFaults& f) { f.pingAnswer = 255; })},
        {"ping answer beyond a byte", {"--ping-answer", "0x100"}, false, {}},
        {"ping answer, bad hex", {"--ping-answer", "0xg1"}, false, {}},
        {"dsr low", {"--dsr", "low"}, true, With([](SimFaults& f) { f.dsr = SimFaults::Dsr::dsLow; })},
        {"dsr high", {"--dsr", "high"}, true, With([](SimFaults& f) { f.dsr = SimFaults::Dsr::dsHigh; })},
        {"dsr of no level", {"--dsr", "off"}, false, {}},
        {"a negative count", {"--silent-after", "-1"}, false, {}},
        {"a value missing", {"--drop-ack"}, false, {}},
        {"two faults", {"--drop-ack", "2", "--dsr", "high"}, true, With([](SimFaults& f) {
             f.dropAckOfBlock = 2;
             f.dsr = SimFaults::Dsr::dsHigh;
         })},
    };
    for (const FaultParseCase& c : cases) {
        std::vector<std::string> args = {"--listen-port", "0"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SimOptions options = ParseSimOptions(args);
        EXPECT_EQ(options.outcome == SimOptions::ocRun, c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_TRUE(options.faults == c.expected) << c.name;
        } else {
            // The argument at fault is named, value and all.
            std::string named = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
            EXPECT_EQ(options.error, named) << c.name;
        }
    }
}

TEST(SimFaultsTest, ADroppedAcknowledgementLosesOnlyTheAnswer)
{
    for (int32_t dropped : {1, 2, 3}) {
        SimFaults faults;
        faults.dropAckOfBlock = dropped;
        Loader m(faults);
        // Counted per download: the fault comes back in the next one.
        for (int download = 0; download < 2; ++download) {
            EXPECT_EQ(m.Send({0x0C}), (Bytes{0x0C, 0x8C}));
            for (int32_t block = 1; block <= 3; ++block) {
                Bytes packet = Block(block == 1, static_cast<uint8_t>(0x10 * block + download));
                Bytes expected = block == dropped ? packet : Echoed(packet, {0x8B});
                EXPECT_EQ(m.Send(packet), expected) << "block " << block << " of 3, block " << dropped << " dropped";
            }
            // The block whose answer was lost was written all the same.
            const std::vector<uint8_t>& eeprom = m.module->ProgramEeprom();
            EXPECT_EQ(m.module->ProgramLength(), 48u);
            for (int32_t block = 1; block <= 3; ++block)
                EXPECT_EQ(eeprom[static_cast<size_t>(16 * block - 1)], 0x10 * block + download) << block;
        }
    }
}

TEST(SimFaultsTest, AHangUpCutsTheLineAsTheBlockArrives)
{
    SimFaults faults;
    faults.hangUpAtBlock = 2;
    Loader m(faults);
    m.Send({0x0C});
    EXPECT_EQ(m.Send(Block(true, 0x11)), Echoed(Block(true, 0x11), {0x8B}));
    EXPECT_FALSE(m.module->TakeHangUp());
    Bytes second = Block(false, 0x22);
    // Whatever follows in the same write never arrived either.
    second.push_back(0x01);
    EXPECT_EQ(m.Send(second), Bytes{}) << "not even the echo";
    EXPECT_TRUE(m.module->TakeHangUp());
    EXPECT_FALSE(m.module->TakeHangUp()) << "reported once";
    EXPECT_EQ(m.module->ProgramLength(), 16u) << "the block was cut off with the line";
}

struct StatusCase {
    const char* name;
    int32_t corrupt;
    Bytes line; // after the command's echo
};

TEST(SimFaultsTest, ACorruptStatusInvertsOneByteOnTheLine)
{
    // In the loader: pc field 0, activity 0, further byte 0.
    const StatusCase cases[] = {
        {"untouched", -1, {0x81, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7E}},
        {"type byte turns into a flag", 0, {0x7E, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7E}},
        {"pc low byte", 1, {0x81, 0xFF, 0x00, 0x00, 0x00, 0x7F, 0x7E}},
        {"activity", 3, {0x81, 0x00, 0x00, 0xFF, 0x00, 0x7F, 0x7E}},
        {"checksum", 5, {0x81, 0x00, 0x00, 0x00, 0x00, 0x80, 0x7E}},
        {"closing flag", 6, {0x81, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x81}},
        {"beyond the packet: nothing", 9, {0x81, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7E}},
    };
    for (const StatusCase& c : cases) {
        SimFaults faults;
        faults.corruptStatusByte = c.corrupt;
        Loader m(faults);
        // Every status packet, not only the first.
        for (int query = 0; query < 2; ++query)
            EXPECT_EQ(m.Send({0x01}), Echoed({0x01}, c.line)) << c.name << ", query " << query;
    }
}

TEST(SimFaultsTest, SilenceCountsEveryByteSinceTheStartUpUntilAReset)
{
    for (int64_t limit : {0, 1, 5, 12}) {
        SimFaults faults;
        faults.silentAfterBytes = limit;
        // The power-on start-up (0x0F, 0x50) counts: the host was connected.
        Loader m(faults);
        Bytes carried;
        int64_t before = 2;
        Bytes sent = {0x01, 0x0C, 0x01};
        for (uint8_t b : sent) {
            Bytes got = m.Send({b});
            carried.insert(carried.end(), got.begin(), got.end());
        }
        Bytes full = {0x01, 0x81, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7E, 0x0C, 0x8C,
                      0x01, 0x81, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x7E};
        size_t keep = static_cast<size_t>(std::clamp<int64_t>(limit - before, 0, static_cast<int64_t>(full.size())));
        EXPECT_EQ(carried, Bytes(full.begin(), full.begin() + static_cast<long>(keep))) << "limit " << limit;
        // The module goes on taking the host's bytes: a download still lands.
        m.Send(Block(true, 0x42));
        EXPECT_EQ(m.module->ProgramLength(), 16u) << "limit " << limit;
        // A reset revives the transmitter, for as many bytes again.
        EXPECT_EQ(m.Reset(), limit > 0 ? Bytes{0x0F} : Bytes{}) << "limit " << limit;
        Bytes afterReset = m.Send({0x0E});
        EXPECT_EQ(afterReset.size(), static_cast<size_t>(std::clamp<int64_t>(limit - 1, 0, 2))) << "limit " << limit;
    }
}

TEST(SimFaultsTest, GarbageComesBeforeEveryStartUpByteAndNeverIsOne)
{
    const Bytes noise = StartUpGarbage(2000);
    ASSERT_EQ(noise.size(), 2000u);
    EXPECT_EQ(std::count(noise.begin(), noise.end(), 0x0F), 0);
    // Among the noise are the bytes a careless host would act on.
    for (uint8_t code : {0x05, 0x0E, 0x11, 0x50, 0x55, 0x7D, 0x7E, 0x81, 0x8B})
        EXPECT_NE(std::find(noise.begin(), noise.end(), code), noise.end()) << static_cast<int>(code);
    EXPECT_EQ(StartUpGarbage(30), Bytes(noise.begin(), noise.begin() + 30)) << "the same each time";

    SimFaults faults;
    faults.garbageBeforeStartUp = 30;
    Loader m(faults);
    for (int reset = 0; reset < 2; ++reset) {
        Bytes expected = StartUpGarbage(30);
        expected.push_back(0x0F);
        EXPECT_EQ(m.Reset(), expected) << "reset " << reset;
        // The start-up goes on as ever: a ping claims the loader.
        EXPECT_EQ(m.Send({0x0E}), (Bytes{0x0E, 0x50}));
    }
}

TEST(SimFaultsTest, AForeignPingAnswerComesOnlyFromTheLoader)
{
    SimFaults faults;
    faults.pingAnswer = 0x33;
    Loader m(faults);
    EXPECT_EQ(m.Reset(), Bytes{0x0F});
    EXPECT_EQ(m.Send({0x0E}), (Bytes{0x0E, 0x50})) << "the start-up window's ping is echoed";
    EXPECT_EQ(m.Send({0x0E}), Bytes{0x33}) << "the loader's ping";
    m.Send({0x0C});
    Bytes block = Block(true, 0x0E);
    EXPECT_EQ(m.Send(block), Echoed(block, {0x8B})) << "0x0E inside a block is data, echoed";
}

struct DsrCase {
    const char* name;
    SimFaults::Dsr dsr;
    bool withRtsLow;
    bool withRtsHigh;
};

TEST(SimFaultsTest, DsrFollowsRtsUnlessStuck)
{
    const DsrCase cases[] = {
        {"follows", SimFaults::Dsr::dsFollowsRts, false, true},
        {"stuck low", SimFaults::Dsr::dsLow, false, false},
        {"stuck high", SimFaults::Dsr::dsHigh, true, true},
    };
    for (const DsrCase& c : cases) {
        SimFaults faults;
        faults.dsr = c.dsr;
        Loader m(faults);
        m.module->SetRts(true);
        EXPECT_EQ(m.module->Dsr(), c.withRtsHigh) << c.name;
        m.module->SetRts(false);
        EXPECT_EQ(m.module->Dsr(), c.withRtsLow) << c.name;
    }
}

} // namespace
