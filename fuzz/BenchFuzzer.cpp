// A bench file's text from arbitrary bytes. The parse either fails with a
// message that names the file and a line inside it, leaving no steps, or
// gives steps that the runners can play without checking them again: pins,
// levels, baud rates and times in their ranges, waves whose high time is
// inside the period, texts to send or wait for that are not empty, each on
// a line of the file. The same text always parses the same way, and every
// module time the parse took reads back from its microseconds.

#include "FuzzSupport.h"

#include "bench/BenchScript.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace {

constexpr int64_t kMaxUs = 1'000'000'000'000;

bool IsTime(int64_t us)
{
    return us >= 0 && us <= kMaxUs && ParseModuleTimeUs(std::to_string(us) + "us") == us;
}

bool IsPin(int pin)
{
    return pin >= 0 && pin <= 15;
}

void CheckStep(const BenchStep& step, int lines)
{
    using K = BenchStepKind;
    FUZZ_CHECK(step.line >= 1 && step.line <= lines);
    switch (step.kind) {
    case K::bkDelay:
        FUZZ_CHECK(IsTime(step.durationUs));
        break;
    case K::bkSetPin:
    case K::bkExpectPin:
        FUZZ_CHECK(IsPin(step.pin) && (step.level == 0 || step.level == 1));
        FUZZ_CHECK(step.direction >= -1 && step.direction <= 1);
        FUZZ_CHECK(step.kind == K::bkExpectPin || step.direction == -1);
        break;
    case K::bkPulse:
        FUZZ_CHECK(IsPin(step.pin) && (step.level == 0 || step.level == 1));
        FUZZ_CHECK(IsTime(step.durationUs) && step.durationUs > 0);
        break;
    case K::bkWave:
        FUZZ_CHECK(IsPin(step.pin) && IsTime(step.periodUs) && IsTime(step.highUs));
        FUZZ_CHECK(step.highUs > 0 && step.highUs < step.periodUs);
        break;
    case K::bkRc:
        FUZZ_CHECK(IsPin(step.pin) && IsTime(step.durationUs));
        break;
    case K::bkAnalog:
        FUZZ_CHECK(IsPin(step.pin) && step.level >= 0 && step.level <= 255);
        break;
    case K::bkUart:
        FUZZ_CHECK(IsPin(step.pin) && step.baud >= 300 && step.baud <= 115200 && !step.text.empty());
        break;
    case K::bkWaitText:
        FUZZ_CHECK(step.timeoutUs == -1 || (IsTime(step.timeoutUs) && step.timeoutUs > 0));
        FUZZ_CHECK(!step.text.empty());
        break;
    case K::bkKey:
    case K::bkExpectText:
    case K::bkFailText:
        FUZZ_CHECK(!step.text.empty());
        break;
    default:
        FUZZ_CHECK(false);
    }
    if (step.kind != K::bkWaitText)
        FUZZ_CHECK(step.timeoutUs == -1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // A line past the last line end is where an error at the very end sits.
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;

    BenchScript script;
    BenchError error;
    const bool parsed = ParseBenchText(text, "fuzz.toml", script, error);
    FUZZ_CHECK(script.fileName == "fuzz.toml");
    if (parsed) {
        FUZZ_CHECK(script.timeoutUs == -1 || IsTime(script.timeoutUs));
        for (const BenchStep& step : script.steps)
            CheckStep(step, lines);
    } else {
        FUZZ_CHECK(script.steps.empty());
        FUZZ_CHECK(error.fileName == "fuzz.toml" && !error.what.empty());
        FUZZ_CHECK(error.line >= 1 && error.line <= lines);
        FUZZ_CHECK(error.Text().rfind("fuzz.toml:" + std::to_string(error.line) + ": ", 0) == 0);
    }

    BenchScript again;
    BenchError againError;
    FUZZ_CHECK(ParseBenchText(text, "fuzz.toml", again, againError) == parsed);
    FUZZ_CHECK(again.steps.size() == script.steps.size() && again.timeoutUs == script.timeoutUs);
    FUZZ_CHECK(againError.line == error.line && againError.what == error.what);

    // The input as one module time, as a command line's --timeout gives it.
    const int64_t us = ParseModuleTimeUs(text);
    FUZZ_CHECK(us == -1 || IsTime(us));
    return 0;
}
