#pragma once

#include "sim/SimFaults.h"

#include <cstdint>
#include <string>
#include <vector>

// The command line of morvane-sim.
struct SimOptions {
    enum Outcome { ocRun, ocUsage, ocError };
    Outcome outcome = ocRun;
    std::string error; // the argument at fault, for ocError; empty when one is missing

    int32_t listenPort = -1; // this or ptyPath is required; 0 picks a free port
    std::string ptyPath;     // serve on a pseudo-terminal linked here
    bool paced = false;
    uint32_t ramBytes = 0;   // 0: the module's default
    std::string imageFile;   // a .mox image the EEPROM holds at power-on
    bool exitOnEof = false;  // end when standard input ends
    std::string benchFile;   // a bench around every program the module runs
    std::string traceFile;   // the pins' trace (VCD)
    SimFaults faults;
};

SimOptions ParseSimOptions(const std::vector<std::string>& args);

// The usage text.
void PrintSimUsage();
