#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The command line of morvane-run.
struct RunOptions {
    enum Outcome : uint8_t { ocRun, ocUsage, ocError } outcome = ocRun;
    std::string error;            // the usage error's text line
    std::string classPath, mainClass, benchFile, traceFile, keysFile, junitFile;
    std::vector<std::string> expectTexts, failTexts;
    int64_t timeoutUs = 10'000'000; // module time; 0: none
    bool timeoutGiven = false;       // --timeout was given: it overrides a bench file's `timeout`
    uint32_t ramBytes = 0;           // 0: the simulator's default
    int jdwpPort = -1;               // --jdwp: the debugger's port (0: a free one); -1 without
};

RunOptions ParseRunOptions(const std::vector<std::string>& args);

// The usage text, to standard output like the other programs' usage.
void PrintRunUsage();
