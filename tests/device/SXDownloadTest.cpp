#include "device/DeviceFixture.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Image(size_t length)
{
    Bytes image(length);
    for (size_t i = 0; i < length; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3); // includes 0x7D and 0x7E now and then
    return image;
}

struct DownloadCase {
    const char* name;
    size_t length;
    int blocks;
    int dots;
};

TEST(SXDownloadTest, BlocksDotsAndTheImageTheModuleGets)
{
    const DownloadCase cases[] = {
        {"20 blocks: a dot each", 320, 20, 20},
        {"50 blocks: every second", 800, 50, 25},
        {"21 blocks: the last with one byte", 321, 21, 21},
        {"fewer than 20 blocks: a dot each", 100, 7, 7},
        {"one byte", 1, 1, 1},
        {"125 blocks: every sixth", 2000, 125, 21},
        {"39 blocks: still a dot each", 624, 39, 39},
        {"the largest image", 65535, 4096, 21},
    };
    for (const DownloadCase& c : cases) {
        DeviceFixture f;
        ScriptedModule& module = f.Module();
        f.Connect();
        // Exactly the image: the last block's padding must not be read from
        // beyond it (the sanitizers would see that).
        Bytes image = Image(c.length);
        Bytes original = image;
        f.comm.DownloadMoxFile(image.data(), static_cast<int32_t>(image.size()), false);

        EXPECT_EQ(image[0], 0xA4) << c.name << ": the run marker";
        EXPECT_EQ(f.console.Text(), "Downloading " + std::string(static_cast<size_t>(c.dots), '.') + "\n") << c.name;
        ASSERT_EQ(module.blockPackets.size(), static_cast<size_t>(c.blocks)) << c.name;
        EXPECT_EQ(module.badBlocks, 0) << c.name;
        Bytes expected = original;
        expected[0] = 0xA4;
        expected.resize(static_cast<size_t>(c.blocks) * 16, 0);
        EXPECT_EQ(module.image, expected) << c.name;
        for (int i = 0; i < c.blocks; ++i)
            EXPECT_EQ(module.blockPackets[static_cast<size_t>(i)][1], i == 0 ? 1 : 0) << c.name << " block " << i;
        EXPECT_EQ(f.comm.PendingEchoes(), 0) << c.name;
        EXPECT_EQ(f.Line().written.front(), 0x0C) << c.name;
    }
}

TEST(SXDownloadTest, AnEscapedByteLengthensTheBlockOnTheLine)
{
    DeviceFixture f;
    f.Module();
    f.Connect();
    // One 0x7E among the data; the checksum (0x0B+0x01+0x7E = 0x8A -> 0x76)
    // needs no escape.
    Bytes image(16, 0);
    image[5] = 0x7E;
    f.comm.DownloadMoxFile(image.data(), 16, false);
    EXPECT_EQ(f.Line().written.size(), 1u + 20u);
    EXPECT_EQ(f.Line().written[8], 0x7D);
    EXPECT_EQ(f.Line().written[9], 0x5E);
}

TEST(SXDownloadTest, AnInputRequestBetweenBlockAndAcknowledgementIsAnswered)
{
    DeviceFixture f;
    ModuleScript script;
    script.inputRequestAtBlock = 3;
    ScriptedModule& module = f.Module("COM1", script);
    f.Connect();
    f.comm.QueueKey('k');
    Bytes image = Image(100);
    f.comm.DownloadMoxFile(image.data(), 100, false);
    EXPECT_EQ(module.keys, Bytes{'k'});
    EXPECT_EQ(module.blockPackets.size(), 7u);
    EXPECT_EQ(module.badBlocks, 0);
    EXPECT_EQ(f.comm.KeyCount(), 0);
}

TEST(SXDownloadTest, UnsolicitedBytesBeforeEachAcknowledgementGoToTheListener)
{
    DeviceFixture f;
    ModuleScript script;
    script.beforeAck = {0x05, 0x03, 'o', 'k', 0x7E};
    f.Module("COM1", script);
    f.Connect();
    Bytes image = Image(32);
    f.comm.DownloadMoxFile(image.data(), 32, false);
    EXPECT_EQ(f.console.Text(), "Downloading .ok.ok\n");
}

struct FailureCase {
    const char* name;
    std::function<void(DeviceFixture&, ModuleScript&)> setUp;
    std::string output;
    int64_t elapsedMs;
};

TEST(SXDownloadTest, FailuresEndTheDownloadWithoutALineBreak)
{
    const std::string timeout = "[Error IDE-0022] Error reading from the serial port (timeout).\n";
    const FailureCase cases[] = {
        {"no acknowledgement of the start", [](DeviceFixture&, ModuleScript& s) { s.replyDelayMs = 6000; },
         timeout, 5001},
        {"no acknowledgement of the third block", [](DeviceFixture&, ModuleScript& s) { s.stallAtBlock = 3; },
         "Downloading ..." + timeout, 2 + 2 + 2 + 5001},
        {"the line stalls",
         [](DeviceFixture& f, ModuleScript&) { f.Line().writeLimit = 0; },
         "[Error IDE-0007] Error writing to the serial port (" + std::to_string(ETIMEDOUT) + ").\n", 0},
    };
    for (const FailureCase& c : cases) {
        DeviceFixture f;
        ModuleScript script;
        c.setUp(f, script);
        f.Module("COM1", script);
        f.Connect();
        Bytes image = Image(100);
        std::string error = RaisedLine([&] { f.comm.DownloadMoxFile(image.data(), 100, false); });
        EXPECT_EQ(f.console.Text() + error, c.output) << c.name;
        EXPECT_EQ(f.Elapsed(), c.elapsedMs) << c.name;
    }
}

} // namespace
