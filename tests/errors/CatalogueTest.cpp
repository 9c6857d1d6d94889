#include "errors/EError.h"
#include "support/ConsoleCapture.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

struct MessageCase {
    const char* name;
    EError error;
    std::string expected;
};

TEST(EErrorTest, FormatsTheOneLineMessage)
{
    const MessageCase cases[] = {
        {"JVM19 names the class", EError(ecJVM, 19, "tolve/core/CPU"),
         "[Error JVM-0019] Cannot read Java class file: `tolve/core/CPU'. Version not supported.\n"},
        {"small numbers are zero-padded", EError(ecIDE, 6, "COM3"), "[Error IDE-0006] Could not open the serial port: COM3.\n"},
        {"SYS takes no argument", EError(ecSYS, 30), "[Error SYS-0030] Out of memory.\n"},
        {"tag and name in order", EError(ecJVM, 21, 2, "Main"), "[Error JVM-0021] Unknown tag (2) in java class file: `Main'.\n"},
        {"a character argument", EError(ecJVM, 22, 'Q', "run"),
         "[Error JVM-0022] Unknown parameter (`Q') in definition of method `run'.\n"},
        {"upper-case two-digit hex", EError(ecIDE, 10, 0x7E),
         "[Error IDE-0010] Error communicating over the serial port (corrupt packet $7E).\n"},
        {"lower-case hex", EError(ecIDE, 52, 0xC3), "[Error IDE-0052] Incompatible firmware revision ($c3).\n"},
        {"percent signs in an argument stay text", EError(ecIDE, 17, "a%s%n%d.mox", 2, "No such file or directory"),
         "[Error IDE-0017] Unable to open file for writing `a%s%n%d.mox' (2, No such file or directory).\n"},
        {"a missing argument prints nothing", EError(ecLNK, 3), "[Error LNK-0003] Unable to load class `'.\n"},
        {"IDE 51 has no row", EError(ecIDE, 51), "Cannot find text for error message (51).\n"},
        {"an unknown category has no row", EError(7, 1), "Cannot find text for error message (1).\n"},
    };
    for (const MessageCase& c : cases)
        EXPECT_EQ(c.error.Message(), c.expected) << c.name;
}

TEST(EErrorTest, MissingRowCarriesNoExplanation)
{
    EError error(ecIDE, 51);
    EXPECT_EQ(error.Problem(), nullptr);
    EXPECT_EQ(error.Solution(), nullptr);
    EXPECT_STREQ(error.Detail(), "");
    ConsoleCapture console;
    error.Print(true);
    EXPECT_EQ(console.Text(), "Cannot find text for error message (51).\n");
}

TEST(EErrorTest, LongArgumentsAreCutButStayOneLine)
{
    std::string longName(3000, 'x');
    EError error(ecJVM, 17, longName, longName);
    std::string message = error.Message();
    EXPECT_EQ(message.size(), 1023u);
    EXPECT_EQ(message.back(), '\n');
    EXPECT_EQ(message.find('\n'), message.size() - 1);
    EXPECT_EQ(std::string(error.Detail()).size(), 1023u);

    EError copy = error; // copies own their text
    EXPECT_STREQ(copy.Message(), error.Message());
}

TEST(EErrorTest, PrintWithProblemAndSolution)
{
    ConsoleCapture console;
    EError(ecIDE, 54).Print(true);
    EXPECT_EQ(console.Text(), "[Error IDE-0054] Unable to find a Morvane on any port.\n"
                              "\nProblem:\n  It was not possible to find a connected Morvane.\n"
                              "Solution:\n  Check that the Morvane is connected and powered up.\n\n");
}

TEST(EErrorTest, ProblemTextsAreNeverFormats)
{
    ConsoleCapture console;
    EError(ecLNK, 1, 255).Print(true);
    EXPECT_NE(console.Text().find("Only %d classes can be referenced in a single program."), std::string::npos);
}

TEST(EErrorTest, PrintWithoutExplanationIsTheMessageOnly)
{
    ConsoleCapture console;
    EError(ecIDE, 43).Print(false);
    EXPECT_EQ(console.Text(), "[Error IDE-0043] Morvane did not respond to reset.\n");
}

TEST(CatalogueTest, PrintCatalogueMessageFormatsLikeAnError)
{
    ConsoleCapture console;
    PrintCatalogueMessage(ecIDE, 28, "java.lang.ArithmeticException");
    EXPECT_EQ(console.Text(), "[Error IDE-0028] Unhandled exception in JVM: java.lang.ArithmeticException\n");
}

TEST(CatalogueDeathTest, PrintCatalogueMessageOfAMissingRowEndsTheProcess)
{
    EXPECT_EXIT(PrintCatalogueMessage(ecIDE, 51), testing::ExitedWithCode(1), "");
}

TEST(CatalogueTest, HoldsEveryRowOnceInOrder)
{
    std::map<int, int> perCategory;
    std::set<std::pair<int, int>> seen;
    int previousCategory = 0, previousNumber = 0, rows = 0;
    const CatalogueRow* row = CatalogueRows();
    for (; row->category != ecLast; ++row, ++rows) {
        EXPECT_TRUE(seen.insert({row->category, row->number}).second) << row->category << "/" << row->number;
        EXPECT_TRUE(row->category > previousCategory || (row->category == previousCategory && row->number > previousNumber))
            << CategoryName(row->category) << " " << row->number;
        EXPECT_TRUE(row->message && *row->message && row->problem && *row->problem && row->solution && *row->solution)
            << CategoryName(row->category) << " " << row->number;
        ++perCategory[row->category];
        previousCategory = row->category;
        previousNumber = row->number;
    }
    EXPECT_EQ(rows, 98);
    EXPECT_EQ(perCategory[ecSYS], 1);
    EXPECT_EQ(perCategory[ecJVM], 32);
    EXPECT_EQ(perCategory[ecLNK], 10);
    EXPECT_EQ(perCategory[ecIDE], 55);
    EXPECT_EQ(FindCatalogueRow(ecIDE, 51), nullptr);
    EXPECT_STREQ(CategoryName(0), "Last");
    EXPECT_STREQ(CategoryName(ecIDE), "IDE");
}

} // namespace
