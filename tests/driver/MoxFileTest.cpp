#include "driver/MoxFile.h"
#include "errors/EError.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "support/SystemFacts.h"

#include <filesystem>

namespace {

TEST(MoxFileTest, ReadAddsTwentyZeroBytes)
{
    TempDir dir;
    std::vector<uint8_t> bytes = {0xA4, 0x14, 0x01, 0xFF};
    dir.Write("p.mox", bytes);
    MoxFileImage image = ReadMoxFile(dir.File("p.mox"));
    EXPECT_EQ(image.length, 4);
    ASSERT_EQ(image.buffer.size(), 24u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.buffer.begin()));
    EXPECT_TRUE(std::all_of(image.buffer.begin() + 4, image.buffer.end(), [](uint8_t b) { return b == 0; }));
}

TEST(MoxFileTest, ReadOfADirectoryIsACatalogueError)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("d.mox"));
    try {
        ReadMoxFile(dir.File("d.mox"));
        FAIL() << "no error";
    } catch (const EError& error) {
        EXPECT_TRUE(error.Is(ecIDE, 3));
        int number = ExpectedFileFailures().readOfADirectory;
        EXPECT_NE(std::string(error.Message()).find("(" + std::to_string(number) + "): " + SystemErrorText(number)),
                  std::string::npos)
            << error.Message();
    }
}

TEST(MoxFileTest, WriteReplacesTheFileWhole)
{
    TempDir dir;
    dir.Write("p.mox", std::string(5000, 'o'));
    std::vector<uint8_t> image = {1, 2, 3};
    WriteMoxFile(dir.File("p.mox"), image.data(), 3);
    EXPECT_EQ(dir.Read("p.mox"), image);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"p.mox"}); // no temporary left
}

struct WriteFailureCase {
    const char* name;
    std::string target;
    int error;
};

TEST(MoxFileTest, WriteFailuresRaiseIde17AndLeaveNothing)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("taken.mox"));
    const WriteFailureCase cases[] = {
        {"missing directory", dir.File("no/such/dir/p.mox"), ExpectedFileFailures().missingDirectory},
        {"target is a directory", dir.File("taken.mox"), ExpectedFileFailures().writeOverADirectory},
    };
    for (const WriteFailureCase& c : cases) {
        uint8_t byte = 7;
        try {
            WriteMoxFile(c.target, &byte, 1);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EError& error) {
            EXPECT_TRUE(error.Is(ecIDE, 17)) << c.name;
            EXPECT_EQ(std::string(error.Message()),
                      "[Error IDE-0017] Unable to open file for writing `" + c.target + "' (" + std::to_string(c.error) + ", " +
                          SystemErrorText(c.error) + ").\n")
                << c.name;
        }
    }
    EXPECT_EQ(dir.List(), std::vector<std::string>{"taken.mox"});
}

} // namespace
