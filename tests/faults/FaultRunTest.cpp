// morvanedirect as users run it, against a simulated module that misbehaves
// (`--port sim:<fault>`, and the same module on a pseudo-terminal reached as
// a serial device): the exact catalogue line, an end within the protocol's
// time-outs, the .mox file complete or absent, and, when it listens, the
// terminal given back as it was. Each row is a CTest test of its own, so the
// long waits run side by side.

#include "faults/TerminalSession.h"
#include "support/Process.h"
#include "support/ProcessTimes.h"
#include "support/SimulatorProcess.h"
#include "support/TempDir.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kClassPath = std::string(MORVANE_FIXTURE_DIR) + "/modulerun;" + MORVANE_LIB_DIR;
const std::string kWaitingClassPath = std::string(MORVANE_FIXTURE_DIR) + "/simwait;" + MORVANE_LIB_DIR;
const std::string kHead = "MorvaneDirect version 1.3\nLinking\nFinding Morvane\n";

// Room for a loaded machine (and the sanitizers) on top of what the protocol
// itself may wait.
constexpr double kSlackSeconds = 6;
// The probe's own waits: two RTS settle times and the ping delay.
constexpr double kProbeSeconds = 0.45;

// Where the module is: the simulator morvanedirect starts itself
// (`--port sim:<faults>`), or one on a pseudo-terminal, opened as a serial
// device with the modem-line library preloaded.
enum class Port { sim, pty };

// A line that hangs up fails with the system's own error: a connection reset
// by its peer, a device that has gone.
const std::string kHangUpMark = "<hang-up>";

std::string WithHangUpError(std::string text, Port port)
{
    size_t at = text.find(kHangUpMark);
    if (at != std::string::npos)
        text.replace(at, kHangUpMark.size(), std::to_string(port == Port::sim ? ECONNRESET : EIO));
    return text;
}

// "drop-ack=3,pace" as the simulator's own options.
std::vector<std::string> SimulatorOptions(const std::string& faults)
{
    std::vector<std::string> args;
    size_t start = 0;
    while (start < faults.size()) {
        size_t comma = faults.find(',', start);
        std::string option = faults.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? faults.size() : comma + 1;
        size_t equals = option.find('=');
        args.push_back("--" + option.substr(0, equals));
        if (equals != std::string::npos)
            args.push_back(option.substr(equals + 1));
    }
    return args;
}

// The port morvanedirect is given for `faults`; a pseudo-terminal's
// simulator is started in `dir` and kept in `simulator`.
std::string PortFor(Port port, const std::string& faults, const std::string& dir, SimulatorProcess& simulator)
{
    if (port == Port::sim)
        return "sim" + (faults.empty() ? "" : ":" + faults);
    if (!simulator.Start(SimulatorProcess::lnPty, dir, SimulatorOptions(faults)))
        ADD_FAILURE() << "no simulator on a pseudo-terminal: " << simulator.StartOutput();
    return simulator.Port();
}

// Every run is one host: nothing may take the line over from it.
void ExpectOneHost(Port port, SimulatorProcess& simulator)
{
    if (port == Port::pty) {
        EXPECT_EQ(simulator.Log().find("taken over"), std::string::npos) << "another host drove the line";
    }
}

bool Exists(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// The simulator's log lines (its standard error is ours) and the number of
// progress dots, which follows the image's size, are not what these tests
// are about.
std::string Normalised(const std::string& output)
{
    std::string text;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end + 1;
        std::string line = output.substr(start, end - start);
        start = end;
        if (line.rfind("morvane-sim: ", 0) == 0)
            continue;
        size_t dots = line.find("Downloading ");
        if (dots != std::string::npos) {
            size_t first = dots + 12, last = first;
            while (last < line.size() && line[last] == '.')
                ++last;
            if (last > first)
                line.replace(first, last - first, "<dots>");
        }
        text += line;
    }
    return text;
}

// The image a clean link of the test program writes.
const Bytes& LinkedImage()
{
    static const Bytes image = [] {
        TempDir dir;
        ProcessResult result = RunMorvane({"--link", "--path", kClassPath, "Hello"}, {.workingDirectory = dir.Path()});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return dir.Read("Hello.mox");
    }();
    return image;
}

struct FaultRun {
    const char* name;
    std::string faults;   // the simulator's, after "sim:"
    std::string lines;    // after "Finding Morvane\n"
    int exitCode;
    double atLeastSeconds; // the time-out the host must wait out
    double atMostSeconds;  // the time-outs that may add up, before the slack
};

const std::string kTimeout = "[Error IDE-0022] Error reading from the serial port (timeout).\n";
const std::string kDownloaded = "Downloading <dots>\nDownload complete. Resetting Morvane.\n";

// The bounds are the protocol's: a block acknowledgement is waited for 2 s,
// but once the block's echoes are in, the read of the answer has its own
// 5 s; a status packet may pause 1 s between bytes; the start-up byte has a
// 10 s window.
const FaultRun kFaultRuns[] = {
    {"LostBlockAcknowledgement", "drop-ack=1", "Downloading <dots>" + kTimeout, 1, 5, kProbeSeconds + 5},
    {"LostAcknowledgementLater", "drop-ack=12", "Downloading <dots>" + kTimeout, 1, 5, kProbeSeconds + 5},
    {"StatusTypeByteTurnedIntoAFlag", "corrupt-status=0",
     "[Error IDE-0010] Error communicating over the serial port (corrupt packet $00).\n", 1, kProbeSeconds,
     kProbeSeconds},
    {"StatusPcByteCorrupt", "corrupt-status=1",
     "[Error IDE-0009] Error communicating over the serial port (checksum failed).\n", 1, kProbeSeconds, kProbeSeconds},
    {"StatusChecksumCorrupt", "corrupt-status=5",
     "[Error IDE-0009] Error communicating over the serial port (checksum failed).\n", 1, kProbeSeconds, kProbeSeconds},
    {"StatusFlagCorrupt", "corrupt-status=6", kTimeout, 1, kProbeSeconds + 1, kProbeSeconds + 2},
    {"SilentFromTheStart", "silent-after=0", kTimeout, 1, 0.4 + 10, 0.4 + 10},
    {"SilentInTheStatusPacket", "silent-after=8", kTimeout, 1, kProbeSeconds + 1, kProbeSeconds + 2},
    {"SilentBeforeTheFirstBlocksEcho", "silent-after=14", "Downloading <dots>" + kTimeout, 1, kProbeSeconds + 2,
     kProbeSeconds + 2},
    {"SilentInTheSecondBlocksEcho", "silent-after=40", "Downloading <dots>" + kTimeout, 1, kProbeSeconds + 5,
     kProbeSeconds + 5},
    {"HangUpMidDownload", "hang-up-at-block=3",
     "Downloading <dots>[Error IDE-0008] Error reading from the serial port (" + kHangUpMark + ").\n", 1, kProbeSeconds,
     kProbeSeconds},
    {"NoiseBeforeTheStartUpByte", "garbage=600", kDownloaded, 0, kProbeSeconds, kProbeSeconds + 0.4},
    {"AnotherDeviceAnswersThePing", "ping-answer=0x33",
     "[Error IDE-0047] Another device connected to the serial port.\n", 1, kProbeSeconds, kProbeSeconds},
    {"AnotherDeviceAnswersWithTheEndOfStartUp", "ping-answer=0x50",
     "[Error IDE-0047] Another device connected to the serial port.\n", 1, kProbeSeconds, kProbeSeconds},
    {"DsrStuckLow", "dsr=low", "[Error IDE-0046] Morvane not found on serial port.\n", 1, 0.2, 0.2},
    {"DsrStuckHigh", "dsr=high", "[Error IDE-0046] Morvane not found on serial port.\n", 1, 0.4, 0.4},
    {"FiveDigitMemory", "memory=49152", kDownloaded, 0, kProbeSeconds, kProbeSeconds + 0.4},
};

// The row's name, where CTest lists the test.
void PrintTo(const FaultRun& run, std::ostream* out) { *out << run.name; }

std::string RowName(const char* name, Port port) { return std::string(name) + (port == Port::pty ? "OnADevice" : ""); }

class FaultRunTest : public testing::TestWithParam<std::tuple<FaultRun, Port>> {};

TEST_P(FaultRunTest, ReportsTheFaultInTimeAndLeavesTheImageWholeOrAbsent)
{
    const auto& [run, kind] = GetParam();
    const Bytes& image = LinkedImage();
    ASSERT_FALSE(image.empty());
    TempDir dir;
    SimulatorProcess simulator;
    std::string port = PortFor(kind, run.faults, dir.Path(), simulator);
    std::optional<DevicePathEnvironment> device;
    if (kind == Port::pty)
        device.emplace();
    ProcessResult result = RunMorvane({"--path", kClassPath, "--port", port, "Hello"},
                                      {.workingDirectory = dir.Path(), .timeoutSeconds = run.atMostSeconds + 60});
    EXPECT_EQ(Normalised(result.output), kHead + WithHangUpError(run.lines, kind));
    EXPECT_EQ(result.exitCode, run.exitCode);
    EXPECT_GE(result.seconds, run.atLeastSeconds) << "the host gave up before its time-out";
    EXPECT_LE(result.seconds, run.atMostSeconds + kSlackSeconds) << "the host waited beyond its time-outs";
    ExpectOneHost(kind, simulator);

    // The image is written once the module is found, before the download:
    // after a failed search there is none, after a failed download it is
    // complete. Never a temporary file left behind either.
    std::vector<std::string> files = dir.List();
    std::erase(files, "line");
    if (run.lines.rfind("Downloading", 0) == 0) {
        EXPECT_EQ(files, std::vector<std::string>{"Hello.mox"});
        EXPECT_EQ(dir.Read("Hello.mox"), image) << "the .mox file is the linker's image, whole";
    } else {
        EXPECT_EQ(files, std::vector<std::string>{}) << "no .mox file after a failed search";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRunTest, testing::Combine(testing::ValuesIn(kFaultRuns), testing::Values(Port::sim, Port::pty)),
                         [](const testing::TestParamInfo<FaultRunTest::ParamType>& row) {
                             return RowName(std::get<0>(row.param).name, std::get<1>(row.param));
                         });

// Listening: the program waits for a key, polling; a key typed on the
// terminal reaches it. Then the run ends one way or another. Or the program
// hangs in an endless loop, and the run, stopped, says where it was.
enum class Ending { ctrlC, terminated, simulatorGoes, failsBeforeListening, secondHostRefused };
enum class Program { patient, spin, spinStored };

struct ListenRun {
    const char* name;
    Ending ending;
    std::string faults; // of the simulator
    std::string tail;   // what the run prints after the head
    int exitCode;
    bool deviceOnly = false; // a second host over RFC 2217 takes the line over instead
    Program program = Program::patient;
    bool idle = false;       // the host and the simulator are left idle a while first
};

const std::string kListening = "Downloading <dots>\nDownload complete. Resetting Morvane.\n"
                               "Listening for messages\nwaiting for a key\ngot 113\n";
const std::string kSpinning = "Downloading <dots>\nDownload complete. Resetting Morvane.\n"
                              "Listening for messages\nspinning\n";
// The loop's line in tests/fixtures/simwait/Spin.java; the file is named
// after the class file, found along the class path, as exception reports
// name it.
const std::string kWhereSpinning =
    "Program was at Spin.spin (" + std::string(MORVANE_FIXTURE_DIR) + "/simwait/Spin.java:10)\n";

const ListenRun kListenRuns[] = {
    // The program has ended when the run is stopped: nowhere to name.
    {"CtrlC", Ending::ctrlC, "garbage=300", kListening, 0},
    {"Terminated", Ending::terminated, "", kListening, 0},
    {"SimulatorGoesAway", Ending::simulatorGoes, "",
     kListening + "[Error IDE-0008] Error reading from the serial port (" + kHangUpMark + ").\n", 1},
    {"HangUpBeforeListening", Ending::failsBeforeListening, "hang-up-at-block=1",
     "Downloading <dots>[Error IDE-0008] Error reading from the serial port (" + kHangUpMark + ").\n", 1},
    {"SecondHostRefused", Ending::secondHostRefused, "", kListening, 0, true},
    {"IdleCostsNoProcessor", Ending::ctrlC, "", kListening, 0, false, Program::patient, true},
    {"HungProgramCtrlC", Ending::ctrlC, "", kSpinning + kWhereSpinning, 0, false, Program::spin},
    {"HungProgramTerminated", Ending::terminated, "", kSpinning + kWhereSpinning, 0, false, Program::spin},
    // A stored image has no map to name the place with.
    {"HungStoredProgram", Ending::ctrlC, "", kSpinning, 0, false, Program::spinStored},
};

// Processor seconds the host and the simulator use while the host listens
// and the program waits for a key, over `seconds`. Waiting in the kernel
// costs next to nothing; a loop that spins burns most of the time even on a
// loaded machine.
void ExpectIdle(int host, Port port, double seconds)
{
    // The simulator of --port sim is the host's child, one on a
    // pseudo-terminal the test's own.
    std::vector<int> simulators = ChildProcesses(port == Port::sim ? host : getpid());
    std::erase(simulators, host);
    ASSERT_EQ(simulators.size(), 1u) << "one simulator";
    double hostBefore = ProcessorSeconds(host), simulatorBefore = ProcessorSeconds(simulators[0]);
    usleep(static_cast<useconds_t>(seconds * 1e6));
    EXPECT_LT(ProcessorSeconds(host) - hostBefore, 0.05 * seconds) << "the listening host";
    EXPECT_LT(ProcessorSeconds(simulators[0]) - simulatorBefore, 0.05 * seconds) << "the simulator";
    ASSERT_GE(std::min(hostBefore, simulatorBefore), 0);
}

void PrintTo(const ListenRun& run, std::ostream* out) { *out << run.name; }

std::vector<std::tuple<ListenRun, Port>> ListenCases()
{
    std::vector<std::tuple<ListenRun, Port>> cases;
    for (const ListenRun& run : kListenRuns)
        for (Port port : {Port::sim, Port::pty})
            if (!run.deviceOnly || port == Port::pty)
                cases.emplace_back(run, port);
    return cases;
}

class ListenRunTest : public testing::TestWithParam<std::tuple<ListenRun, Port>> {};

TEST_P(ListenRunTest, EndsAsItShouldAndGivesTheTerminalBack)
{
    const auto& [run, kind] = GetParam();
    TempDir dir;
    // A simulator of the test's own where it is to go away mid-run.
    SimulatorProcess simulator;
    std::string port;
    if (run.ending == Ending::simulatorGoes && kind == Port::sim) {
        ASSERT_TRUE(simulator.Start(SimulatorProcess::lnRfc2217, dir.Path()));
        port = simulator.Port();
    } else {
        port = PortFor(kind, run.faults, dir.Path(), simulator);
    }
    std::optional<DevicePathEnvironment> device;
    if (kind == Port::pty)
        device.emplace();
    std::vector<std::string> args = {"--listen", "--path", kWaitingClassPath, "--port", port, "Patient"};
    if (run.program != Program::patient)
        args.back() = "Spin";
    if (run.program == Program::spinStored) {
        ProcessResult link = RunMorvane({"--link", "--path", kWaitingClassPath, "Spin"}, {.workingDirectory = dir.Path()});
        ASSERT_EQ(link.exitCode, 0) << link.output;
        args = {"--load", "--listen", "--port", port, "Spin"};
    }
    TerminalSession session(MORVANEDIRECT_EXE, args, dir.Path());
    ASSERT_TRUE(session.Started());

    auto end = std::chrono::steady_clock::now();
    if (run.program != Program::patient) {
        ASSERT_TRUE(session.WaitFor("spinning\n", 20)) << session.Output();
        end = std::chrono::steady_clock::now();
        if (run.ending == Ending::ctrlC)
            session.Type("\x03");
        else
            session.SendSignal(SIGTERM);
    } else if (run.ending != Ending::failsBeforeListening) {
        ASSERT_TRUE(session.WaitFor("waiting for a key\n", 20)) << session.Output();
        EXPECT_TRUE(session.WaitForKeyMode(2)) << "listening takes keys one by one, unechoed";
        if (run.idle)
            ExpectIdle(session.Pid(), kind, 2);
        if (run.ending == Ending::secondHostRefused) {
            // Refused at once, before it has touched the line: the first run
            // goes on as if nothing had happened.
            ProcessResult second = RunMorvane({"--path", kWaitingClassPath, "--port", port, "Patient"},
                                              {.workingDirectory = dir.Path()});
            EXPECT_EQ(Normalised(second.output),
                      kHead + "[Error IDE-0006] Could not open the serial port: " + port + ".\n");
            EXPECT_EQ(second.exitCode, 1);
            EXPECT_LT(second.seconds, kSlackSeconds);
        }
        session.Type("q");
        ASSERT_TRUE(session.WaitFor("got 113\n", 5)) << session.Output();
        end = std::chrono::steady_clock::now();
        switch (run.ending) {
        case Ending::ctrlC:
        case Ending::secondHostRefused: session.Type("\x03"); break;
        case Ending::terminated: session.SendSignal(SIGTERM); break;
        case Ending::simulatorGoes: simulator.Stop(); break;
        case Ending::failsBeforeListening: break;
        }
    }
    ASSERT_TRUE(session.WaitForExit(20)) << "the run did not end: " << session.Output();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - end).count();
    const std::string head = run.program == Program::spinStored ? "MorvaneDirect version 1.3\nFinding Morvane\n" : kHead;
    EXPECT_EQ(Normalised(session.Output()), head + WithHangUpError(run.tail, kind));
    EXPECT_EQ(session.ExitCode(), run.exitCode);
    EXPECT_TRUE(session.TerminalAsBefore()) << "the terminal's mode was not given back";
    if (run.ending != Ending::failsBeforeListening) {
        // The listener looks at its line every 50 ms.
        EXPECT_LT(seconds, 0.05 + kSlackSeconds) << "the end took too long";
    }
    if (kind == Port::pty && run.ending == Ending::simulatorGoes) {
        EXPECT_FALSE(Exists(port)) << "the simulator leaves its link behind";
    } else {
        ExpectOneHost(kind, simulator);
    }
}

INSTANTIATE_TEST_SUITE_P(Listening, ListenRunTest, testing::ValuesIn(ListenCases()),
                         [](const testing::TestParamInfo<ListenRunTest::ParamType>& row) {
                             return RowName(std::get<0>(row.param).name, std::get<1>(row.param));
                         });

} // namespace
