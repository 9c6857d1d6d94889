// How close a download comes to the line's limit: images of 1, 8 and 32 KiB
// go to a simulated module that keeps the timing of the 28,800 baud line,
// through our RFC 2217 port (`sim:pace`) and then through a serial device
// (`morvane-sim --pty PATH --pace`, opened as an adapter is, with the
// modem-line library preloaded), and each download's time is put against
// the time the bytes that must cross the line take at 10 bits a byte: each
// block's stuffed bytes, whose echoes come back as they go, and its
// acknowledgement. The processor time both processes used meanwhile is
// shown as a share of one core.
//
//   download_bench [runs]    (default 1 run of each size on each line)

#include "device/TSXComm.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "platform/ChildProcess.h"
#include "serial/TCommPortDriver.h"
#include "support/ProcessStats.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kByteSeconds = 10.0 / 28800.0;
constexpr size_t kBlockData = 16;
// Goals: over RFC 2217, and through a serial device, where nothing but the
// pseudo-terminal stands between the two ends.
constexpr double kNetworkGoal = 0.90;
constexpr double kDeviceGoal = 0.95;

// Bytes on the line for an image: per block its stuffed packet (type, flag,
// 16 bytes, checksum) and the one-byte acknowledgement.
size_t LineBytes(const std::vector<uint8_t>& image)
{
    size_t total = 0;
    for (size_t offset = 0; offset < image.size(); offset += kBlockData) {
        uint8_t packet[kBlockData + 3] = {0x0B, static_cast<uint8_t>(offset == 0 ? 1 : 0)};
        for (size_t i = 0; i < kBlockData && offset + i < image.size(); ++i)
            packet[2 + i] = image[offset + i];
        if (offset == 0)
            packet[2] = 0xA4; // the run marker the download writes first
        uint8_t sum = 0;
        for (size_t i = 0; i < kBlockData + 2; ++i)
            sum = static_cast<uint8_t>(sum + packet[i]);
        packet[kBlockData + 2] = static_cast<uint8_t>(-sum);
        for (uint8_t b : packet)
            total += b == 0x7D || b == 0x7E ? 2 : 1;
        total += 1;
    }
    return total;
}

struct Result {
    double seconds = 0;
    double hostCpu = 0;
    double simCpu = 0;
};

// Downloads each size `runs` times on `port` and prints a row for each;
// `simulator` is the process serving it. False when a download failed.
bool Measure(const char* line, const std::string& port, pid_t simulator, int runs, double goal, bool& met)
{
    InitialiseSettings();
    Settings().PortChosen = true;
    TCommPortDriver driver;
    driver.SetComPortSpeed(br28800);
    driver.SetPacketMode(pmPass);
    driver.SetEnableDTROnOpen(false);
    driver.SetComPortName(port);
    TSXComm comm(driver);
    // The progress dots are not what is measured.
    FILE* quiet = std::fopen("/dev/null", "w");
    FILE* console = ConsoleStream();
    SetConsoleStream(quiet);
    auto failed = [&](const EError& error) {
        SetConsoleStream(console);
        std::fclose(quiet);
        ConsoleText(error.Message());
        return false;
    };
    try {
        comm.FindModule();
    } catch (const EError& error) {
        return failed(error);
    }
    if (simulator <= 0) {
        std::vector<pid_t> simulators = ChildrenOf(getpid());
        if (simulators.size() != 1) {
            std::fprintf(stderr, "expected one simulator, found %zu\n", simulators.size());
            return false;
        }
        simulator = simulators[0];
    }

    std::mt19937 random(20240917);
    for (size_t size : {1024u, 8192u, 32768u}) {
        std::vector<uint8_t> image(size);
        for (uint8_t& b : image)
            b = static_cast<uint8_t>(random());
        const double bound = static_cast<double>(LineBytes(image)) * kByteSeconds;
        for (int run = 0; run < runs; ++run) {
            std::vector<uint8_t> buffer = image;
            Result result;
            double hostStart = OwnCpuSeconds();
            double simStart = ProcessCpuSeconds(simulator);
            auto start = std::chrono::steady_clock::now();
            try {
                comm.DownloadMoxFile(buffer.data(), static_cast<int32_t>(buffer.size()), false);
            } catch (const EError& error) {
                return failed(error);
            }
            result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            result.hostCpu = OwnCpuSeconds() - hostStart;
            result.simCpu = ProcessCpuSeconds(simulator) - simStart;
            double ratio = bound / result.seconds;
            met = met && ratio >= goal;
            std::printf("%-8s %4zu KiB %7zu %10zu %10.3f %10.3f %9.1f%% %8.2f%% %8.2f%%\n", line, size / 1024,
                        size / kBlockData, LineBytes(image), bound, result.seconds, 100 * ratio,
                        100 * result.hostCpu / result.seconds, 100 * result.simCpu / result.seconds);
            std::fflush(stdout);
        }
    }
    SetConsoleStream(console);
    std::fclose(quiet);
    return true;
}

// The device rows, from a process of their own that has the modem-line
// library preloaded: a simulator on a pseudo-terminal, then this program
// again as its host. False when they could not be measured.
bool MeasureOnADevice(const char* self, int runs)
{
    char folder[] = "/tmp/download-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return false;
    std::string link = std::string(folder) + "/line";
    std::vector<pid_t> before = ChildrenOf(getpid());
    ChildProcess simulator;
    std::string announced;
    if (simulator.Start(HelperProgramPath("morvane-sim"), {"--pty", link, "--pace", "--exit-on-eof"}) != 0 ||
        !simulator.ReadLine(announced, 5000) || announced != "pty " + link) {
        std::fprintf(stderr, "no simulator on a pseudo-terminal\n");
        return false;
    }
    pid_t simulatorPid = 0;
    for (pid_t child : ChildrenOf(getpid()))
        if (std::find(before.begin(), before.end(), child) == before.end())
            simulatorPid = child;
    pid_t host = fork();
    if (host == 0) {
        setenv("LD_PRELOAD", MORVANE_MODEMLINES_LIB, 1);
        std::string runsText = std::to_string(runs), pidText = std::to_string(simulatorPid);
        execl(self, self, "--device", link.c_str(), runsText.c_str(), pidText.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(host, &status, 0);
    simulator.Stop();
    rmdir(folder);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The device rows' host: download_bench --device PATH RUNS SIMULATOR.
    if (argc == 5 && std::string(argv[1]) == "--device") {
        bool met = true;
        bool measured =
            Measure("device", argv[2], static_cast<pid_t>(std::atol(argv[4])), std::atoi(argv[3]), kDeviceGoal, met);
        return measured && met ? 0 : measured ? 2 : 1;
    }
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    std::printf("%-8s %-8s %7s %10s %10s %10s %10s %9s %9s\n", "line", "image", "blocks", "line B", "bound s", "took s",
                "bound/took", "host CPU", "sim CPU");
    bool met = true;
    if (!Measure("rfc2217", "sim:pace", 0, runs, kNetworkGoal, met))
        return 1;
    if (!MeasureOnADevice(argv[0], runs))
        met = false;
    std::printf("goal: at least %.0f%% of the line's bound over RFC 2217, %.0f%% through a device: %s\n",
                100 * kNetworkGoal, 100 * kDeviceGoal, met ? "met" : "MISSED");
    return 0;
}
