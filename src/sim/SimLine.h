#pragma once

#include "platform/Tcp.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SimModule;

// The module's serial line as the serving loop sees it, whatever carries it
// to the host (a TCP connection speaking RFC 2217, a pseudo-terminal). The
// line connects and disconnects the module as hosts come and go, hands it
// what the host sends and carries what it sends back; the loop waits on the
// line's descriptors and the module's timers.
class SimLine {
public:
    virtual ~SimLine() = default;

    // Descriptors to wait on; `output`: the line has bytes to send.
    virtual void AddWaitItems(std::vector<WaitItem>& items) const = 0;
    // After a wait: takes in whatever has come, without waiting.
    virtual void Service(int64_t nowMs) = 0;
    // Takes the module's output that is due and sends what the host can take.
    virtual void Transmit(int64_t nowMs) = 0;
    virtual bool HostConnected() const = 0;
    // The line has room for more of the module's output.
    virtual bool CanTakeOutput() const = 0;
    // Nothing waits to go out, in the module or on the line.
    virtual bool OutputIdle() const = 0;
    // When bytes last went out to the host.
    virtual int64_t LastSendMs() const = 0;
    // The line cannot serve any more (the system refused what it needs).
    virtual bool Failed() const { return false; }
    // The simulator ends: the host is let go.
    virtual void Close(int64_t nowMs) = 0;

    // Lines for the simulator's log: hosts that take the line over.
    std::vector<std::string> TakeNotices()
    {
        std::vector<std::string> notices;
        notices.swap(notices_);
        return notices;
    }

protected:
    std::vector<std::string> notices_;
};

// Bytes on their way to the host, and how much of them has gone.
class PendingOutput {
public:
    // What may wait for a slow host before the module's output stalls (and,
    // with it, a program that prints).
    static constexpr size_t kLimit = 16 * 1024;

    size_t Size() const { return bytes_.size() - sent_; }
    bool HasRoom() const { return Size() < kLimit; }
    size_t Room() const { return HasRoom() ? kLimit - Size() : 0; }
    const uint8_t* Data() const { return bytes_.data() + sent_; }
    void Add(const std::vector<uint8_t>& bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
    void Consume(size_t count)
    {
        sent_ += count;
        if (sent_ >= bytes_.size())
            Clear();
    }
    void Clear()
    {
        bytes_.clear();
        sent_ = 0;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t sent_ = 0;
};
