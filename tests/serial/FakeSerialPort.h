#pragma once

// A serial line on a clock the test advances: what the far end sends arrives
// at given times, waits move the clock to the next arrival or to the
// deadline, so time-outs of seconds are tested in no time.

#include "platform/Clock.h"
#include "platform/SerialPort.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class FakeClock final : public Clock {
public:
    int64_t NowMs() override { return now_; }
    void SleepMs(int64_t ms) override { now_ += ms > 0 ? ms : 0; }
    void Advance(int64_t ms) { now_ += ms; }
    void Set(int64_t ms) { now_ = ms; }

private:
    int64_t now_ = 1000000; // far from 0, so no time-out arithmetic hides behind it
};

// The state of one line, shared by the port the driver opens and the far
// end the test scripts. It outlives the ports opened on it.
class FakeLine {
public:
    explicit FakeLine(FakeClock& clock) : clock_(clock) {}

    // Far end: bytes that reach the host at `atMs` (default: now).
    void Deliver(const std::vector<uint8_t>& bytes, int64_t atMs = -1);
    void DeliverAfter(int64_t delayMs, const std::vector<uint8_t>& bytes) { Deliver(bytes, clock_.NowMs() + delayMs); }

    // Called for every byte the host writes, at the clock's time.
    std::function<void(uint8_t)> onHostByte;
    // Called when the host changes DTR or RTS.
    std::function<void(bool)> onDtr;
    std::function<void(bool)> onRts;

    // Modem lines as the host sees them.
    bool dsr = false;
    bool dsrKnown = true; // false: ReadDSR fails, as on a pseudo-terminal
    bool dtr = false;
    bool rts = false;

    // Failures to inject.
    int openError = 0;          // Open() fails with this
    bool broken = false;        // reads and waits fail (an unplugged adapter)
    long writeLimit = -1;       // a write takes at most this many bytes, then stalls

    // What happened.
    std::vector<uint8_t> written; // every byte the host wrote, in order
    int opens = 0;
    int closes = 0;
    int purges = 0;
    int waits = 0;               // blocking waits the host made
    SerialLineSettings settings; // as last configured

    FakeClock& ClockOf() { return clock_; }

    // Moves what has arrived by now into the input queue; its size.
    size_t Arrived();
    std::vector<uint8_t>& Input() { return input_; }
    // The time of the next byte still on its way, or -1.
    int64_t NextArrival() const;

private:
    FakeClock& clock_;
    std::multimap<int64_t, std::vector<uint8_t>> inFlight_;
    std::vector<uint8_t> input_;
};

std::unique_ptr<SerialPort> MakeFakeSerialPort(const std::string& name, FakeLine& line);

// A factory for TCommPortDriver: each name maps to a line; other names open
// nothing.
SerialPortFactory FakePortFactory(std::map<std::string, FakeLine*> lines);
