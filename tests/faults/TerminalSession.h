#pragma once

// A program run as a user runs it: on a terminal of its own (a
// pseudo-terminal that is its controlling terminal), with keys typed on it,
// and the terminal's mode compared before and after.

#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

class TerminalSession {
public:
    // Starts `program` with `args` in `workingDirectory` ("" for ours).
    TerminalSession(const std::string& program, const std::vector<std::string>& args,
                    const std::string& workingDirectory = "");
    // A session still running is killed.
    ~TerminalSession();
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    bool Started() const { return pid_ > 0; }
    int Pid() const { return pid_; }

    // Reads output until it holds `text` (true) or `seconds` have passed or
    // the program has ended (false).
    bool WaitFor(const std::string& text, double seconds);
    // True once the program has taken the terminal out of line mode (keys
    // come one by one, unechoed), within `seconds`.
    bool WaitForKeyMode(double seconds);
    // Types on the terminal; "\x03" is Ctrl-C.
    void Type(const std::string& keys);
    // Signals the program, as another process would.
    void SendSignal(int signal);

    // Waits for the program to end, at most `seconds` (then kills it).
    // False when it had to be killed.
    bool WaitForExit(double seconds);

    // What the program printed, with the terminal's "\r\n" as "\n".
    std::string Output() const;
    int ExitCode() const { return exitCode_; } // -1 when ended by a signal
    int Signal() const { return signal_; }
    // The terminal's mode now is the mode it had before the program ran.
    bool TerminalAsBefore() const;

private:
    void ReadAvailable(int timeoutMs);
    bool Reap(bool block);

    pid_t pid_ = -1;
    int leader_ = -1;
    int follower_ = -1;
    termios before_{};
    std::string output_;
    int exitCode_ = -1;
    int signal_ = 0;
};
