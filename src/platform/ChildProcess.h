#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A helper program run as a child of this process and tied to it: its
// standard input is a pipe this process holds open and never writes, so the
// child sees its input end when this process goes, however it goes (on
// Windows the child also lies in a job that ends with this process). Its
// standard output comes back through a pipe (for the line it announces
// itself with); its standard error is ours.
class ChildProcess {
public:
    ChildProcess();
    // Closes the tie, gives the child a moment to end by itself, then ends it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // 0 once the child runs, or the system's error number.
    int Start(const std::string& program, const std::vector<std::string>& args);
    // One line of the child's output (without its line end), waiting up to
    // `timeoutMs`; false when none came or the child's output ended.
    bool ReadLine(std::string& line, int64_t timeoutMs);
    bool Running();
    void Stop();

private:
    struct Handles; // the system's handles of the child and its pipes
    std::unique_ptr<Handles> handles_;
    std::string buffered_;
};

// The helper program `name` installed next to this program's executable
// (with the system's suffix for programs).
std::string HelperProgramPath(const std::string& name);
