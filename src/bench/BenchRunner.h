#pragma once

#include "bench/BenchScript.h"
#include "sim/PinStimulus.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// What the steps that look at the module's pins see.
class BenchPins {
public:
    virtual ~BenchPins() = default;
    virtual bool Level(int pin) const = 0;
    virtual bool IsOutput(int pin) const = 0;
};

// Plays a bench by the module's clock. Steps that only change the world
// (levels, pulses, waves, frames) go into the stimulus timeline as soon as
// the bench reaches them, ahead of the machine, so that natives that take
// time see them at their exact times; steps that look at the module (text,
// pins, keys) wait until the machine's clock has reached them.
//
// Bench time moves on with `delay`, and with a `wait-text`, which passes at
// the time the text was seen.
class BenchRunner {
public:
    static constexpr int64_t kNever = PinStimulus::kNever;

    enum class Verdict : uint8_t { bvRunning, bvPassed, bvFailed, bvTimedOut };

    // `expectTexts` must each appear in the program's text before the run
    // passes; `failTexts` end it as failed when they appear. A run with no
    // steps and no expected text never passes: it ends with the program or
    // at the time-out.
    BenchRunner(const BenchScript& script, PinStimulus& world, std::vector<std::string> expectTexts,
                std::vector<std::string> failTexts);

    // Runs the steps due by `nowUs`, given all the program's text so far.
    Verdict Advance(int64_t nowUs, std::string_view text, const BenchPins& pins);
    // The program has stopped at `nowUs`: what is left of the bench is
    // decided without it (nothing more will be printed).
    Verdict ProgramStopped(int64_t nowUs, std::string_view text, const BenchPins& pins);
    // Until when the machine may run before Advance must look again.
    int64_t NextCheckUs() const;

    // Keys typed by `key` steps, oldest first; -1 when none is waiting.
    int TakeKey();
    // Why the run failed or timed out, once it has.
    const std::string& Message() const { return message_; }
    // Lines about expectations met or missed, for the runner's log.
    std::vector<std::string> TakeNotices();

private:
    Verdict Fail(Verdict verdict, std::string message);
    bool FailTextSeen(std::string_view text);
    bool AllExpectedSeen(std::string_view text);
    Verdict RunStep(const BenchStep& step, int64_t nowUs, std::string_view text, const BenchPins& pins, bool stopped);
    int64_t WaitDeadlineUs(const BenchStep& step) const;

    struct WatchedText {
        std::string text;
        size_t fromOffset = 0; // where in the program's text to look from
        bool seen = false;
    };

    const BenchScript& script_;
    PinStimulus& world_;
    std::vector<WatchedText> expected_;
    std::vector<WatchedText> failing_;
    size_t next_ = 0;          // the step to run next
    int64_t benchUs_ = 0;      // bench time of that step
    size_t waitFromOffset_ = 0; // a wait-text looks at the text after the last one's match
    int64_t waitStartUs_ = -1;  // when the waiting step began
    std::deque<uint8_t> keys_;
    std::string message_;
    std::vector<std::string> notices_;
    bool anythingExpected_ = false;
};

// A module time for messages: "1.5s", "120ms", "37us".
std::string ModuleTimeText(int64_t us);
