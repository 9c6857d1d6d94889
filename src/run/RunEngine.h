#pragma once

#include "run/RunOptions.h"

// The exit codes of morvane-run.
enum RunExitCode : int {
    rxPassed = 0,   // the program ended normally, or every expectation was met
    rxFailed = 1,   // an exception, a fault, a fail text, an expectation missed
    rxNotRun = 2,   // usage, link, bench, keys or trace file error
    rxTimedOut = 3, // the run's time-out, or a wait-text's, came first
};

// Links the program as morvanedirect does, runs it from power-on on the
// simulated module with the bench around it, unpaced, and decides the
// result. The program's text and exception reports go to the console stream
// (standard output); the runner's own lines to standard error.
int RunProgramOnBench(const RunOptions& options);
