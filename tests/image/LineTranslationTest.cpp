#include "HandLinkedPrograms.h"
#include "LinkTestSupport.h"

#include "errors/EError.h"
#include "image/LineTranslation.h"
#include "image/LinkedProgramMap.h"

#include <gtest/gtest.h>

namespace {

using namespace two_class;

class LineTranslationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteTwoClassProgram(dir_);
        result_ = LinkClass(dir_.Path(), "Main");
        ASSERT_EQ(result_.error, "");
    }

    TempDir dir_;
    LinkResult result_;
};

struct ClassRow {
    const char* name;
    int offset;
    std::string className; // dotted; empty when none starts there
};

TEST_F(LineTranslationTest, ClassRecordOffsetsNameTheirClasses)
{
    const LinkedProgramMap map(*result_.linker);
    const ClassRow rows[] = {
        {"the named class", kMainRecord, "Main"},
        {"the exception root", kThrowableRecord, "java.lang.Throwable"},
        {"a class in a package", kCpuRecord, "tolve.core.CPU"},
        {"a record without slots", kStringRecord, "java.lang.String"},
        {"the last record", kOutOfMemoryRecord, "java.lang.OutOfMemoryError"},
        {"inside a record", kMainRecord + 3, ""},
        {"the header", 0, ""},
        {"the code", kMainCode, ""},
    };
    for (const ClassRow& row : rows) {
        std::string name;
        std::string error;
        try {
            name = map.ClassNameAt(row.offset);
        } catch (const EError& e) {
            error = e.Message();
        }
        EXPECT_EQ(name, row.className) << row.name;
        EXPECT_EQ(error, row.className.empty() ? "[Error IDE-0029] Invalid class offset.\n" : "") << row.name;
    }
}

struct PcRow {
    const char* name;
    int pc;
    std::string file; // relative to the class path directory
    int line;
    int javaPc;
};

// main's lines were 0:10, 8:11, 13:12, 23:13 in the class file; the link
// moved all but the first by the 6 prologue bytes.
TEST_F(LineTranslationTest, ProgramCountersGiveFileLineAndJavaPc)
{
    const PcRow rows[] = {
        {"main's first prologue byte", kMainCode, "Main.java", 10, -6},
        {"inside the prologue", kMainCode + 3, "Main.java", 10, -3},
        {"main's Java pc 0", kMainCode + 6, "Main.java", 10, 0},
        {"just before the second line", kMainCode + 6 + 7, "Main.java", 10, 7},
        {"main's Java pc 8", kMainCode + 6 + 8, "Main.java", 11, 8},
        {"main's last instruction", kMainCode + 6 + 23, "Main.java", 13, 23},
        {"a handler", kSafeCode + 3, "Helper.java", 31, 3},
        {"a method's first byte", kSafeCode, "Helper.java", 30, 0},
        {"an exception table counts as its method", kSafeCode + 6, "Helper.java", 31, 6},
    };
    for (const PcRow& row : rows) {
        int line = -1, javaPc = 99;
        const std::string file = LineFromPc(*result_.linker, row.pc, line, javaPc);
        EXPECT_EQ(file, SystemPath(dir_.Path() + "/" + row.file)) << row.name;
        EXPECT_EQ(line, row.line) << row.name;
        EXPECT_EQ(javaPc, row.javaPc) << row.name;
    }
}

TEST_F(LineTranslationTest, ProgramCountersThatCannotBeTranslated)
{
    const struct {
        const char* name;
        int pc;
        std::string error;
    } rows[] = {
        {"just before all code", kMainClinitCode - 1, "[Error IDE-0016] Unable to do line number translation for pc = 110.\n"},
        {"the header", 0, "[Error IDE-0016] Unable to do line number translation for pc = 0.\n"},
        {"a method without lines", kGetCode + 1, "[Error JVM-0026] No line number info in class file `Main'.\n"},
        // The native delay starts where Helper.<clinit> does; the search
        // from the last method takes the one with code.
        {"where a native method shares its offset", kHelperClinitCode,
         "[Error JVM-0026] No line number info in class file `Helper'.\n"},
    };
    for (const auto& row : rows) {
        std::string error;
        try {
            int line = 0, javaPc = 0;
            LineFromPc(*result_.linker, row.pc, line, javaPc);
        } catch (const EError& e) {
            error = e.Message();
        }
        EXPECT_EQ(error, row.error) << row.name;
    }
}

TEST_F(LineTranslationTest, ProgramMapGivesTheListenerFileAndLine)
{
    const LinkedProgramMap map(*result_.linker);
    const ProgramMap::SourceLine where = map.LineOfPc(kMainCode + 6 + 13);
    EXPECT_EQ(where.fileName, SystemPath(dir_.Path() + "/Main.java"));
    EXPECT_EQ(where.line, 12);
}

} // namespace
