#include "ClassFileBuilder.h"
#include "ClassTestSupport.h"

#include "driver/RunSettings.h"
#include "linker/CMOXLinker.h"
#include "support/ConsoleCapture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const std::vector<uint8_t>& OriginalClass()
{
    static const std::vector<uint8_t> bytes = ReadFileBytes(FixtureDir("renamed") + "/Original.class");
    return bytes;
}

// The candidates the search tried, from its trace lines.
std::vector<std::string> Candidates(const std::string& trace)
{
    std::vector<std::string> candidates;
    const std::string mark = "ClassLoader: Trying file `";
    for (size_t at = trace.find(mark); at != std::string::npos; at = trace.find(mark, at)) {
        at += mark.size();
        candidates.push_back(trace.substr(at, trace.find('\'', at) - at));
    }
    return candidates;
}

struct TraceGuard {
    TraceGuard() { Settings().TraceClassReader = true; }
    ~TraceGuard()
    {
        Settings().TraceClassReader = false;
        Settings().TraceLinker = false;
    }
};

struct PathCase {
    const char* name;
    std::string classPath;
    std::vector<std::string> candidates; // the last one holds the class
};

TEST(ClassSearchTest, ClassPathPiecesAreTriedInOrder)
{
    TempDir dir;
    dir.Write("work/Original.class", OriginalClass());
    const std::string lib = dir.File("lib");
    const std::string work = dir.File("work");
    // Where paths have drive letters (C:\lib), only ';' separates.
    const std::string colon = PathsHaveDriveLetters() ? ";" : ":";
    const PathCase cases[] = {
        {"semicolons", lib + ";" + work, {lib + "/Original.class", work + "/Original.class"}},
        {"colons", lib + colon + work, {lib + "/Original.class", work + "/Original.class"}},
        {"empty pieces skipped", ";" + lib + ";;" + colon + work + "/;", {lib + "/Original.class", work + "/Original.class"}},
        {"no doubled slash", work + "/", {work + "/Original.class"}},
        {"first directory holds it", work + ";" + lib, {work + "/Original.class"}},
    };
    for (const PathCase& c : cases) {
        TraceGuard trace;
        ConsoleCapture console;
        CJavaClass javaClass("Original", c.classPath);
        javaClass.load();
        std::vector<std::string> expected;
        for (const std::string& candidate : c.candidates)
            expected.push_back(SystemPath(candidate));
        EXPECT_EQ(Candidates(console.Text()), expected) << c.name;
        EXPECT_EQ(javaClass.FilePath(), expected.back()) << c.name;
    }
}

TEST(ClassSearchTest, NoDirectoryHoldingTheClassIsJvm17)
{
    TempDir dir;
    const struct {
        const char* name;
        std::string classPath;
        std::string lastCandidate;
    } cases[] = {
        {"empty class path", "", ""},
        {"only separators", PathsHaveDriveLetters() ? ";;" : ";:;", ""},
        {"two directories", dir.File("a") + ";" + dir.File("b"), dir.File("b") + "/app/Main.class"},
        {"missing directory", dir.File("none"), dir.File("none") + "/app/Main.class"},
    };
    for (const auto& c : cases) {
        CJavaClass javaClass("app/Main", c.classPath);
        EXPECT_EQ(ErrorOf([&] { javaClass.load(); }),
                  "[Error JVM-0017] Unable to load class file: `app/Main', '" + SystemPath(c.lastCandidate) + "'.\n")
            << c.name;
    }
}

TEST(ClassSearchTest, ADirectoryIsNoCandidate)
{
    TempDir dir;
    std::filesystem::create_directories(dir.File("a/Original.class"));
    dir.Write("c/Original.class", OriginalClass());
    CJavaClass javaClass("Original", dir.File("a") + ";" + dir.File("c"));
    javaClass.load();
    EXPECT_EQ(javaClass.FilePath(), SystemPath(dir.File("c") + "/Original.class"));
}

TEST(ClassSearchTest, RelativeDirectoriesAreRelativeToTheWorkingDirectory)
{
    TempDir dir;
    dir.Write("classes/Original.class", OriginalClass());
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    CJavaClass javaClass("Original", "classes");
    const std::string error = ErrorOf([&] { javaClass.load(); });
    CJavaClass notHere("Original", "");
    const std::string notHereError = ErrorOf([&] { notHere.load(); });
    std::filesystem::current_path(previous);
    EXPECT_EQ(error, "");
    EXPECT_EQ(javaClass.FilePath(), SystemPath("classes/Original.class"));
    EXPECT_EQ(javaClass.SourceFileName(), SystemPath("classes/Original.java"));
    EXPECT_NE(notHereError, "") << "the working directory is not searched by itself";
}

TEST(ClassSearchTest, FindOrLoadAnswersFromTheClassList)
{
    CMOXLinker linker;
    linker.SetClassPath(LibraryDir());
    CJavaClass* object = linker.FindOrLoadClass("java/lang/Object");
    CJavaClass* again = linker.FindOrLoadClass("java/lang/Object");
    EXPECT_EQ(object, again);
    EXPECT_EQ(linker.ClassCount(), 1);
    EXPECT_EQ(linker.ClassIndexOf("java/lang/String"), 1);
    EXPECT_EQ(linker.ClassIndexOf("java/lang/Object"), 0);
    EXPECT_EQ(linker.ClassAt(1)->ThisClassName(), "java/lang/String");
    EXPECT_EQ(linker.ClassCount(), 2);
    EXPECT_FALSE(linker.Resolved(1));
    linker.SetResolved(1, true);
    EXPECT_TRUE(linker.Resolved(1));
    EXPECT_EQ(linker.ClassOffset(1), 0);
    EXPECT_EQ(ErrorOf([&] { linker.ClassAt(2); }), "[Error IDE-0048] Internal error.\n");
}

// The list is searched by the name inside each class file: a file whose
// declared name differs is loaded, but not found again under the name asked.
TEST(ClassSearchTest, DeclaredNameDecidesWhatIsFoundAgain)
{
    TempDir dir;
    dir.Write("Renamed.class", OriginalClass());
    CMOXLinker linker;
    linker.SetClassPath(dir.Path());
    CJavaClass* renamed = linker.FindOrLoadClass("Renamed");
    EXPECT_EQ(renamed->ThisClassName(), "Original");
    EXPECT_EQ(renamed->RequestedName(), "Renamed");
    CJavaClass* second = linker.FindOrLoadClass("Renamed");
    EXPECT_NE(second, renamed);
    EXPECT_EQ(linker.ClassCount(), 2);
    EXPECT_EQ(linker.FindOrLoadClass("Original"), renamed) << "found by its declared name without a file";
    EXPECT_EQ(linker.ClassCount(), 2);
}

TEST(ClassSearchTest, FailedLoadLeavesTheListUnchanged)
{
    TempDir dir;
    dir.Write("Broken.class", std::vector<uint8_t>(OriginalClass().begin(), OriginalClass().begin() + 40));
    CMOXLinker linker;
    linker.SetClassPath(dir.Path() + ";" + LibraryDir());
    linker.FindOrLoadClass("java/lang/Object");
    EXPECT_EQ(ErrorOf([&] { linker.FindOrLoadClass("Broken"); }), CorruptLine("Broken"));
    EXPECT_EQ(ErrorOf([&] { linker.ClassIndexOf("Absent"); }),
              "[Error JVM-0017] Unable to load class file: `Absent', '" + SystemPath(LibraryDir() + "/Absent.class") + "'.\n");
    EXPECT_EQ(linker.ClassCount(), 1);
}

TEST(ClassSearchTest, TheClassListHoldsAtMost255Classes)
{
    TempDir dir;
    dir.Write("Original.class", OriginalClass());
    CMOXLinker linker;
    linker.SetClassPath(dir.Path());
    for (int i = 0; i < CMOXLinker::kMaxClasses; ++i)
        linker.LoadClass("Original");
    EXPECT_EQ(linker.ClassCount(), 255);
    EXPECT_EQ(ErrorOf([&] { linker.LoadClass("Original"); }), "[Error LNK-0001] Too many referenced classes.\n");
    // The file is read first, so a missing one is reported as such.
    EXPECT_EQ(ErrorOf([&] { linker.LoadClass("Absent"); }),
              "[Error JVM-0017] Unable to load class file: `Absent', '" + SystemPath(dir.Path() + "/Absent.class") + "'.\n");
    EXPECT_EQ(linker.ClassCount(), 255);
    EXPECT_EQ(linker.FindOrLoadClass("Original"), linker.ClassAt(0));
}

TEST(ClassSearchTest, LinkerTraceNamesTheClassLoaded)
{
    TempDir dir;
    dir.Write("Original.class", OriginalClass());
    CMOXLinker linker;
    linker.SetClassPath(dir.Path());
    TraceGuard guard;
    Settings().TraceClassReader = false;
    Settings().TraceLinker = true;
    ConsoleCapture console;
    linker.FindOrLoadClass("Original");
    linker.FindOrLoadClass("Original");
    EXPECT_EQ(console.Text(), "[Debug] Linker: loading class Original.");
}

} // namespace
