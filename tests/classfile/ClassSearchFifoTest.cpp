#include "ClassTestSupport.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opening a FIFO would wait for a writer that never comes.
TEST(ClassSearchFifoTest, AFifoIsNoCandidate)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("b"));
    ASSERT_EQ(mkfifo(dir.File("b/Original.class").c_str(), 0600), 0);
    dir.Write("c/Original.class", ReadFileBytes(FixtureDir("renamed") + "/Original.class"));
    CJavaClass javaClass("Original", dir.File("b") + ";" + dir.File("c"));
    javaClass.load();
    EXPECT_EQ(javaClass.FilePath(), dir.File("c") + "/Original.class");
}

// A class file that is there but cannot be read is reported with the
// system's reason, not as missing, and a later directory's copy is not taken
// silently in its place. Root reads files whatever their mode, but not a
// kernel setting that is writable only: a link to one is such a file for
// everyone.
TEST(ClassSearchFifoTest, AFileThatCannotBeReadIsNamedWithTheReason)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("a"));
    std::filesystem::create_directories(dir.File("d/locked"));
    const std::string writeOnly = "/proc/sys/vm/drop_caches";
    const struct {
        const char* name;
        std::string directory;
        bool make; // false: the row needs what this machine lacks
    } rows[] = {
        {"a file only writable, even by root", dir.File("a"),
         std::filesystem::exists(writeOnly) &&
             symlink(writeOnly.c_str(), dir.File("a/Original.class").c_str()) == 0},
        {"a directory that may not be searched", dir.File("d/locked"),
         geteuid() != 0 && chmod(dir.File("d").c_str(), 0600) == 0},
    };
    dir.Write("c/Original.class", ReadFileBytes(FixtureDir("renamed") + "/Original.class"));
    for (const auto& row : rows) {
        if (!row.make)
            continue;
        CJavaClass javaClass("Original", row.directory + ";" + dir.File("c"));
        EXPECT_EQ(ErrorOf([&] { javaClass.load(); }),
                  "[Error IDE-0003] System error when opening `" + row.directory + "/Original.class' (13): Permission denied.\n")
            << row.name;
    }
    chmod(dir.File("d").c_str(), 0700);
}

} // namespace
