#include "ClassTestSupport.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

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

} // namespace
