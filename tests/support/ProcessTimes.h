#pragma once

// How much processor a running process has used, to tell an idle program
// from one that spins: processor time, unlike wall time, does not grow with
// the machine's load. POSIX systems with /proc only.

#include <vector>

// User and system time process `pid` has used so far, in seconds; -1 when it
// cannot be told (the process has gone).
double ProcessorSeconds(int pid);

// The running processes `pid` has started.
std::vector<int> ChildProcesses(int pid);
