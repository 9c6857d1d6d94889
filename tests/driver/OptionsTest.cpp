#include "driver/Options.h"
#include "driver/RunSettings.h"
#include "support/SystemFacts.h"

#include <gtest/gtest.h>

namespace {

struct PortCase {
    const char* value;
    bool chosen;
    int index;
    std::string device;
};

TEST(OptionsTest, PortValues)
{
    const PortNames names = ExamplePortNames();
    const PortCase cases[] = {
        {"0", false, 0, ""},        {names.notADevice.c_str(), false, 0, ""},     {"1", true, 0, ""},
        {" 2", true, 1, ""},        {"+7x", true, 6, ""},       {"-3", true, -4, ""},
        {"", false, 0, ""},         {"   ", false, 0, ""},      {"99999999999", true, 2147483646, ""},
        {names.device.c_str(), true, 0, names.device},
        {"00", false, 0, ""},       {"sim:pace,memory=4096", true, 0, "sim:pace,memory=4096"},
    };
    for (const PortCase& c : cases) {
        InitialiseSettings();
        CommandLine line = ParseCommandLine({"--port", c.value, "Prog"});
        EXPECT_EQ(line.outcome, CommandLine::ocRun) << c.value;
        EXPECT_EQ(Settings().PortChosen, c.chosen) << c.value;
        EXPECT_EQ(Settings().PortIndex, c.index) << c.value;
        EXPECT_EQ(Settings().PortDevice, c.device) << c.value;
        EXPECT_EQ(line.fileName, "Prog") << c.value;
    }
}

TEST(OptionsTest, ALaterZeroPortKeepsTheEarlierChoice)
{
    InitialiseSettings();
    ParseCommandLine({"--port", "3", "--port", "0"});
    EXPECT_TRUE(Settings().PortChosen);
    EXPECT_EQ(Settings().PortIndex, 2);
    ParseCommandLine({"--port", ExamplePortNames().device, "--port", "2"});
    EXPECT_EQ(Settings().PortDevice, "");
    EXPECT_EQ(Settings().PortIndex, 1);
}

struct ParseCase {
    const char* name;
    std::vector<std::string> args;
    std::string fileName, classPath;
    bool linkOnly, loadOnly, listen;
};

TEST(OptionsTest, Words)
{
    const ParseCase cases[] = {
        {"last file name wins", {"One", "Two"}, "Two", "", false, false, false},
        {"a word with one hyphen is a file name", {"-verbose"}, "-verbose", "", false, false, false},
        {"path value taken unseen", {"--path", "--link", "Main"}, "Main", "--link", false, false, false},
        {"listen after download", {"--listen", "Main", "--path", "a;b"}, "Main", "a;b", false, false, true},
        {"listen is dropped when only linking", {"--listen", "--link", "Main"}, "Main", "", true, false, false},
        {"load with listen", {"--load", "--listen", "Main"}, "Main", "", false, true, true},
    };
    for (const ParseCase& c : cases) {
        InitialiseSettings();
        CommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ(line.outcome, CommandLine::ocRun) << c.name;
        EXPECT_EQ(line.fileName, c.fileName) << c.name;
        EXPECT_EQ(line.classPath, c.classPath) << c.name;
        EXPECT_EQ(line.linkOnly, c.linkOnly) << c.name;
        EXPECT_EQ(line.loadOnly, c.loadOnly) << c.name;
        EXPECT_EQ(line.listen, c.listen) << c.name;
    }
}

TEST(OptionsTest, PortNumberReading)
{
    EXPECT_EQ(PortNumberOf("\t\n 12abc"), 12);
    EXPECT_EQ(PortNumberOf("-"), 0);
    EXPECT_EQ(PortNumberOf("x1"), 0);
    EXPECT_EQ(PortNumberOf("- 1"), 0);
}

} // namespace
