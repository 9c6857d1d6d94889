#include "run/RunEngine.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    RunOptions options = ParseRunOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.outcome == RunOptions::ocUsage) {
        PrintRunUsage();
        return rxPassed;
    }
    if (options.outcome == RunOptions::ocError) {
        std::fprintf(stderr, "%s\n", options.error.c_str());
        return rxNotRun;
    }
    return RunProgramOnBench(options);
}
