// morvane-sim's command line: what it takes, and what it refuses and names.

#include "sim/SimOptions.h"

#include <gtest/gtest.h>

namespace {

struct OptionsCase {
    const char* name;
    std::vector<std::string> args;
    SimOptions::Outcome outcome;
    std::string error;
    int32_t port;
};

TEST(SimOptionsTest, ParsesOrNamesTheArgumentAtFault)
{
    const OptionsCase cases[] = {
        {"nothing: the usage", {}, SimOptions::ocUsage, "", -1},
        {"help", {"--pace", "-h"}, SimOptions::ocUsage, "", -1},
        {"a free port", {"--listen-port", "0"}, SimOptions::ocRun, "", 0},
        {"everything", {"--pace", "--listen-port", "2217", "--memory", "8192", "--exit-on-eof"}, SimOptions::ocRun, "", 2217},
        {"no port", {"--pace"}, SimOptions::ocError, "", -1},
        {"port beyond 16 bits", {"--listen-port", "65536"}, SimOptions::ocError, "--listen-port 65536", -1},
        {"port without digits", {"--listen-port", "-1"}, SimOptions::ocError, "--listen-port -1", -1},
        {"port missing its value", {"--listen-port"}, SimOptions::ocError, "--listen-port", -1},
        {"memory below a module's", {"--listen-port", "0", "--memory", "1024"}, SimOptions::ocError, "--memory 1024", 0},
        {"memory beyond the address space", {"--listen-port", "0", "--memory", "65536"}, SimOptions::ocError,
         "--memory 65536", 0},
        {"an unknown option", {"--listen-port", "0", "--fast"}, SimOptions::ocError, "--fast", 0},
        {"a pseudo-terminal", {"--pty", "/tmp/line", "--pace"}, SimOptions::ocRun, "", -1},
        {"a pseudo-terminal without its link", {"--pty"}, SimOptions::ocError, "--pty", -1},
        {"both lines at once", {"--pty", "/tmp/line", "--listen-port", "0"}, SimOptions::ocError, "--pty /tmp/line", 0},
    };
    for (const OptionsCase& c : cases) {
        SimOptions options = ParseSimOptions(c.args);
        EXPECT_EQ(options.outcome, c.outcome) << c.name;
        EXPECT_EQ(options.error, c.error) << c.name;
        if (c.outcome == SimOptions::ocRun) {
            EXPECT_EQ(options.listenPort, c.port) << c.name;
        }
    }
    SimOptions all = ParseSimOptions({"--pace", "--listen-port", "2217", "--memory", "8192", "--image", "a.mox", "--exit-on-eof"});
    EXPECT_TRUE(all.paced && all.exitOnEof);
    EXPECT_EQ(all.ramBytes, 8192u);
    EXPECT_EQ(all.imageFile, "a.mox");
}

} // namespace
