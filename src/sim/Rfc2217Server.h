#pragma once

#include "platform/Rfc2217Codec.h"

#include <cstdint>
#include <vector>

class SimModule;

// The device-server end of an RFC 2217 connection in front of a simulated
// module: Telnet in from the client, line data to the module, the module's
// output and the answers to COM-PORT-OPTION commands out. No I/O: the serving
// loop moves the bytes.
class Rfc2217Server {
public:
    explicit Rfc2217Server(SimModule& module) : module_(module) {}

    // A client connected: our side of the negotiation is queued.
    void Open(int64_t nowMs);
    // Bytes from the client.
    void Receive(const uint8_t* bytes, size_t size, int64_t nowMs);
    // What to send to the client now: answers first, then up to
    // `maxModuleBytes` of the module's output.
    std::vector<uint8_t> TakeOutput(int64_t nowMs, size_t maxModuleBytes);
    // The client went away.
    void Close(int64_t nowMs);

    // The line settings the client asked for (nothing depends on them: the
    // module only listens at 28,800 baud, 8N1, and says so when asked).
    uint32_t BaudRate() const { return baudRate_; }

private:
    void HandleComPort(uint8_t command, const std::vector<uint8_t>& value, int64_t nowMs);
    void HandleControl(uint8_t value, int64_t nowMs);
    uint8_t ModemState() const;
    void NotifyModemChange();

    SimModule& module_;
    TelnetCodec codec_;
    uint32_t baudRate_ = 28800;
    uint8_t dataSize_ = 8;
    uint8_t parity_ = rfc2217::kParityNone;
    uint8_t stopSize_ = rfc2217::kStopOne;
    uint8_t flow_ = rfc2217::kControlNoFlow;
    uint8_t modemMask_ = 0xFF; // the RFC's default: report every change
    uint8_t lineMask_ = 0;
    bool reportedDsr_ = false;
};
