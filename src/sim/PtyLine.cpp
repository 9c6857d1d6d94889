#include "sim/PtyLine.h"

#include "platform/ModemLineProtocol.h"
#include "sim/SimModule.h"

void PtyLine::AddWaitItems(std::vector<WaitItem>& items) const { device_.AddWaitItems(items, pending_.Size() > 0); }

void PtyLine::Service(int64_t nowMs)
{
    nowMs_ = nowMs;
    device_.Service();
    if (!hangUp_)
        return;
    // The cable is cut: the host's end hangs up, and the next host finds a
    // new device behind the same link.
    hangUp_ = false;
    module_.SetConnected(false, nowMs);
    pending_.Clear();
    host_ = 0;
    failed_ = device_.HangUp() != 0;
}

bool PtyLine::OutputIdle() const { return !HostConnected() || (pending_.Size() == 0 && module_.OutputQueued() == 0); }

void PtyLine::Transmit(int64_t nowMs)
{
    if (!HostConnected())
        return;
    if (pending_.HasRoom())
        pending_.Add(module_.TakeOutput(nowMs, pending_.Room()));
    if (pending_.Size() == 0)
        return;
    long n = device_.Send(pending_.Data(), pending_.Size());
    if (n < 0) {
        failed_ = true;
        return;
    }
    if (n > 0)
        lastSendMs_ = nowMs;
    pending_.Consume(static_cast<size_t>(n));
}

void PtyLine::Close(int64_t nowMs)
{
    module_.SetConnected(false, nowMs);
    device_.Close();
}

void PtyLine::HostOpened() { FreshLine(); }

void PtyLine::HostClosed()
{
    // A closed port drops DTR and RTS; what the module sends meanwhile is
    // lost.
    module_.SetConnected(false, nowMs_);
    pending_.Clear();
    host_ = 0;
}

void PtyLine::FreshLine()
{
    module_.SetConnected(false, nowMs_);
    module_.SetConnected(true, nowMs_);
    pending_.Clear();
    host_ = 0;
}

void PtyLine::HostBytes(const uint8_t* bytes, size_t size)
{
    if (hangUp_)
        return; // the line is cut: nothing more reaches the module
    module_.ReceiveFromHost(bytes, size, nowMs_);
    hangUp_ = module_.TakeHangUp();
}

uint32_t PtyLine::HostLines(int process, uint32_t op, uint32_t lines)
{
    using namespace modemlines;
    if (host_ != 0 && process != host_ && process != 0 && !hangUp_) {
        notices_.push_back("the line is taken over by process " + std::to_string(process));
        FreshLine();
        device_.DiscardUnread();
    }
    if (process != 0)
        host_ = process;
    if (!hangUp_) {
        bool dtr = module_.Dtr(), rts = module_.Rts();
        switch (op) {
        case opSet:
            dtr = (lines & kDtr) != 0;
            rts = (lines & kRts) != 0;
            break;
        case opRaise:
            dtr = dtr || (lines & kDtr) != 0;
            rts = rts || (lines & kRts) != 0;
            break;
        case opLower:
            dtr = dtr && (lines & kDtr) == 0;
            rts = rts && (lines & kRts) == 0;
            break;
        default:
            break;
        }
        // RTS first: the module's DSR follows it, and a reset (DTR) restarts
        // the module with the lines as they now are.
        module_.SetRts(rts);
        module_.SetDtr(dtr, nowMs_);
    }
    return (module_.Dtr() ? kDtr : 0u) | (module_.Rts() ? kRts : 0u) | (module_.Dsr() ? kDsr : 0u);
}
