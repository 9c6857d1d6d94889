#pragma once

#include <string>
#include <vector>

// morvane-sim: parses the command line, powers the module on and serves it
// on a loopback port until SIGINT or SIGTERM (or, with --exit-on-eof, until
// standard input ends). Returns the exit code.
int RunSimulator(const std::vector<std::string>& args);
