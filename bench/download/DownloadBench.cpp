// How close a download comes to the line's limit: images of 1, 8 and 32 KiB
// go to a simulated module that keeps the timing of the 28,800 baud line
// (`sim:pace`), through our RFC 2217 port, and each download's time is put
// against the time the bytes that must cross the line take at 10 bits a
// byte: each block's stuffed bytes, whose echoes come back as they go, and
// its acknowledgement. The processor time both processes used meanwhile is
// shown as a share of one core.
//
//   download_bench [runs]    (default 1 run of each size)

#include "device/TSXComm.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "serial/TCommPortDriver.h"
#include "support/ProcessStats.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr double kByteSeconds = 10.0 / 28800.0;
constexpr size_t kBlockData = 16;
constexpr double kGoal = 0.90;

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

} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    InitialiseSettings();
    Settings().PortChosen = true;
    TCommPortDriver driver;
    driver.SetComPortSpeed(br28800);
    driver.SetPacketMode(pmPass);
    driver.SetEnableDTROnOpen(false);
    driver.SetComPortName("sim:pace");
    TSXComm comm(driver);
    // The progress dots are not what is measured.
    FILE* quiet = std::fopen("/dev/null", "w");
    FILE* console = ConsoleStream();
    SetConsoleStream(quiet);
    try {
        comm.FindModule();
    } catch (const EError& error) {
        SetConsoleStream(console);
        ConsoleText(error.Message());
        return 1;
    }
    std::vector<pid_t> simulators = ChildrenOf(getpid());
    if (simulators.size() != 1) {
        std::fprintf(stderr, "expected one simulator, found %zu\n", simulators.size());
        return 1;
    }
    pid_t simulator = simulators[0];

    std::printf("%-7s %7s %10s %10s %10s %10s %9s %9s\n", "image", "blocks", "line B", "bound s", "took s",
                "bound/took", "host CPU", "sim CPU");
    std::mt19937 random(20240917);
    bool met = true;
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
                SetConsoleStream(console);
                ConsoleText(error.Message());
                return 1;
            }
            result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            result.hostCpu = OwnCpuSeconds() - hostStart;
            result.simCpu = ProcessCpuSeconds(simulator) - simStart;
            double ratio = bound / result.seconds;
            met = met && ratio >= kGoal;
            std::printf("%4zu KiB %7zu %10zu %10.3f %10.3f %9.1f%% %8.2f%% %8.2f%%\n", size / 1024,
                        size / kBlockData, LineBytes(image), bound, result.seconds, 100 * ratio,
                        100 * result.hostCpu / result.seconds, 100 * result.simCpu / result.seconds);
            std::fflush(stdout);
        }
    }
    SetConsoleStream(console);
    std::fclose(quiet);
    std::printf("goal: at least %.0f%% of the line's bound: %s\n", 100 * kGoal, met ? "met" : "MISSED");
    return 0;
}
