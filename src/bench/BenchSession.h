#pragma once

#include "bench/BenchRunner.h"
#include "sim/ModuleWatcher.h"
#include "sim/MoxVm.h"
#include "sim/VcdTrace.h"

#include <memory>
#include <string>

// A running machine's pins as bench steps see them.
class VmBenchPins final : public BenchPins {
public:
    VmBenchPins(const MoxVm& vm, const Board& board) : vm_(vm), board_(board) {}
    bool Level(int pin) const override { return vm_.PinLevelNow(pin); }
    bool IsOutput(int pin) const override { return board_.IsOutput(pin); }

private:
    const MoxVm& vm_;
    const Board& board_;
};

// The bench and the trace around the programs morvane-sim runs: each
// program start plays the bench from its beginning (bench time starts with
// the program), and the trace goes on across restarts.
class BenchSession final : public ModuleWatcher {
public:
    // Reads the bench (when `benchFile` is not empty) and creates the trace
    // (when `traceFile` is not empty); false with `error` set otherwise.
    bool Open(const std::string& benchFile, const std::string& traceFile, std::string& error);
    ~BenchSession() override;

    void ProgramStarted(MoxVm& vm, const Board& board) override;
    void ProgramLeaving(MoxVm& vm) override;
    int64_t NextCheckUs() const override;
    void Watch(const MoxVm& vm, std::string_view text) override;
    std::vector<std::string> TakeNotices() override;
    int ExitCode() const override { return exitCode_; }

private:
    BenchScript script_;
    bool hasBench_ = false;
    VcdTrace trace_;
    std::string traceFile_;
    MoxVm* vm_ = nullptr;
    std::unique_ptr<PinStimulus> world_;
    std::unique_ptr<BenchRunner> runner_;
    std::unique_ptr<VmBenchPins> pins_;
    int64_t timeoutUs_ = 0;
    bool decided_ = false;
    int exitCode_ = 3;
    std::vector<std::string> notices_;
};
