#include "bench/BenchRunner.h"

#include <algorithm>

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool IsStimulus(BenchStepKind kind)
{
    switch (kind) {
    case BenchStepKind::bkSetPin:
    case BenchStepKind::bkPulse:
    case BenchStepKind::bkWave:
    case BenchStepKind::bkRc:
    case BenchStepKind::bkAnalog:
    case BenchStepKind::bkUart:
        return true;
    default:
        return false;
    }
}

} // namespace

std::string ModuleTimeText(int64_t us)
{
    if (us % 1000000 == 0)
        return std::to_string(us / 1000000) + "s";
    if (us % 1000 == 0)
        return std::to_string(us / 1000) + "ms";
    return std::to_string(us) + "us";
}

BenchRunner::BenchRunner(const BenchScript& script, PinStimulus& world, std::vector<std::string> expectTexts,
                         std::vector<std::string> failTexts)
    : script_(script), world_(world)
{
    for (std::string& text : expectTexts)
        expected_.push_back(WatchedText{std::move(text), 0, false});
    for (std::string& text : failTexts)
        failing_.push_back(WatchedText{std::move(text), 0, false});
    anythingExpected_ = !script_.steps.empty() || !expected_.empty();
}

BenchRunner::Verdict BenchRunner::Fail(Verdict verdict, std::string message)
{
    message_ = std::move(message);
    notices_.push_back(message_);
    return verdict;
}

bool BenchRunner::FailTextSeen(std::string_view text)
{
    for (WatchedText& watched : failing_) {
        if (text.find(watched.text, watched.fromOffset) != std::string_view::npos) {
            Fail(Verdict::bvFailed, "fail-text " + Quoted(watched.text) + " seen");
            return true;
        }
        // Only the last characters can begin a match that more text completes.
        if (text.size() >= watched.text.size())
            watched.fromOffset = std::max(watched.fromOffset, text.size() - watched.text.size() + 1);
    }
    return false;
}

bool BenchRunner::AllExpectedSeen(std::string_view text)
{
    bool all = true;
    for (WatchedText& watched : expected_) {
        if (!watched.seen && text.find(watched.text) != std::string_view::npos) {
            watched.seen = true;
            notices_.push_back("expect-text " + Quoted(watched.text) + " seen");
        }
        all = all && watched.seen;
    }
    return all;
}

int64_t BenchRunner::WaitDeadlineUs(const BenchStep& step) const
{
    return step.timeoutUs >= 0 ? waitStartUs_ + step.timeoutUs : kNever;
}

BenchRunner::Verdict BenchRunner::RunStep(const BenchStep& step, int64_t nowUs, std::string_view text,
                                          const BenchPins& pins, bool stopped)
{
    std::string where = script_.fileName + ":" + std::to_string(step.line) + ": ";
    // Stimulus normally goes in ahead of the machine. When a native that
    // waits has carried the machine past the bench's time, the program has
    // already seen the pins up to now: the world changes from now on, not
    // in a past the program and the trace have lived through.
    int64_t atUs = std::max(benchUs_, nowUs);
    switch (step.kind) {
    case BenchStepKind::bkDelay:
        benchUs_ += step.durationUs;
        return Verdict::bvPassed;
    case BenchStepKind::bkSetPin:
        world_.SetLevel(step.pin, atUs, step.level != 0);
        return Verdict::bvPassed;
    case BenchStepKind::bkPulse:
        world_.Pulse(step.pin, atUs, step.level != 0, step.durationUs);
        return Verdict::bvPassed;
    case BenchStepKind::bkWave:
        world_.Wave(step.pin, atUs, step.periodUs, step.highUs);
        return Verdict::bvPassed;
    case BenchStepKind::bkRc:
        world_.Rc(step.pin, atUs, step.durationUs);
        return Verdict::bvPassed;
    case BenchStepKind::bkAnalog:
        world_.Analog(step.pin, atUs, step.level);
        return Verdict::bvPassed;
    case BenchStepKind::bkUart:
        world_.Uart(step.pin, atUs, step.baud, std::vector<uint8_t>(step.text.begin(), step.text.end()));
        return Verdict::bvPassed;
    case BenchStepKind::bkKey:
        keys_.insert(keys_.end(), step.text.begin(), step.text.end());
        return Verdict::bvPassed;
    case BenchStepKind::bkExpectText:
        if (text.find(step.text) == std::string_view::npos)
            return Fail(Verdict::bvFailed, where + "expect-text " + Quoted(step.text) + " not met at " + ModuleTimeText(nowUs));
        notices_.push_back(where + "expect-text " + Quoted(step.text) + " met");
        return Verdict::bvPassed;
    case BenchStepKind::bkFailText:
        failing_.push_back(WatchedText{step.text, text.size(), false});
        return Verdict::bvPassed;
    case BenchStepKind::bkExpectPin: {
        bool levelOk = pins.Level(step.pin) == (step.level != 0);
        bool directionOk = step.direction < 0 || pins.IsOutput(step.pin) == (step.direction == 1);
        std::string what = "expect-pin " + std::to_string(step.pin) + " level " + std::to_string(step.level) +
                           (step.direction < 0 ? "" : step.direction == 1 ? " output" : " input");
        if (!levelOk || !directionOk)
            return Fail(Verdict::bvFailed, where + what + " not met at " + ModuleTimeText(nowUs) + ": level " +
                                               (pins.Level(step.pin) ? "1" : "0") + (pins.IsOutput(step.pin) ? " output" : " input"));
        notices_.push_back(where + what + " met");
        return Verdict::bvPassed;
    }
    case BenchStepKind::bkWaitText: {
        if (waitStartUs_ < 0)
            waitStartUs_ = benchUs_;
        size_t found = text.find(step.text, waitFromOffset_);
        if (found != std::string_view::npos) {
            waitFromOffset_ = found + step.text.size();
            benchUs_ = std::max(benchUs_, nowUs);
            waitStartUs_ = -1;
            notices_.push_back(where + "wait-text " + Quoted(step.text) + " seen at " + ModuleTimeText(nowUs));
            return Verdict::bvPassed;
        }
        if (stopped)
            return Fail(Verdict::bvFailed, where + "the program stopped while wait-text " + Quoted(step.text) + " waited");
        if (nowUs >= WaitDeadlineUs(step))
            return Fail(Verdict::bvTimedOut, where + "wait-text " + Quoted(step.text) + " timed out after " + ModuleTimeText(step.timeoutUs));
        return Verdict::bvRunning;
    }
    }
    return Verdict::bvPassed;
}

BenchRunner::Verdict BenchRunner::Advance(int64_t nowUs, std::string_view text, const BenchPins& pins)
{
    if (FailTextSeen(text))
        return Verdict::bvFailed;
    while (next_ < script_.steps.size()) {
        const BenchStep& step = script_.steps[next_];
        // The world is put in ahead; looking at the module waits for it.
        if (!IsStimulus(step.kind) && step.kind != BenchStepKind::bkDelay && nowUs < benchUs_)
            return Verdict::bvRunning;
        Verdict verdict = RunStep(step, nowUs, text, pins, false);
        if (verdict != Verdict::bvPassed)
            return verdict;
        ++next_;
    }
    if (!AllExpectedSeen(text) || !anythingExpected_ || nowUs < benchUs_)
        return Verdict::bvRunning;
    return Verdict::bvPassed;
}

BenchRunner::Verdict BenchRunner::ProgramStopped(int64_t nowUs, std::string_view text, const BenchPins& pins)
{
    if (FailTextSeen(text))
        return Verdict::bvFailed;
    for (; next_ < script_.steps.size(); ++next_) {
        const BenchStep& step = script_.steps[next_];
        if (IsStimulus(step.kind) || step.kind == BenchStepKind::bkKey || step.kind == BenchStepKind::bkFailText)
            continue; // nobody left to see them
        Verdict verdict = RunStep(step, std::max(nowUs, benchUs_), text, pins, true);
        if (verdict != Verdict::bvPassed)
            return verdict;
    }
    if (!AllExpectedSeen(text)) {
        for (const WatchedText& watched : expected_)
            if (!watched.seen)
                return Fail(Verdict::bvFailed, "expect-text " + Quoted(watched.text) + " not seen before the program stopped");
    }
    return Verdict::bvPassed;
}

int64_t BenchRunner::NextCheckUs() const
{
    if (next_ >= script_.steps.size())
        return kNever;
    const BenchStep& step = script_.steps[next_];
    if (step.kind == BenchStepKind::bkWaitText && waitStartUs_ >= 0)
        return WaitDeadlineUs(step);
    return std::max<int64_t>(benchUs_, 0);
}

int BenchRunner::TakeKey()
{
    if (keys_.empty())
        return -1;
    int key = keys_.front();
    keys_.pop_front();
    return key;
}

std::vector<std::string> BenchRunner::TakeNotices()
{
    std::vector<std::string> notices;
    notices.swap(notices_);
    return notices;
}
