#include "sim/Rfc2217Line.h"

#include "sim/SimModule.h"

void Rfc2217Line::AddWaitItems(std::vector<WaitItem>& items) const
{
    items.push_back(WaitItem{listener_.Fd(), true, false});
    if (client_)
        items.push_back(WaitItem{client_->Fd(), true, pending_.Size() > 0});
}

void Rfc2217Line::Service(int64_t nowMs)
{
    // The client's bytes first: they came before any newer connection.
    if (client_)
        ReceiveFromClient(nowMs);
    Accept(nowMs);
}

bool Rfc2217Line::OutputIdle() const { return !client_ || (pending_.Size() == 0 && module_.OutputQueued() == 0); }

void Rfc2217Line::Transmit(int64_t nowMs)
{
    if (!client_)
        return;
    if (pending_.HasRoom())
        pending_.Add(rfc2217_.TakeOutput(nowMs, pending_.Room()));
    if (pending_.Size() == 0)
        return;
    long n = client_->Send(pending_.Data(), pending_.Size());
    if (n < 0) {
        Disconnect(nowMs);
        return;
    }
    if (n > 0)
        lastSendMs_ = nowMs;
    pending_.Consume(static_cast<size_t>(n));
}

void Rfc2217Line::Accept(int64_t nowMs)
{
    int fd;
    while ((fd = listener_.Accept()) >= 0) {
        // A host that reconnects at once (the probe, then the download) must
        // not be turned away by its own connection's last moments.
        if (client_) {
            notices_.push_back("the line is taken over by a new connection");
            Disconnect(nowMs);
        }
        client_ = std::make_unique<TcpConnection>(fd);
        pending_.Clear();
        rfc2217_.Open(nowMs);
    }
}

void Rfc2217Line::ReceiveFromClient(int64_t nowMs)
{
    uint8_t buffer[4096];
    for (;;) {
        long n = client_->Receive(buffer, sizeof buffer);
        if (n == 0)
            return;
        if (n < 0) {
            Disconnect(nowMs);
            return;
        }
        rfc2217_.Receive(buffer, static_cast<size_t>(n), nowMs);
        if (module_.TakeHangUp()) {
            Disconnect(nowMs);
            return;
        }
    }
}

void Rfc2217Line::Disconnect(int64_t nowMs)
{
    rfc2217_.Close(nowMs);
    client_.reset();
    pending_.Clear();
}

void Rfc2217Line::Close(int64_t nowMs)
{
    if (client_)
        rfc2217_.Close(nowMs);
}
