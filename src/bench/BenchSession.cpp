#include "bench/BenchSession.h"

#include "platform/Files.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int64_t kDefaultTimeoutUs = 10'000'000;
constexpr int64_t kSliceUs = 1000;

} // namespace

bool BenchSession::Open(const std::string& benchFile, const std::string& traceFile, std::string& error)
{
    if (!benchFile.empty()) {
        BenchError benchError;
        if (!ReadBenchFile(benchFile, script_, benchError)) {
            error = benchError.Text();
            return false;
        }
        hasBench_ = true;
    }
    if (!traceFile.empty()) {
        int systemError = 0;
        if (!trace_.Open(traceFile, systemError)) {
            error = traceFile + ": " + SystemErrorText(systemError);
            return false;
        }
        traceFile_ = traceFile;
    }
    timeoutUs_ = script_.timeoutUs >= 0 ? script_.timeoutUs : kDefaultTimeoutUs;
    return true;
}

BenchSession::~BenchSession()
{
    if (vm_ != nullptr)
        ProgramLeaving(*vm_);
    int error = 0;
    if (trace_.IsOpen() && !trace_.Close(trace_.LastUs(), error))
        std::fprintf(stderr, "morvane-sim: %s: %s\n", traceFile_.c_str(), SystemErrorText(error).c_str());
}

void BenchSession::ProgramStarted(MoxVm& vm, const Board& board)
{
    vm_ = &vm;
    world_ = std::make_unique<PinStimulus>();
    runner_ = std::make_unique<BenchRunner>(script_, *world_, std::vector<std::string>{}, std::vector<std::string>{});
    pins_ = std::make_unique<VmBenchPins>(vm, board);
    decided_ = !hasBench_;
    vm.AttachStimulus(world_.get());
    if (trace_.IsOpen()) {
        trace_.SetBaseUs(trace_.LastUs());
        vm.AttachTrace(&trace_);
    }
    if (hasBench_) {
        notices_.push_back("bench " + script_.fileName + " started with the program");
        Watch(vm, ""); // its first stimulus before the program's first native
    }
}

void BenchSession::ProgramLeaving(MoxVm& vm)
{
    if (&vm != vm_)
        return;
    vm.SyncTrace();
    trace_.Flush();
    vm.AttachTrace(nullptr);
    vm.AttachStimulus(nullptr);
    vm_ = nullptr;
}

int64_t BenchSession::NextCheckUs() const
{
    if (decided_ || !runner_)
        return BenchRunner::kNever;
    // Natives that wait jump the clock: a millisecond's slices keep a text
    // or pin a step waits for from being looked at late.
    int64_t next = std::min(runner_->NextCheckUs(), vm_ != nullptr ? vm_->NowUs() + kSliceUs : BenchRunner::kNever);
    return timeoutUs_ > 0 ? std::min(next, timeoutUs_) : next;
}

void BenchSession::Watch(const MoxVm& vm, std::string_view text)
{
    if (decided_ || !runner_)
        return;
    using Verdict = BenchRunner::Verdict;
    Verdict verdict = Verdict::bvRunning;
    std::string message;
    if (vm.GetState() == MoxVm::State::vsUncaught || vm.GetState() == MoxVm::State::vsFaulted) {
        verdict = Verdict::bvFailed;
        message = vm.GetState() == MoxVm::State::vsUncaught ? "uncaught exception" : "the program halted";
    } else if (vm.Stopped()) {
        verdict = runner_->ProgramStopped(vm.NowUs(), text, *pins_);
    } else {
        verdict = runner_->Advance(vm.NowUs(), text, *pins_);
        if (verdict == Verdict::bvRunning && timeoutUs_ > 0 && vm.NowUs() >= timeoutUs_) {
            verdict = Verdict::bvTimedOut;
            message = "the bench's time-out (" + ModuleTimeText(timeoutUs_) + ") came first";
        }
    }
    for (std::string& notice : runner_->TakeNotices())
        notices_.push_back(std::move(notice));
    if (verdict == Verdict::bvRunning)
        return;
    decided_ = true;
    if (trace_.IsOpen() && vm_ != nullptr) {
        vm_->SyncTrace();
        trace_.Flush();
    }
    exitCode_ = verdict == Verdict::bvPassed ? 0 : verdict == Verdict::bvFailed ? 1 : 3;
    std::string when = " after " + ModuleTimeText(vm.NowUs()) + " of module time";
    notices_.push_back(verdict == Verdict::bvPassed ? "bench passed" + when
                       : verdict == Verdict::bvFailed ? "bench failed" + when + (message.empty() ? "" : ": " + message)
                                                      : "bench timed out" + when + (message.empty() ? "" : ": " + message));
}

std::vector<std::string> BenchSession::TakeNotices()
{
    std::vector<std::string> notices;
    notices.swap(notices_);
    return notices;
}
