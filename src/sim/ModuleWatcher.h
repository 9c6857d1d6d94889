#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Board;
class MoxVm;

// What watches the programs the simulated module runs: a bench that drives
// their pins and checks what they do, and the trace of their pins. The
// module tells it when a program starts and stops and after every slice it
// runs; it knows nothing of benches.
class ModuleWatcher {
public:
    virtual ~ModuleWatcher() = default;
    // A program starts on `vm` at module time 0.
    virtual void ProgramStarted(MoxVm& vm, const Board& board) = 0;
    // `vm` is about to go (a reset, a download): its pins up to now are
    // recorded.
    virtual void ProgramLeaving(MoxVm& vm) = 0;
    // Until when the program may run before Watch must look.
    virtual int64_t NextCheckUs() const = 0;
    // After a slice, or once the program stopped; `text` is all its text.
    virtual void Watch(const MoxVm& vm, std::string_view text) = 0;
    // Lines for the simulator's log.
    virtual std::vector<std::string> TakeNotices() = 0;
    // The result as morvane-run's exit code; 3 while nothing decided it.
    virtual int ExitCode() const = 0;
};
