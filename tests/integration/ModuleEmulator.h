#pragma once

// The emulated module of module_emulator.py, run as a child process for the
// life of the object: an RFC 2217 server on a loopback port with a Morvane
// behind it.

#include "support/TempDir.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class ModuleEmulator {
public:
    // `args` are the script's options (see its --help).
    explicit ModuleEmulator(const std::vector<std::string>& args = {});
    ~ModuleEmulator();
    ModuleEmulator(const ModuleEmulator&) = delete;
    ModuleEmulator& operator=(const ModuleEmulator&) = delete;

    bool Started() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

    // What the module has recorded so far.
    std::vector<uint8_t> Image() const;     // the downloaded image
    std::vector<uint8_t> Keys() const;      // keys answered to its input requests
    std::vector<uint8_t> Received() const;  // everything written to it (--mode echo)
    int Resets() const;
    std::string Line() const;               // "[baud, bits, parity, stop]"

private:
    std::string Field(const std::string& name) const;

    TempDir dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};
