// Mox instructions per second of the call-heavy Recursion program three
// ways, in the runner's slices: without a debugger (the plain loop), with a
// debugger attached and no breakpoint, and with breakpoints set in code the
// program never reaches (the watched loop consults its map each
// instruction).
#include "image/DebugInfo.h"
#include "jdwp/JdwpSession.h"
#include "linker/CMOXLinker.h"
#include "sim/Board.h"
#include "sim/MoxVm.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kSliceInstructions = 100; // as morvane-run slices

class SilentLink final : public VmLink {
public:
    void SendMessage(uint8_t, const uint8_t*, size_t) override {}
    bool RequestKey() override { return false; }
};

class SessionHook final : public VmDebugHook {
public:
    explicit SessionHook(jdwp::JdwpSession& session) : session_(session) {}
    void AtInstruction(uint32_t pc) override { session_.AtInstruction(pc); }
    void ExceptionThrown(uint16_t object, uint32_t originPc, uint32_t catchPc) override
    {
        session_.ExceptionThrown(object, originPc, catchPc);
    }

private:
    jdwp::JdwpSession& session_;
};

enum class Mode { kPlain, kAttached, kBreakpointsElsewhere };

void Run(benchmark::State& state, Mode mode)
{
    CMOXLinker linker;
    linker.Link("Recursion", std::string(MORVANE_LIB_DIR) + ";" + MORVANE_PROGRAM_DIR);
    std::vector<uint8_t> image(linker.ImageData(), linker.ImageData() + linker.ImageSize());
    image.resize((image.size() + 15) / 16 * 16, 0);
    const ProgramDebugInfo info = BuildDebugInfo(linker);
    uint64_t instructions = 0;
    for (auto _ : state) {
        Board board;
        SilentLink link;
        MoxVm vm(image, static_cast<uint32_t>(image.size()), MoxVm::kDefaultRamBytes, board, link);
        jdwp::JdwpSession session(vm, info);
        SessionHook hook(session);
        if (mode != Mode::kPlain)
            vm.SetDebugHook(&hook);
        if (mode == Mode::kBreakpointsElsewhere) {
            // The first line of every method of StringBuffer, which
            // Recursion never calls.
            const DebugClass& unused = info.classes[static_cast<size_t>(info.ClassIndexByName("java/lang/StringBuffer"))];
            for (const DebugMethod& method : unused.methods)
                if (method.hasCode)
                    vm.SetBreakpoint(method.codeOffset, true);
        }
        while (!vm.Stopped()) {
            if (mode == Mode::kPlain)
                vm.Run(kSliceInstructions, INT64_MAX);
            else
                vm.RunWatched(kSliceInstructions, INT64_MAX);
        }
        if (vm.GetState() != MoxVm::State::vsEnded) {
            state.SkipWithError("the program did not end normally");
            return;
        }
        instructions += vm.Instructions();
    }
    state.SetItemsProcessed(static_cast<int64_t>(instructions));
}

void WithoutDebugger(benchmark::State& state) { Run(state, Mode::kPlain); }
void DebuggerAttached(benchmark::State& state) { Run(state, Mode::kAttached); }
void BreakpointsElsewhere(benchmark::State& state) { Run(state, Mode::kBreakpointsElsewhere); }

BENCHMARK(WithoutDebugger)->Unit(benchmark::kMillisecond);
BENCHMARK(DebuggerAttached)->Unit(benchmark::kMillisecond);
BENCHMARK(BreakpointsElsewhere)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
