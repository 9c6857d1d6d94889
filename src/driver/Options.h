#pragma once

#include <string>
#include <vector>

// What the command line asks for. Parsing never prints or exits by itself:
// the run sequence acts on the outcome, which keeps the rules testable.
struct CommandLine {
    enum Outcome {
        ocRun,        // go on with the stages
        ocUsage,      // print the usage text, exit 0
        ocUsageError, // print `error`, exit 1
    };

    Outcome outcome = ocRun;
    std::string error; // the whole "\nError: ...\n\n" text for ocUsageError
    std::string fileName;
    std::string classPath;
    bool linkOnly = false;
    bool loadOnly = false;
    bool listen = false;
};

// Parses the arguments after the program name and records the port choice in
// the run settings. Options are matched exactly; a word that begins with "--"
// and is no option is a usage error, any other word is the file name, the
// last one winning. A --port value that is neither a number, a port's name
// nor a COM name (COM3) is a usage error, as are simulator options "sim:"
// does not take.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The decimal reading --port gives its value: leading blanks and a sign are
// allowed, reading stops at the first non-digit, no digits give 0.
long PortNumberOf(const std::string& text);
