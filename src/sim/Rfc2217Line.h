#pragma once

#include "platform/Tcp.h"
#include "sim/Rfc2217Server.h"
#include "sim/SimLine.h"

#include <memory>

// The module's line over RFC 2217: a loopback listener, one client at a
// time. A serial line has one other end: the newest client takes it over,
// as if the cable had been plugged into another computer, and finds it as
// a fresh line (nothing the module queued for the last client, no modem
// line of the last client's, no half-received packet).
class Rfc2217Line final : public SimLine {
public:
    Rfc2217Line(SimModule& module, TcpListener& listener) : module_(module), listener_(listener), rfc2217_(module) {}

    void AddWaitItems(std::vector<WaitItem>& items) const override;
    void Service(int64_t nowMs) override;
    void Transmit(int64_t nowMs) override;
    bool HostConnected() const override { return client_ != nullptr; }
    bool CanTakeOutput() const override { return pending_.HasRoom(); }
    bool OutputIdle() const override;
    int64_t LastSendMs() const override { return lastSendMs_; }
    void Close(int64_t nowMs) override;

private:
    void Accept(int64_t nowMs);
    void ReceiveFromClient(int64_t nowMs);
    void Disconnect(int64_t nowMs);

    SimModule& module_;
    TcpListener& listener_;
    Rfc2217Server rfc2217_;
    std::unique_ptr<TcpConnection> client_;
    PendingOutput pending_;
    int64_t lastSendMs_ = 0;
};
