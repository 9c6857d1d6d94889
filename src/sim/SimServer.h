#pragma once

#include "sim/ModuleWatcher.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Makes the watcher for --bench and --trace (the bench subsystem sits above
// the simulator); null with `error` set when a file is wrong.
using WatcherFactory = std::function<std::unique_ptr<ModuleWatcher>(const std::string& benchFile,
                                                                    const std::string& traceFile, std::string& error)>;

// morvane-sim: parses the command line, powers the module on and serves it
// on a loopback port until SIGINT or SIGTERM (or, with --exit-on-eof, until
// standard input ends). Returns the exit code: with a bench, morvane-run's
// (0 passed, 1 failed, 2 the bench or trace file is wrong, 3 timed out or
// undecided).
int RunSimulator(const std::vector<std::string>& args, const WatcherFactory& makeWatcher = {});
