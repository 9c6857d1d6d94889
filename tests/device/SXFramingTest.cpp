#include "device/DeviceFixture.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using Bytes = std::vector<uint8_t>;

struct Arrival {
    int64_t atMs; // from the start of the test
    Bytes bytes;
};

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string kTimeout = "[Error IDE-0022] Error reading from the serial port (timeout).\n";

struct ChecksumCase {
    const char* name;
    Bytes bytes;
    uint8_t checksum;
};

TEST(SXFramingTest, Checksums)
{
    const ChecksumCase cases[] = {
        {"a first block of zeros", Concat({0x0B, 0x01}, Repeat(0x00, 16)), 0xF4},
        {"nothing", {}, 0x00},
        {"sum of 0x100", {0x80, 0x80}, 0x00},
        {"one byte", {0x01}, 0xFF},
        {"wrapping sum", {0xFF, 0xFF, 0x03}, 0xFF},
        {"the status example", {0x81, 0x2A, 0x00, 0x05, 0x00}, 0x50},
    };
    for (const ChecksumCase& c : cases) {
        EXPECT_EQ(TSXComm::PacketChecksum(c.bytes.data(), static_cast<int>(c.bytes.size())), c.checksum) << c.name;
        Bytes with = c.bytes;
        with.push_back(c.checksum);
        EXPECT_TRUE(TSXComm::ChecksumValid(with.data(), static_cast<int>(with.size()))) << c.name;
        with.back() = static_cast<uint8_t>(with.back() + 1);
        EXPECT_FALSE(TSXComm::ChecksumValid(with.data(), static_cast<int>(with.size()))) << c.name;
    }
}

struct StuffCase {
    const char* name;
    Bytes packet;
    Bytes line;
};

TEST(SXFramingTest, PacketsAreStuffedAndTheirEchoesCounted)
{
    const StuffCase cases[] = {
        {"a flag inside", {0x0B, 0x7E, 0x10}, {0x0B, 0x7D, 0x5E, 0x10}},
        {"an escape inside", {0x7D}, {0x7D, 0x5D}},
        {"both, back to back", {0x7E, 0x7D}, {0x7D, 0x5E, 0x7D, 0x5D}},
        {"control characters pass", {0x00, 0x11, 0x13, 0x5E, 0x5D, 0xFF}, {0x00, 0x11, 0x13, 0x5E, 0x5D, 0xFF}},
        {"empty", {}, {}},
    };
    for (const StuffCase& c : cases) {
        DeviceFixture f;
        f.Connect();
        f.comm.TransmitPacket(c.packet.data(), static_cast<int>(c.packet.size()));
        EXPECT_EQ(f.Line().written, c.line) << c.name;
        EXPECT_EQ(f.comm.PendingEchoes(), static_cast<int>(c.line.size())) << c.name;
    }
}

struct ReceiveCase {
    const char* name;
    bool commandSent; // a command byte went out first, its echo comes back at 0
    std::vector<Arrival> arrivals;
    int capacity;
    Bytes payload;          // expected when no error
    std::string error;      // expected catalogue line, or ""
    int64_t elapsedMs;      // when it returned or failed
    std::string output;     // console output
};

TEST(SXFramingTest, ReceivePacket)
{
    const Bytes status = {0x81, 0x2A, 0x00, 0x05, 0x00, 0x50};
    const ReceiveCase cases[] = {
        {"a plain reply", true, {{0, {0x01}}, {3, Concat(status, {0x7E})}}, 100, status, "", 3, ""},
        {"leading flags", false, {{0, Concat({0x7E, 0x7E}, Concat(status, {0x7E}))}}, 100, status, "", 0, ""},
        {"an escaped flag", false, {{0, {0x01, 0x7D, 0x5E, 0x02, 0x7E}}}, 100, {0x01, 0x7E, 0x02}, "", 0, ""},
        {"an escaped escape", false, {{0, {0x7D, 0x5D, 0x7E}}}, 100, {0x7D}, "", 0, ""},
        {"a flag after an escape ends it", false, {{0, {0x01, 0x7D, 0x7E}}}, 100, {0x01}, "", 0, ""},
        {"99 bytes in 100", false, {{0, Concat(Repeat(0x11, 99), {0x7E})}}, 100, Repeat(0x11, 99), "", 0, ""},
        {"the 100th byte overruns", false, {{0, Concat(Repeat(0x11, 100), {0x7E})}}, 100, {},
         "[Error IDE-0011] Buffer overrun.\n", 0, ""},
        {"a stale reply is dropped", false, {{0, {0x01, 0x02, 0x7E, 0x03, 0x04, 0x7E}}}, 100, {0x03, 0x04}, "", 0,
         "[Debug] Discarding packet"},
        {"silence", false, {}, 100, {}, kTimeout, 1001, ""},
        {"only the echo comes", true, {{0, {0x01}}}, 100, {}, kTimeout, 5001, ""},
        {"a gap of exactly a second", false, {{0, {0x01}}, {1000, {0x02, 0x7E}}}, 100, {0x01, 0x02}, "", 1000, ""},
        {"a gap over a second", false, {{0, {0x01}}, {1002, {0x02, 0x7E}}}, 100, {}, kTimeout, 1001, ""},
        {"over two seconds in all", false,
         {{0, {0x01}}, {600, {0x02}}, {1200, {0x03}}, {1800, {0x04}}, {2400, {0x7E}}}, 100, {}, kTimeout, 2001, ""},
    };
    for (const ReceiveCase& c : cases) {
        DeviceFixture f;
        f.Connect();
        if (c.commandSent)
            f.comm.TransmitByte(0x01);
        for (const Arrival& a : c.arrivals)
            f.Line().Deliver(a.bytes, f.start + a.atMs);
        Bytes buffer(static_cast<size_t>(c.capacity));
        int length = c.capacity;
        std::string error = RaisedLine([&] { f.comm.ReceivePacket(buffer.data(), length); });
        EXPECT_EQ(error, c.error) << c.name;
        if (c.error.empty()) {
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), c.payload) << c.name;
        }
        EXPECT_EQ(f.Elapsed(), c.elapsedMs) << c.name;
        EXPECT_EQ(f.console.Text(), c.output) << c.name;
    }
}

struct ReadCase {
    const char* name;
    std::vector<int64_t> echoTimes; // one byte sent per echo
    int64_t answerAt;               // -1: none
    std::string error;
    int64_t elapsedMs;
};

TEST(SXFramingTest, ReadByteThrowsEchoesAwayWithinOneTimeOut)
{
    const ReadCase cases[] = {
        {"echoes, then the answer", {0, 100, 200}, 300, "", 300},
        {"no echoes pending", {}, 40, "", 40},
        {"echoes slower than the time-out", {0, 3000, 6000}, 6001, kTimeout, 5001},
        {"the answer a whole time-out after the echoes", {0}, 5000, "", 5000},
        {"the answer too late", {0}, 5002, kTimeout, 5001},
        {"the echo never comes", {}, -1, kTimeout, 5001},
    };
    for (const ReadCase& c : cases) {
        DeviceFixture f;
        f.Connect();
        for (int64_t at : c.echoTimes) {
            f.comm.TransmitByte(0x42);
            f.Line().Deliver({0x42}, f.start + at);
        }
        if (c.answerAt >= 0)
            f.Line().Deliver({0x99}, f.start + c.answerAt);
        uint8_t got = 0;
        std::string error = RaisedLine([&] { got = f.comm.ReadByte(5000); });
        EXPECT_EQ(error, c.error) << c.name;
        if (c.error.empty()) {
            EXPECT_EQ(got, 0x99) << c.name;
            EXPECT_EQ(f.comm.PendingEchoes(), 0) << c.name;
        }
        EXPECT_EQ(f.Elapsed(), c.elapsedMs) << c.name;
    }
}

struct AckCase {
    const char* name;
    bool echo;
    std::vector<Arrival> arrivals;
    Bytes keys;          // queued before
    std::string error;
    int64_t elapsedMs;
    Bytes answers;       // what the host sent besides the command
};

TEST(SXFramingTest, WaitForAck)
{
    std::vector<Arrival> chatter;
    for (int64_t t = 300; t <= 3000; t += 300)
        chatter.push_back({t, {0x00}});
    const AckCase cases[] = {
        {"at once", true, {{10, {0x8B}}}, {}, "", 10, {}},
        {"an input request first, no key", true, {{10, {0x11}}, {20, {0x8B}}}, {}, "", 20, {0x13}},
        {"an input request first, a key", true, {{10, {0x11}}, {20, {0x8B}}}, {'a', 'b'}, "", 20, {0x12, 'a'}},
        {"other acknowledgements are not ours", true, {{10, {0x8C, 0x81}}, {30, {0x8B}}}, {}, "", 30, {}},
        // Once the echo is there, the read that throws it away waits its own
        // 5000 ms for the next byte.
        {"silence after the echo", true, {}, {}, kTimeout, 5001, {}},
        {"not even the echo", false, {}, {}, kTimeout, 2001, {}},
        {"chatter does not extend the time-out", true, chatter, {}, kTimeout, 2001, {}},
        {"the acknowledgement at the end of the window", true, {{2000, {0x8B}}}, {}, "", 2000, {}},
    };
    for (const AckCase& c : cases) {
        DeviceFixture f;
        ModuleScript script;
        script.echo = c.echo;
        ScriptedModule& module = f.Module("COM1", script);
        f.Connect();
        for (uint8_t key : c.keys)
            f.comm.QueueKey(key);
        f.comm.TransmitByte(0x0B);
        for (const Arrival& a : c.arrivals)
            f.Line().Deliver(a.bytes, f.start + a.atMs);
        std::string error = RaisedLine([&] { f.comm.WaitForAck(0x0B, 2000); });
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(f.Elapsed(), c.elapsedMs) << c.name;
        EXPECT_EQ(Bytes(f.Line().written.begin() + 1, f.Line().written.end()), c.answers) << c.name;
        EXPECT_EQ(module.keys.size(), c.answers.size() == 2 ? 1u : 0u) << c.name;
        EXPECT_EQ(f.comm.KeyCount(), static_cast<int>(c.keys.size()) - (c.answers.size() == 2 ? 1 : 0)) << c.name;
    }
}

TEST(SXFramingTest, LineFailuresBecomeCatalogueErrors)
{
    DeviceFixture f;
    f.Connect();
    f.Line().writeLimit = 0;
    EXPECT_EQ(RaisedLine([&] { f.comm.TransmitByte(0x01); }),
              "[Error IDE-0007] Error writing to the serial port (" + std::to_string(ETIMEDOUT) + ").\n");
    EXPECT_EQ(f.comm.PendingEchoes(), 0);
    f.Line().writeLimit = -1;
    f.Line().broken = true;
    EXPECT_EQ(RaisedLine([&] { f.comm.ReadByte(5000); }), "[Error IDE-0008] Error reading from the serial port (5).\n");
    EXPECT_EQ(f.Elapsed(), 0) << "a failed line is reported at once, not after the time-out";
}

} // namespace
