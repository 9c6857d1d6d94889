#include "driver/MoxFile.h"
#include "errors/EError.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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
    mkdir(dir.File("d.mox").c_str(), 0755);
    try {
        ReadMoxFile(dir.File("d.mox"));
        FAIL() << "no error";
    } catch (const EError& error) {
        EXPECT_TRUE(error.Is(ecIDE, 3));
        EXPECT_NE(std::string(error.Message()).find("(21): Is a directory"), std::string::npos) << error.Message();
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

    struct stat info {};
    stat(dir.File("p.mox").c_str(), &info);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

struct WriteFailureCase {
    const char* name;
    std::string target;
    int error;
};

TEST(MoxFileTest, WriteFailuresRaiseIde17AndLeaveNothing)
{
    TempDir dir;
    mkdir(dir.File("taken.mox").c_str(), 0755);
    const WriteFailureCase cases[] = {
        {"missing directory", dir.File("no/such/dir/p.mox"), 2},
        {"target is a directory", dir.File("taken.mox"), 21},
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
                          strerror(c.error) + ").\n")
                << c.name;
        }
    }
    EXPECT_EQ(dir.List(), std::vector<std::string>{"taken.mox"});
}

} // namespace
