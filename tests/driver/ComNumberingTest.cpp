// COM numbers reach a serial adapter: the device list rooted in a folder of
// the test's, with a ttyUSB0 that leads to the simulated module on a
// pseudo-terminal, and the whole run in this process (which has the
// modem-line library preloaded, see CMakeLists.txt).

#include "driver/RunSequence.h"
#include "support/ConsoleCapture.h"
#include "support/Process.h"
#include "support/SimulatorProcess.h"
#include "support/TempDir.h"

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const std::string kFound = "Downloading <dots>\nDownload complete. Resetting Morvane.\n";

// The progress dots follow the image's size.
std::string WithoutDots(std::string text)
{
    size_t first = text.find("Downloading ");
    if (first != std::string::npos) {
        first += 12;
        size_t last = text.find_first_not_of('.', first);
        text.replace(first, (last == std::string::npos ? text.size() : last) - first, "<dots>");
    }
    return text;
}

struct NumberingCase {
    const char* name;
    std::vector<std::string> port; // the --port option, if any
    std::string lines;             // after "Finding Morvane\n"
    int exitCode;
};

TEST(ComNumberingTest, ComNumbersNameTheAdaptersUnderTheListsRoot)
{
    const NumberingCase cases[] = {
        {"COM1 chosen", {"--port", "1"}, kFound, 0},
        {"every port searched", {}, kFound, 0},
        {"COM2, which is no device", {"--port", "2"}, "[Error IDE-0006] Could not open the serial port: COM2.\n", 1},
    };
    TempDir dir;
    std::string classPath = std::string(MORVANE_FIXTURE_DIR) + "/simwait;" + MORVANE_LIB_DIR;
    ProcessResult linked = RunMorvane({"--link", "--path", classPath, "Patient"}, {.workingDirectory = dir.Path()});
    ASSERT_EQ(linked.exitCode, 0) << linked.output;
    for (const NumberingCase& c : cases) {
        TempDir root;
        SimulatorProcess simulator;
        ASSERT_TRUE(simulator.Start(SimulatorProcess::lnPty, root.Path())) << c.name;
        // A ttyS node without a UART behind it comes before the adapter and
        // takes no number.
        root.Write("dev/ttyS0", "");
        ASSERT_EQ(symlink(simulator.Port().c_str(), root.File("dev/ttyUSB0").c_str()), 0);
        std::vector<std::string> args = c.port;
        args.insert(args.end(), {"--load", dir.File("Patient")});
        ConsoleCapture console;
        int exitCode = RunMorvaneDirect(args, {root.File("dev"), root.File("sys")});
        EXPECT_EQ(WithoutDots(console.Text()), "MorvaneDirect version 1.3\nFinding Morvane\n" + c.lines) << c.name;
        EXPECT_EQ(exitCode, c.exitCode) << c.name;
    }
}

} // namespace
