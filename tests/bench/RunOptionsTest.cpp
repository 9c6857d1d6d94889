// morvane-run's command line: what it takes, and the line it shows for
// what it refuses.

#include "run/RunOptions.h"

#include <gtest/gtest.h>

namespace {

TEST(RunOptionsTest, ParsesOrSaysWhatIsWrong)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        RunOptions::Outcome outcome;
        std::string error;
        int64_t timeoutUs;
        bool timeoutGiven;
        uint32_t ramBytes;
        int jdwpPort = -1;
    };
    const Case cases[] = {
        {"nothing: the usage", {}, RunOptions::ocUsage, "", 10'000'000, false, 0},
        {"help after other words", {"--bench", "b.toml", "-h"}, RunOptions::ocUsage, "", 10'000'000, false, 0},
        {"a main class alone", {"Blink"}, RunOptions::ocRun, "", 10'000'000, false, 0},
        {"no time-out", {"--timeout", "0", "Blink"}, RunOptions::ocRun, "", 0, true, 0},
        {"a time-out with decimals", {"Blink", "--timeout", "1.5s"}, RunOptions::ocRun, "", 1'500'000, true, 0},
        {"a time-out without unit", {"--timeout", "10", "Blink"}, RunOptions::ocError,
         "--timeout expects a module time such as 10s, 500ms or 200us (0 for none), not '10'.", 10'000'000, false, 0},
        {"the least memory", {"--memory", "4096", "Blink"}, RunOptions::ocRun, "", 10'000'000, false, 4096},
        {"the most memory", {"--memory", "49152", "Blink"}, RunOptions::ocRun, "", 10'000'000, false, 49152},
        {"memory below a module's", {"--memory", "4095", "Blink"}, RunOptions::ocError,
         "--memory expects 4096 to 49152 bytes, not '4095'.", 10'000'000, false, 0},
        {"memory beyond the address space", {"--memory", "49153", "Blink"}, RunOptions::ocError,
         "--memory expects 4096 to 49152 bytes, not '49153'.", 10'000'000, false, 0},
        {"memory in kilobytes", {"--memory", "16k", "Blink"}, RunOptions::ocError,
         "--memory expects 4096 to 49152 bytes, not '16k'.", 10'000'000, false, 0},
        {"an unknown option", {"Blink", "--fast"}, RunOptions::ocError, "Unknown option on command line: '--fast'.",
         10'000'000, false, 0},
        {"a debugger port", {"--jdwp", "8000", "Blink"}, RunOptions::ocRun, "", 10'000'000, false, 0, 8000},
        {"a free debugger port", {"Blink", "--jdwp", "0"}, RunOptions::ocRun, "", 10'000'000, false, 0, 0},
        {"a debugger port beyond 65535", {"--jdwp", "65536", "Blink"}, RunOptions::ocError,
         "--jdwp expects a port number from 0 to 65535 (0 picks a free one), not '65536'.", 10'000'000, false, 0},
        {"a debugger port by name", {"--jdwp", "jdb", "Blink"}, RunOptions::ocError,
         "--jdwp expects a port number from 0 to 65535 (0 picks a free one), not 'jdb'.", 10'000'000, false, 0},
        {"a value missing at the end", {"Blink", "--bench"}, RunOptions::ocError, "--bench expects a value.",
         10'000'000, false, 0},
        {"an empty text", {"--expect-text", "", "Blink"}, RunOptions::ocError,
         "--expect-text expects a value that is not empty.", 10'000'000, false, 0},
        {"an empty class path is a class path", {"--path", "", "Blink"}, RunOptions::ocRun, "", 10'000'000, false, 0},
        {"no main class", {"--bench", "b.toml"}, RunOptions::ocError, "The main class is missing.", 10'000'000, false, 0},
        {"two main classes", {"Blink", "Echo"}, RunOptions::ocError,
         "One main class only: 'Blink' and 'Echo' were given.", 10'000'000, false, 0},
    };
    for (const Case& c : cases) {
        const RunOptions options = ParseRunOptions(c.args);
        EXPECT_EQ(options.outcome, c.outcome) << c.name;
        EXPECT_EQ(options.error, c.error) << c.name;
        EXPECT_EQ(options.timeoutUs, c.timeoutUs) << c.name;
        EXPECT_EQ(options.timeoutGiven, c.timeoutGiven) << c.name;
        EXPECT_EQ(options.ramBytes, c.ramBytes) << c.name;
        EXPECT_EQ(options.jdwpPort, c.jdwpPort) << c.name;
    }

    // Every value lands where it belongs, texts in the order given.
    const RunOptions all = ParseRunOptions({"--path", "lib;classes", "--bench", "b.toml", "--trace", "t.vcd",
                                            "--expect-text", "a", "--fail-text", "x", "--expect-text", "b", "--keys",
                                            "k.txt", "--junit", "j.xml", "Main"});
    ASSERT_EQ(all.outcome, RunOptions::ocRun) << all.error;
    EXPECT_EQ(all.classPath, "lib;classes");
    EXPECT_EQ(all.benchFile, "b.toml");
    EXPECT_EQ(all.traceFile, "t.vcd");
    EXPECT_EQ(all.keysFile, "k.txt");
    EXPECT_EQ(all.junitFile, "j.xml");
    EXPECT_EQ(all.mainClass, "Main");
    EXPECT_EQ(all.expectTexts, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(all.failTexts, (std::vector<std::string>{"x"}));
}

} // namespace
