// How fast the simulator's virtual machine runs linked programs: Mox
// instructions per second on a call-heavy program (Recursion) and on one that
// makes the heap collect again and again (Garbage). A module runs about
// 100,000 a second; the unpaced simulator should be far ahead of that, so
// that tests and the differential suite do not wait for it.
#include "linker/CMOXLinker.h"
#include "sim/Board.h"
#include "sim/MoxVm.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <memory>
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
    image.resize((image.size() + 15) / 16 * 16, 0); // as downloaded, in whole blocks
    return image;
}

void RunProgram(benchmark::State& state, const char* className)
{
    const std::vector<uint8_t> image = LinkedImage(className);
    uint64_t instructions = 0;
    for (auto _ : state) {
        Board board;
        SilentLink link;
        MoxVm vm(image, static_cast<uint32_t>(image.size()), MoxVm::kDefaultRamBytes, board, link);
        if (vm.Run(UINT64_MAX, INT64_MAX) != MoxVm::State::vsEnded) {
            state.SkipWithError("the program did not end normally");
            return;
        }
        instructions += vm.Instructions();
    }
    state.SetItemsProcessed(static_cast<int64_t>(instructions));
}

void Recursion(benchmark::State& state) { RunProgram(state, "Recursion"); }
void Garbage(benchmark::State& state) { RunProgram(state, "Garbage"); }

BENCHMARK(Recursion)->Unit(benchmark::kMillisecond);
BENCHMARK(Garbage)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
