// Finding the module on a port, telling it from other devices, and
// restarting it.
//
// Three facts about the module's connection carry this: RTS comes back on
// DSR (a port where DSR does not follow RTS has no module), DTR is the reset
// line, and after a reset the module sends kComStartLoad, answers a ping
// with 0x0E, and ends its start-up with a byte 0x50..0x5F.

#include "device/TSXComm.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "serial/TCommPortDriver.h"

namespace {

constexpr int64_t kRtsSettleMs = 200;
constexpr int64_t kDtrPulseMs = 2;
constexpr unsigned kStartUpWindowMs = 10000;
constexpr int64_t kPingDelayMs = 50;
constexpr int64_t kPingAnswerMs = 100;

bool Traced(int level) { return Settings().LogLevel >= level; }

bool IsEndLoad(uint8_t b) { return (b & 0xF0) == kComEndLoad; }

// Leaves the port closed however the probe ends.
class DisconnectOnExit {
public:
    explicit DisconnectOnExit(TCommPortDriver& driver) : driver_(driver) {}
    ~DisconnectOnExit()
    {
        if (driver_.Connected())
            driver_.Disconnect();
    }
    DisconnectOnExit(const DisconnectOnExit&) = delete;
    DisconnectOnExit& operator=(const DisconnectOnExit&) = delete;

private:
    TCommPortDriver& driver_;
};

} // namespace

void TSXComm::DrainInput()
{
    while (BytesWaiting())
        ReadWaitingByte();
}

void TSXComm::FindModule()
{
    if (driver_.Connected())
        driver_.Disconnect();
    if (!Settings().PortChosen) {
        if (!AutoChoosePort())
            throw EError(ecIDE, 54);
    } else {
        ProbeModule();
    }
    if (!driver_.Connect())
        throw EError(ecIDE, 6, driver_.PortName());
    DrainInput();
}

bool TSXComm::AutoChoosePort()
{
    if (Traced(1))
        DebugPrint("TSXComm::AutoChoosePort");
    const RunSettings& settings = Settings();
    for (int i = 0; i < settings.PortCount && i < RunSettings::kMaxPorts; ++i)
        if (TryPort(settings.PortNumbers[i] - 1))
            return true;
    if (Traced(1))
        DebugPrint("TSXComm::AutoChoosePort - unsuccessful");
    return false;
}

bool TSXComm::TryPort(int index)
{
    driver_.SetComPort(static_cast<TComPortNumber>(index));
    if (Traced(1))
        DebugPrint("Testing port: COM%d", index + 1);
    try {
        if (!driver_.Connect())
            throw EError(ecIDE, 6, driver_.PortName());
        try {
            ProbeModule();
        } catch (...) {
            // Every port gets a second chance: a module busy with a program
            // may miss the first reset.
            ProbeModule();
        }
    } catch (const EError& error) {
        if (error.Is(ecIDE, 47) || error.Is(ecIDE, 22)) {
            EError(ecIDE, 56, driver_.PortName()).Print(false);
        } else if (error.Is(ecIDE, 52)) {
            error.Print(false);
        }
        if (driver_.Connected())
            driver_.Disconnect();
        return false;
    }
    if (driver_.Connected())
        driver_.Disconnect();
    if (Traced(1))
        DebugPrint("TSXComm::AutoChoosePort - successful");
    return true;
}

void TSXComm::ProbeModule()
{
    DisconnectOnExit disconnect(driver_);
    if (!driver_.Connect())
        throw EError(ecIDE, 6, driver_.PortName());
    DrainInput();

    driver_.ToggleRTS(true);
    driver_.Pause(kRtsSettleMs);
    if (!driver_.ReadDSR())
        throw EError(ecIDE, 46);
    driver_.ToggleRTS(false);
    driver_.Pause(kRtsSettleMs);
    if (driver_.ReadDSR())
        throw EError(ecIDE, 46);
    if (Traced(1))
        DebugPrint("Found connected Morvane Tolve, now testing for power");

    ResetModule(false);

    TransmitByte(kComPing);
    // The 0x0E that comes back is the answer, not an echo to throw away.
    if (!Settings().IgnoreEcho)
        --pendingEchoes_;
    int64_t start = driver_.NowMs();
    if (!AwaitByte(start + kPingAnswerMs))
        throw EError(ecIDE, 46);
    if (ReadWaitingByte() != kComPing)
        throw EError(ecIDE, 47);

    int32_t pc = 0, activity = 0, extra = 0;
    QueryStatus(pc, activity, extra);
    if (Traced(2))
        DebugPrint("JVM PC: %d activity %d\n", pc, activity);
}

void TSXComm::ResetModule(bool quick)
{
    if (Traced(1))
        DebugPrint("Resetting");
    driver_.ToggleDTR(true);
    driver_.Pause(kDtrPulseMs);
    driver_.ToggleDTR(false);

    // Whatever the module sent before its restart is dropped.
    int64_t start = driver_.NowMs();
    int last = -1;
    while (driver_.NowMs() < start + static_cast<int64_t>(kStartUpWindowMs)) {
        last = ReadByte(kStartUpWindowMs);
        if (last == kComStartLoad)
            break;
    }
    if (last != kComStartLoad) {
        if (Traced(1))
            DebugPrint("Incorrect response after reset");
        throw EError(ecIDE, 43);
    }
    if (Traced(3))
        DebugPrint("Got kComStartLoad");

    if (!quick) {
        driver_.Pause(kPingDelayMs);
        TransmitByte(kComPing);
        if (!Settings().IgnoreEcho)
            --pendingEchoes_;
    }
    bool pingAnswered = false;
    bool ended = false;
    for (;;) {
        uint8_t b = ReadByte(kStartUpWindowMs);
        if (b == kComPing) {
            pingAnswered = true;
        } else if (IsEndLoad(b)) {
            if (Traced(3))
                DebugPrint("Got kComEndLoad");
            ended = true;
            if (quick)
                return;
        } else {
            throw EError(ecIDE, 52, b);
        }
        if (pingAnswered && ended)
            return;
    }
}
