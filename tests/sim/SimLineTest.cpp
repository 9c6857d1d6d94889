// morvane-sim's line as a host meets it, over RFC 2217 and on a
// pseudo-terminal alike: what the host does reaches the module in the host's
// order, a host that goes lets the lines fall, a second host that takes the
// line over finds it fresh, the host's own port drops what it purges, and a
// second simulator leaves a link it does not own alone.
// The host is our serial driver and protocol; a second host is another
// process that takes the line as it finds it. The modem-line library is
// preloaded into this test (see CMakeLists.txt).

#include "device/TSXComm.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "platform/SerialPort.h"
#include "serial/TCommPortDriver.h"
#include "support/Process.h"
#include "support/ProcessTimes.h"
#include "support/SimulatorProcess.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using Line = SimulatorProcess::Line;

constexpr uint8_t kStartLoad = 0x0F;
constexpr uint8_t kNoProgram = 0x50;

// A program for the module's EEPROM, linked once.
const std::string& ProgramImage()
{
    static TempDir dir;
    static const std::string image = [] {
        std::string classPath = std::string(MORVANE_FIXTURE_DIR) + "/simwait;" + MORVANE_LIB_DIR;
        ProcessResult result = RunMorvane({"--link", "--path", classPath, "Patient"}, {.workingDirectory = dir.Path()});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return dir.File("Patient.mox");
    }();
    return image;
}

// Our driver and protocol on the simulator's line.
struct Host {
    explicit Host(const std::string& port)
    {
        InitialiseSettings();
        Settings().PortChosen = true;
        driver.SetComPortSpeed(br28800);
        driver.SetPacketMode(pmPass);
        driver.SetEnableDTROnOpen(false);
        driver.SetComPortName(port);
    }

    void Send(const Bytes& bytes)
    {
        ASSERT_EQ(driver.SendData(bytes.data(), static_cast<int32_t>(bytes.size())), static_cast<int32_t>(bytes.size()));
    }

    // The next byte within `timeoutMs`, or -1.
    int Next(int64_t timeoutMs)
    {
        uint8_t byte = 0;
        if (driver.WaitForData(driver.NowMs() + timeoutMs) <= 0 || driver.ReadChar(byte))
            return -1;
        return byte;
    }

    TCommPortDriver driver;
    TSXComm comm{driver};
};

// A second host, as another program: it opens the line without the lock
// and without configuring it, and (on a pseudo-terminal, where that is what
// makes it the line's host) asks for the modem lines once. It sends `bytes`
// and reports the first `count` bytes that come within `timeoutMs`, in
// hexadecimal, or "DTR high" when the lines it was given say so.
std::string SecondHost(Line line, const std::string& port, const Bytes& bytes, size_t count, int64_t timeoutMs)
{
    int report[2];
    if (pipe(report) != 0)
        return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        std::unique_ptr<SerialPort> network = line == SimulatorProcess::lnRfc2217 ? CreateSerialPort(port) : nullptr;
        int fd = network ? -1 : open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int lines = 0;
        bool ready = network ? network->Open() == 0 : fd >= 0 && ioctl(fd, TIOCMGET, &lines) == 0;
        std::string seen = (lines & TIOCM_DTR) ? "DTR high" : "";
        if (ready && seen.empty() &&
            (network ? network->Write(bytes.data(), bytes.size(), 1000) : write(fd, bytes.data(), bytes.size())) ==
                static_cast<long>(bytes.size())) {
            pollfd wait{fd, POLLIN, 0};
            uint8_t got[64];
            for (long n = 1; n > 0 && seen.size() < 2 * count;) {
                size_t want = count - seen.size() / 2;
                n = network ? network->Read(got, want, timeoutMs)
                            : poll(&wait, 1, static_cast<int>(timeoutMs)) > 0 ? read(fd, got, want) : 0;
                for (long i = 0; i < n; ++i)
                    seen += {"0123456789abcdef"[got[i] >> 4], "0123456789abcdef"[got[i] & 15]};
            }
        }
        _exit(write(report[1], seen.data(), seen.size()) < 0); // nothing of the first host's is torn down here
    }
    close(report[1]);
    std::string seen;
    char chunk[256];
    for (ssize_t n; (n = read(report[0], chunk, sizeof chunk)) > 0;)
        seen.append(chunk, static_cast<size_t>(n));
    close(report[0]);
    waitpid(pid, nullptr, 0);
    return seen;
}

struct LineCase {
    const char* name;
    bool program; // the module starts with one in EEPROM
    bool paced;
    std::function<void(Line, SimulatorProcess&, Host&)> run;
};

const LineCase kCases[] = {
    {"PurgeDropsWhatHasArrived", false, false,
     [](Line, SimulatorProcess&, Host& host) {
         host.comm.FindModule();
         host.Send({0x01}); // a status packet comes back
         ASSERT_GT(host.driver.WaitForData(host.driver.NowMs() + 2000), 0);
         host.driver.Pause(100);
         host.driver.FlushBuffers(true, false);
         EXPECT_EQ(host.driver.CharCount(), 0);
         host.driver.Pause(100);
         EXPECT_EQ(host.driver.CharCount(), 0) << "bytes that were on their way when it purged";
     }},
    {"AHostThatGoesLetsDtrFall", true, false,
     [](Line, SimulatorProcess& simulator, Host& host) {
         ASSERT_TRUE(simulator.WaitFor("program started", 3000)) << "at power-on";
         ASSERT_TRUE(host.driver.Connect());
         host.driver.ToggleDTR(true); // held in reset
         host.driver.Pause(100);
         host.driver.Disconnect();
         EXPECT_TRUE(simulator.WaitFor("program started", 3000)) << "the module is still held in reset";
     }},
    {"BytesBeforeALineChangeComeFirst", true, false,
     [](Line, SimulatorProcess&, Host& host) {
         host.comm.FindModule();
         // A download begun (the program is gone) and at once a reset: the
         // module must see them in this order to come up without a program.
         host.Send({0x0C});
         host.driver.ToggleDTR(true);
         host.driver.ToggleDTR(false);
         int byte;
         while ((byte = host.Next(2000)) >= 0 && byte != kStartLoad) {
         }
         ASSERT_EQ(byte, kStartLoad);
         EXPECT_EQ(host.Next(2000), kNoProgram) << "the reset overtook the byte before it";
     }},
    {"ATakeOverLetsDtrFall", false, false,
     [](Line line, SimulatorProcess& simulator, Host& host) {
         ASSERT_TRUE(host.driver.Connect());
         host.driver.ToggleDTR(true);
         host.driver.Pause(50);
         // The module starts again when its reset line falls and ends its
         // start-up without a program.
         EXPECT_EQ(SecondHost(line, simulator.Port(), {}, 1, 2000), "50");
         EXPECT_TRUE(simulator.WaitFor("taken over", 1000));
     }},
    {"ATakeOverFindsNothingOfTheFirstHost", false, true,
     [](Line line, SimulatorProcess& simulator, Host& host) {
         host.comm.FindModule();
         // Echoes queued for a third of a second, a download begun and a
         // block half sent.
         Bytes first(1000, 0x00);
         first.insert(first.end(), {0x0C, 0x0B, 0x00, 1, 2, 3, 4, 5, 6, 7});
         host.Send(first);
         // A status query: its echo, then the status packet, and nothing
         // before them.
         EXPECT_EQ(SecondHost(line, simulator.Port(), {0x01}, 2, 1000), "0181");
         EXPECT_TRUE(simulator.WaitFor("taken over", 1000));
     }},
    {"AHostWithoutModemLinesIsHeard", false, false,
     [](Line line, SimulatorProcess& simulator, Host&) {
         if (line != SimulatorProcess::lnPty)
             GTEST_SKIP() << "only a device is opened";
         // A terminal program: it opens the device and sends, touching no
         // modem line, so only the kernel's word that it opened tells. The
         // module has long ended its start-up: nothing else wakes it.
         usleep(800 * 1000);
         int fd = open(simulator.Port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
         ASSERT_GE(fd, 0);
         const uint8_t query = 0x01;
         ASSERT_EQ(write(fd, &query, 1), 1);
         pollfd wait{fd, POLLIN, 0};
         uint8_t echo = 0;
         EXPECT_TRUE(poll(&wait, 1, 2000) == 1 && read(fd, &echo, 1) == 1 && echo == query) << "no echo";
         close(fd);
     }},
    {"AnIdleSimulatorCostsNoProcessor", true, false,
     [](Line, SimulatorProcess& simulator, Host&) {
         // Its program waits for a key nobody sends; nobody has the line.
         ASSERT_TRUE(simulator.WaitFor("program started", 3000));
         std::vector<int> children = ChildProcesses(getpid());
         ASSERT_EQ(children.size(), 1u) << "the simulator is this test's only child";
         double before = ProcessorSeconds(children[0]);
         usleep(2000 * 1000);
         double used = ProcessorSeconds(children[0]) - before;
         ASSERT_GE(before, 0);
         // Waiting in the kernel costs next to nothing; a loop that spins
         // burns a good part of the time even on a loaded machine.
         EXPECT_LT(used, 0.1) << "processor seconds in 2 s of idling";
     }},
    {"ASecondSimulatorLeavesTheLinkAlone", false, false,
     [](Line line, SimulatorProcess& simulator, Host& host) {
         if (line != SimulatorProcess::lnPty)
             GTEST_SKIP() << "only a device has a link";
         std::string dir = simulator.Port().substr(0, simulator.Port().rfind('/'));
         SimulatorProcess second;
         EXPECT_FALSE(second.Start(line, dir)) << "it took over the link of a simulator that serves it";
         host.comm.FindModule();
         // A link of the user's, to a file, is no simulator's to replace.
         TempDir other;
         other.Write("file", std::string("mine"));
         ASSERT_EQ(symlink(other.File("file").c_str(), other.File("line").c_str()), 0);
         EXPECT_FALSE(second.Start(line, other.Path()));
         char target[512] = {};
         EXPECT_EQ(std::string(target, static_cast<size_t>(std::max<ssize_t>(
                                           0, readlink(other.File("line").c_str(), target, sizeof target - 1)))),
                   other.File("file"));
     }},
};

void PrintTo(const LineCase& row, std::ostream* out) { *out << row.name; }

class SimLineTest : public testing::TestWithParam<std::tuple<LineCase, Line>> {};

TEST_P(SimLineTest, AsTheHostDidIt)
{
    const auto& [row, line] = GetParam();
    TempDir dir;
    SimulatorProcess simulator;
    std::vector<std::string> args;
    if (row.program)
        args = {"--image", ProgramImage()};
    if (row.paced)
        args.push_back("--pace");
    ASSERT_TRUE(simulator.Start(line, dir.Path(), args));
    Host host(simulator.Port());
    try {
        row.run(line, simulator, host);
    } catch (const EError& error) {
        ADD_FAILURE() << error.Message();
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, SimLineTest,
                         testing::Combine(testing::ValuesIn(kCases),
                                          testing::Values(SimulatorProcess::lnRfc2217, SimulatorProcess::lnPty)),
                         [](const testing::TestParamInfo<SimLineTest::ParamType>& row) {
                             return std::string(std::get<0>(row.param).name) +
                                    (std::get<1>(row.param) == SimulatorProcess::lnPty ? "OnADevice" : "OverRfc2217");
                         });

} // namespace
