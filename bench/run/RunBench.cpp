// The virtual bench's costs. BusyMinuteTraced: a minute of module time of a
// program that keeps pins busy (a 5 kHz PWM wave, a lamp toggled every
// 10 ms, a UART sending at 9600 baud) run with a trace: bytes and
// nanoseconds per recorded edge, against the same run without a trace.
// WholeRun: morvane-run's whole work for an example (link, run, trace,
// verdict), which a CI step pays per program; goal well under a second.
#include "driver/Console.h"
#include "linker/CMOXLinker.h"
#include "run/RunEngine.h"
#include "sim/Board.h"
#include "sim/MoxVm.h"
#include "sim/VcdTrace.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class SilentLink final : public VmLink {
public:
    void SendMessage(uint8_t, const uint8_t*, size_t) override {}
    bool RequestKey() override { return false; }
};

std::vector<uint8_t> LinkedImage(const char* className)
{
    CMOXLinker linker;
    linker.Link(className, std::string(MORVANE_LIB_DIR) + ";" + MORVANE_PROGRAM_DIR);
    std::vector<uint8_t> image(linker.ImageData(), linker.ImageData() + linker.ImageSize());
    image.resize((image.size() + 15) / 16 * 16, 0);
    return image;
}

std::string TempFile(const char* name) { return std::string(P_tmpdir) + "/" + name; }

void BusyMinute(benchmark::State& state, bool traced)
{
    const std::vector<uint8_t> image = LinkedImage("Busy");
    const std::string path = TempFile("morvane-busy.vcd");
    uint64_t edges = 0;
    long bytes = 0;
    for (auto _ : state) {
        Board board;
        SilentLink link;
        VcdTrace trace;
        int error = 0;
        if (traced && !trace.Open(path, error)) {
            state.SkipWithError("the trace could not be created");
            return;
        }
        MoxVm vm(image, static_cast<uint32_t>(image.size()), MoxVm::kDefaultRamBytes, board, link);
        if (traced)
            vm.AttachTrace(&trace);
        if (vm.Run(UINT64_MAX, INT64_MAX) != MoxVm::State::vsEnded) {
            state.SkipWithError("the program did not end normally");
            return;
        }
        if (traced) {
            vm.SyncTrace();
            trace.Close(vm.NowUs(), error);
            std::FILE* file = std::fopen(path.c_str(), "rb");
            std::fseek(file, 0, SEEK_END);
            bytes = std::ftell(file);
            std::fclose(file);
            edges = trace.Changes();
        }
    }
    std::remove(path.c_str());
    if (traced) {
        state.counters["edges"] = static_cast<double>(edges);
        state.counters["bytes_per_edge"] = static_cast<double>(bytes) / static_cast<double>(edges);
        state.counters["s_per_edge"] = benchmark::Counter(
            static_cast<double>(edges), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }
}

void BusyMinuteTraced(benchmark::State& state) { BusyMinute(state, true); }
void BusyMinuteUntraced(benchmark::State& state) { BusyMinute(state, false); }

void WholeRun(benchmark::State& state, const char* mainClass)
{
    RunOptions options;
    options.classPath = std::string(MORVANE_EXAMPLE_DIR) + ";" + MORVANE_LIB_DIR;
    options.mainClass = mainClass;
    options.traceFile = TempFile("morvane-run.vcd");
    options.keysFile = TempFile("morvane-run.keys");
    std::FILE* keys = std::fopen(options.keysFile.c_str(), "wb");
    std::fputs("hello\n.", keys);
    std::fclose(keys);
    std::FILE* quiet = std::fopen("/dev/null", "w");
    std::FILE* console = ConsoleStream();
    SetConsoleStream(quiet);
    // The runner's lines too: the table is what this prints.
    if (std::freopen("/dev/null", "w", stderr) == nullptr)
        state.SkipWithError("standard error could not be quietened");
    for (auto _ : state)
        if (RunProgramOnBench(options) != rxPassed)
            state.SkipWithError("the run did not pass");
    SetConsoleStream(console);
    std::fclose(quiet);
    std::remove(options.traceFile.c_str());
    std::remove(options.keysFile.c_str());
}

void WholeRunBlink(benchmark::State& state) { WholeRun(state, "Blink"); }
void WholeRunEcho(benchmark::State& state) { WholeRun(state, "Echo"); }

BENCHMARK(BusyMinuteTraced)->Unit(benchmark::kMillisecond);
BENCHMARK(BusyMinuteUntraced)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeRunBlink)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeRunEcho)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
