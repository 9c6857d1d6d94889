// --link as users run it, on a program compiled from Java sources.
#include "LinkTestSupport.h"

#include "image/LineTranslation.h"
#include "image/LinkedProgramMap.h"
#include "support/Process.h"
#include "support/SystemFacts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {

const std::string kLibrary = MORVANE_LIB_DIR;
const std::string kProgram = std::string(MORVANE_FIXTURE_DIR) + "/linkdemo";
const std::string kSource = std::string(MORVANE_SOURCE_DIR) + "/tests/fixtures/linkdemo";

int Word(const std::vector<uint8_t>& image, size_t at) { return image.at(at) * 256 + image.at(at + 1); }

// The texts of the string records, read the way the module reads them:
// from the index table through each record's own fields.
std::set<std::string> StringTexts(const std::vector<uint8_t>& image)
{
    std::set<std::string> texts;
    const int table = Word(image, 12);
    const int first = table < static_cast<int>(image.size()) ? Word(image, static_cast<size_t>(table)) : table;
    int expected = first;
    for (int entry = table; entry < first; entry += 2) {
        const int record = Word(image, static_cast<size_t>(entry));
        EXPECT_EQ(record, expected) << "records follow each other";
        EXPECT_EQ(Word(image, static_cast<size_t>(record)), Word(image, 8)) << "String class";
        const int length = Word(image, static_cast<size_t>(record) + 2);
        EXPECT_EQ(Word(image, static_cast<size_t>(record) + 4), record + 6) << "pointer";
        EXPECT_EQ(Word(image, static_cast<size_t>(record) + 6), Word(image, 6)) << "Object class";
        EXPECT_EQ(Word(image, static_cast<size_t>(record) + 8), length);
        texts.insert(std::string(image.begin() + record + 10, image.begin() + record + 10 + length));
        expected = record + 10 + length;
    }
    EXPECT_EQ(expected, static_cast<int>(image.size())) << "the last record ends the image";
    return texts;
}

// The line of the first statement containing `text` in a fixture source.
int SourceLine(const std::string& file, const std::string& text)
{
    std::ifstream in(kSource + "/" + file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
        if (line.find(text) != std::string::npos)
            return number;
    return -1;
}

TEST(LinkCommandTest, LinkWritesTheImageNamedAfterTheClass)
{
    TempDir work;
    ProcessOptions options;
    options.workingDirectory = work.Path();
    const ProcessResult run = RunMorvane({"--link", "--path", kLibrary + ";" + kProgram, "Main"}, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "MorvaneDirect version 1.3\nLinking\n");
    ASSERT_TRUE(work.Exists("Main.mox"));
    const std::vector<uint8_t> image = work.Read("Main.mox");

    // The same bytes as a link in this process: nothing of the buffer's
    // zero tail, nothing left to chance between runs.
    const LinkResult inProcess = LinkClass(kLibrary + ";" + kProgram, "Main");
    ASSERT_EQ(inProcess.error, "");
    EXPECT_EQ(image, inProcess.Image());

    ASSERT_GT(image.size(), 20u);
    EXPECT_EQ(image[0], 0xA4);
    EXPECT_EQ(image[1], 20); // under 19 pages
    EXPECT_EQ(image[2], 1);
    EXPECT_EQ(Word(image, 18), (static_cast<int>(image.size()) / 16 + 1) * 16);
    const std::set<std::string> texts = StringTexts(image);
    for (const char* literal : {"start", "divide", "none", "two", "four", "six", "many", "rex", "cat", "bird",
                                " barks", " is quiet", "tweet", " ", "high"})
        EXPECT_EQ(texts.count(literal), 1u) << literal;

    const LinkedProgramMap map(*inProcess.linker);
    EXPECT_EQ(map.ClassNameAt(Word(image, 6)), "java.lang.Object");
    EXPECT_EQ(map.ClassNameAt(Word(image, 8)), "java.lang.String");
    EXPECT_EQ(map.ClassNameAt(Word(image, 16)), "java.lang.OutOfMemoryError");
}

// Reported positions lead back to the source lines, through the prologue
// of main and into an inner class, whose source is its outer class's.
TEST(LinkCommandTest, PositionsInTheLinkedProgramGiveSourceLines)
{
    const LinkResult result = LinkClass(kLibrary + ";" + kProgram, "Main");
    ASSERT_EQ(result.error, "");
    const CMOXLinker& linker = *result.linker;
    const LinkedProgramMap map(linker);

    const CJavaClass& main = *linker.ClassAt(0);
    const int mainMethod = main.MethodIndex("main", "()V");
    const int mainCode = main.CodeOffset(mainMethod) + 3 * linker.ClinitCount();
    ProgramMap::SourceLine where = map.LineOfPc(mainCode);
    EXPECT_EQ(where.fileName, SystemPath(kProgram + "/Main.java"));
    EXPECT_EQ(where.line, SourceLine("Main.java", "zoo[0] = new Dog(\"rex\");"));

    const int tallyIndex = linker.FindClassIndex("Main$Tally");
    ASSERT_GE(tallyIndex, 0);
    const CJavaClass& tally = *linker.ClassAt(tallyIndex);
    where = map.LineOfPc(tally.CodeOffset(tally.MethodIndex("add", "(I)V")));
    EXPECT_EQ(where.fileName, SystemPath(kProgram + "/Main.java"));
    EXPECT_EQ(where.line, SourceLine("Main.java", "calls++;"));
    EXPECT_EQ(map.ClassNameAt(linker.ClassOffset(tallyIndex)), "Main$Tally");

    const CJavaClass& dog = *linker.ClassAt(linker.FindClassIndex("Dog"));
    where = map.LineOfPc(dog.CodeOffset(dog.MethodIndex("sound", "()Ljava/lang/String;")));
    EXPECT_EQ(where.fileName, SystemPath(kProgram + "/Dog.java"));
    EXPECT_EQ(where.line, SourceLine("Dog.java", "barks"));
}

TEST(LinkCommandTest, FailedLinksPrintTheirLinesAndWriteNothing)
{
    TempDir program;
    WriteMinimalLibrary(program);
    ClassFileBuilder main("Main");
    const uint16_t missing = main.Methodref("Missing", "f", "()V");
    main.AddMethod(CodeMethod("main", "()V", {0xB8, Hi(missing), Lo(missing), 0xB1}, 0));
    WriteClass(program, "Main", main);

    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string output;
    } rows[] = {
        {"a class the code calls is missing",
         {"--link", "--path", program.Path(), "Main"},
         "MorvaneDirect version 1.3\nLinking\n"
         "[Error JVM-0017] Unable to load class file: `Missing', '" + SystemPath(program.Path() + "/Missing.class") + "'.\n"
         "[Error LNK-0003] Unable to load class `Missing'.\n"},
        {"no class path",
         {"--link", "Main"},
         "MorvaneDirect version 1.3\nLinking\n[Error JVM-0017] Unable to load class file: `Main', ''.\n"},
    };
    for (const auto& row : rows) {
        TempDir work;
        ProcessOptions options;
        options.workingDirectory = work.Path();
        const ProcessResult run = RunMorvane(row.args, options);
        EXPECT_EQ(run.output, row.output) << row.name;
        EXPECT_EQ(run.exitCode, 1) << row.name;
        EXPECT_TRUE(work.List().empty()) << row.name;
    }
}

} // namespace
