#pragma once

#include "platform/PseudoTerminalLine.h"
#include "sim/SimLine.h"

#include <string>

// The module's line on a pseudo-terminal: a host opens the device behind
// `linkPath` as it opens a serial adapter, and its modem lines reach the
// module through the modem-line socket. Hosts come one after another: when
// the last one closes the device, DTR and RTS fall as on a real port, and
// the next one to open it meets the same module. A host is a process: when
// another process than the one driving the lines starts to drive them, it
// takes the line over as a new RFC 2217 client would, and finds it fresh.
class PtyLine final : public SimLine, private PseudoTerminalHandler {
public:
    PtyLine(SimModule& module, const std::string& linkPath) : module_(module), device_(linkPath, *this) {}

    // 0 or the system's error number.
    int Open() { return device_.Open(); }

    void AddWaitItems(std::vector<WaitItem>& items) const override;
    void Service(int64_t nowMs) override;
    void Transmit(int64_t nowMs) override;
    bool HostConnected() const override { return device_.HostPresent(); }
    bool CanTakeOutput() const override { return pending_.HasRoom(); }
    bool OutputIdle() const override;
    int64_t LastSendMs() const override { return lastSendMs_; }
    bool Failed() const override { return failed_; }
    void Close(int64_t nowMs) override;

private:
    void HostOpened() override;
    void HostClosed() override;
    void HostBytes(const uint8_t* bytes, size_t size) override;
    uint32_t HostLines(int process, uint32_t op, uint32_t lines) override;
    void FreshLine();

    SimModule& module_;
    PseudoTerminalLine device_;
    PendingOutput pending_;
    int64_t nowMs_ = 0;
    int64_t lastSendMs_ = 0;
    int host_ = 0; // the process driving the lines; 0 until one does
    bool hangUp_ = false;
    bool failed_ = false;
};
