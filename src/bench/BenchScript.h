#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A bench file, parsed: the world around the module as a list of steps run
// in order by the module's clock. Plain data, checked once when the file is
// read, so that running it cannot meet a malformed step.
enum class BenchStepKind : uint8_t {
    bkDelay,      // durationUs
    bkSetPin,     // pin, level
    bkPulse,      // pin, level, durationUs (the width)
    bkWave,       // pin, periodUs, highUs: a square wave until the pin is set otherwise
    bkRc,         // pin, durationUs: how long the pin stays as it was after the program makes it an input
    bkAnalog,     // pin, level 0..255
    bkUart,       // pin, baud, text: bytes sent to the pin, 8N1
    bkKey,        // text: bytes typed on the terminal
    bkWaitText,   // text, timeoutUs (-1: the run's)
    bkExpectText, // text
    bkFailText,   // text
    bkExpectPin,  // pin, level, direction
};

struct BenchStep {
    BenchStepKind kind = BenchStepKind::bkDelay;
    int line = 0;            // the step's line in the file, for messages
    int pin = -1;
    int level = 0;           // 0 or 1; analog 0..255
    int direction = -1;      // expect-pin: -1 not checked, 0 input, 1 output
    int baud = 0;
    int64_t durationUs = 0;
    int64_t periodUs = 0;
    int64_t highUs = 0;
    int64_t timeoutUs = -1;
    std::string text;
};

struct BenchScript {
    std::string fileName;     // as given, for messages and test names
    int64_t timeoutUs = -1;   // the file's `timeout`; -1 when it has none
    std::vector<BenchStep> steps;
};

// What is wrong with a bench file: "<file>:<line>: <what>" when shown.
struct BenchError {
    std::string fileName;
    int line = 0; // 0 when the file as a whole is wrong (cannot be read)
    std::string what;
    std::string Text() const;
};

// Parses bench text (TOML); false with `error` set when anything is wrong.
bool ParseBenchText(std::string_view text, const std::string& fileName, BenchScript& script, BenchError& error);
// Reads and parses a bench file.
bool ReadBenchFile(const std::string& path, BenchScript& script, BenchError& error);

// A module time as bench files and command lines write it: a whole number
// with "us", "ms" or "s" ("150ms", "2s", "500us"); -1 when it is not one.
int64_t ParseModuleTimeUs(std::string_view text);
