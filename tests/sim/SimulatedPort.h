#pragma once

// A serial port whose far end is a SimModule, on a clock the test owns:
// waits move the clock to the module's next event (the end of its start-up
// window, the next byte on a paced line, a program that sleeps) or to the
// deadline, so the host's protocol runs against the simulated module in
// memory, in no real time.

#include "platform/SerialPort.h"
#include "serial/FakeSerialPort.h"
#include "sim/SimModule.h"

#include <memory>
#include <string>
#include <vector>

class SimulatedLine {
public:
    SimulatedLine(FakeClock& clock, const SimModule::Options& options);

    // Runs what is due now and keeps what the module sent.
    void Collect();
    // Lets the clock run to `untilMs` (or until the module sends something,
    // when `untilInput`), running the module's work as it falls due.
    void AdvanceTo(int64_t untilMs, bool untilInput = false);

    FakeClock& clock;
    SimModule module;
    std::vector<uint8_t> input; // sent by the module, not read by the host yet
};

std::unique_ptr<SerialPort> MakeSimulatedPort(const std::string& name, SimulatedLine& line);
