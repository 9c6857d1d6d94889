#pragma once

// morvane-sim run by a test, on either of its lines, and what a host on its
// pseudo-terminal needs.

#include "platform/ChildProcess.h"

#include <cstdint>
#include <string>
#include <vector>

class SimulatorProcess {
public:
    enum Line { lnRfc2217, lnPty };

    // Starts the simulator on `line` (the pseudo-terminal's link in `dir`)
    // with `args` added, and waits for it to announce itself. Its log
    // (standard error) comes through ReadLine.
    bool Start(Line line, const std::string& dir, const std::vector<std::string>& args = {});
    // What a host names as its port: "rfc2217://127.0.0.1:<n>" or the link.
    const std::string& Port() const { return port_; }
    // What the simulator said instead of its announcement when Start failed.
    const std::string& StartOutput() const { return startOutput_; }
    // The next line it prints, within `timeoutMs`; false when none came.
    bool ReadLine(std::string& line, int64_t timeoutMs);
    // Waits up to `timeoutMs` for a line that holds `text`.
    bool WaitFor(const std::string& text, int64_t timeoutMs);
    // What it has printed since, until it is quiet for `quietMs`.
    std::string Log(int64_t quietMs = 100);
    // Ends it as the end of its parent would (its input ends).
    void Stop() { process_.Stop(); }

private:
    ChildProcess process_;
    std::string port_;
    std::string startOutput_;
};

// While it lives, the processes this one starts are hosts of the device
// path: the modem-line library is preloaded into them (after a sanitizer
// build's runtime, which wants to come first).
class DevicePathEnvironment {
public:
    DevicePathEnvironment();
    ~DevicePathEnvironment();
    DevicePathEnvironment(const DevicePathEnvironment&) = delete;
    DevicePathEnvironment& operator=(const DevicePathEnvironment&) = delete;

private:
    std::string preload_;
    bool hadPreload_ = false;
};
