#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1;   // -1 when it ended by a signal
    int signal = 0;
    std::string output;  // standard output and standard error, interleaved, lines ended by LF
                         // (a Windows program's CR LF included)
    double seconds = 0;
};

struct ProcessOptions {
    std::string input;            // fed to standard input, which then ends
    std::string workingDirectory; // empty: the current one
    double timeoutSeconds = 120;  // then SIGKILL; the result says so
};

// Runs a program and collects what it prints.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options = {});

// The built morvanedirect.
inline ProcessResult RunMorvane(const std::vector<std::string>& args, const ProcessOptions& options = {})
{
    return RunProcess(MORVANEDIRECT_EXE, args, options);
}
