// The native methods of the class library (runtime/README.md describes each)
// on a module with nothing attached to its pins.

#include "sim/MoxVm.h"

#include "image/MoxTables.h"

#include <algorithm>

namespace {

constexpr int64_t kUnitUs = 100;    // delay, count, Timer ticks
constexpr int64_t kFineUnitUs = 10; // pulses, rcTime, shifts
constexpr int64_t kEepromWriteUs = 5000;
constexpr int64_t kNapBaseUs = 18000;
constexpr int kShiftLsbFirst = 1;

int64_t Duration(int16_t count, int64_t unitUs) { return count < 0 ? 0 : count * unitUs; }
bool Flag(int16_t value) { return value != 0; }

} // namespace

void MoxVm::BuildNativeTable()
{
    struct Row {
        const char* className;
        const char* methodName;
        uint8_t arguments;
        bool returnsValue;
        int (MoxVm::*run)(const int16_t*);
    };
    static const Row rows[] = {
        {"tolve/core/CPU", "writeRegister", 2, false, &MoxVm::NativeWriteRegister},
        {"tolve/core/CPU", "readRegister", 1, true, &MoxVm::NativeReadRegister},
        {"tolve/core/CPU", "writeObject", 2, false, &MoxVm::NativeWriteObject},
        {"tolve/core/CPU", "delay", 1, false, &MoxVm::NativeDelay},
        {"tolve/core/CPU", "message", 2, false, &MoxVm::NativeMessage},
        {"tolve/core/CPU", "count", 3, true, &MoxVm::NativeCount},
        {"tolve/core/CPU", "rcTime", 3, true, &MoxVm::NativeRcTime},
        {"tolve/core/CPU", "pulseIn", 3, true, &MoxVm::NativePulseIn},
        {"tolve/core/CPU", "pulseOut", 2, false, &MoxVm::NativePulseOut},
        {"tolve/core/CPU", "readPin", 1, true, &MoxVm::NativeReadPin},
        {"tolve/core/CPU", "writePin", 2, false, &MoxVm::NativeWritePin},
        {"tolve/core/CPU", "shiftIn", 4, true, &MoxVm::NativeShiftIn},
        {"tolve/core/CPU", "shiftOut", 5, false, &MoxVm::NativeShiftOut},
        {"tolve/core/CPU", "carry", 0, true, &MoxVm::NativeCarry},
        {"tolve/core/CPU", "uninstall", 1, false, &MoxVm::NativeUninstall},
        {"tolve/core/CPU", "install", 1, true, &MoxVm::NativeInstall},
        {"tolve/core/CPU", "nap", 1, false, &MoxVm::NativeNap},
        {"tolve/core/CPU", "setOutput", 1, false, &MoxVm::NativeSetOutput},
        {"tolve/core/CPU", "setInput", 1, false, &MoxVm::NativeSetInput},
        {"tolve/core/CPU", "readSRAM", 1, true, &MoxVm::NativeReadSram},
        {"tolve/core/CPU", "writeSRAM", 2, false, &MoxVm::NativeWriteSram},
        {"tolve/core/EEPROM", "eeRead", 1, true, &MoxVm::NativeEeRead},
        {"tolve/core/EEPROM", "eeWrite", 2, true, &MoxVm::NativeEeWrite},
        {"tolve/core/Uart", "txInit", 5, false, &MoxVm::NativeTxInit},
        {"tolve/core/Uart", "rxInit", 4, false, &MoxVm::NativeRxInit},
        {"tolve/core/Uart", "rxRead", 1, true, &MoxVm::NativeRxRead},
        {"tolve/core/Callback", "returnTwo", 0, true, &MoxVm::NativeReturnTwo},
        {"tolve/core/Timer", "init", 0, false, &MoxVm::NativeTimerInit},
        {"tolve/core/Timer", "latch", 0, true, &MoxVm::NativeTimerLatch},
        {"tolve/core/PWM", "install", 4, false, &MoxVm::NativePwmInstall},
        {"tolve/core/PWM", "updateInternal", 3, false, &MoxVm::NativePwmUpdate},
        {"tolve/core/DAC", "install", 3, false, &MoxVm::NativeDacInstall},
        {"tolve/core/ADC", "install", 4, false, &MoxVm::NativeAdcInstall},
        {"tolve/core/Terminal", "getByte", 0, true, &MoxVm::NativeGetByte},
    };
    // The numbers come from the linker's table: this one only says what
    // each native does.
    for (const Row& row : rows) {
        Native& native = natives_[static_cast<size_t>(NativeMethodIndex(row.className, row.methodName))];
        native.arguments = row.arguments;
        native.returnsValue = row.returnsValue;
        native.run = row.run;
    }
}

void MoxVm::CallNative(uint16_t index, uint32_t arguments, uint16_t callPc)
{
    if (index >= natives_.size() || natives_[index].run == nullptr || natives_[index].arguments != arguments)
        throw VmFault{VmFaultCode::vfBadNative, index};
    const Native& native = natives_[index];
    int16_t args[8] = {};
    for (uint32_t i = arguments; i > 0; --i)
        args[i - 1] = PopInt();
    pc_ = callPc + 3u;
    // The pins kept their levels since the last native: they go on the
    // trace before this one changes anything.
    SyncTrace();
    // The firmware's background work runs between native calls at the
    // latest: the transmit queues empty, converters take a new reading.
    BackgroundWork();
    int result = (this->*native.run)(args);
    if (native.returnsValue && result != kNoResultYet)
        Push(static_cast<uint16_t>(result));
    SyncTrace();
}

void MoxVm::ProvideKey(int key)
{
    if (state_ != State::vsWaitingForKey)
        return;
    state_ = State::vsRunning;
    try {
        Push(static_cast<uint16_t>(key < 0 ? -1 : key & 0xFF));
    } catch (const VmFault& fault) {
        Halt(fault);
    }
}

void MoxVm::TakeTime(int64_t us)
{
    if (us <= 0)
        return;
    // What the native changed so far holds from now: the trace sees it
    // before the clock jumps.
    SyncTrace();
    nowUs_ += us;
}

int MoxVm::ArrayLength(uint16_t array) const
{
    if (array == 0)
        return -1;
    return static_cast<int16_t>(memory_->Read16(array + 2u));
}

int MoxVm::NativeWriteRegister(const int16_t* args)
{
    board_.SetRegister(args[0], args[1]);
    return 0;
}

int MoxVm::NativeReadRegister(const int16_t* args) { return board_.Register(args[0]); }

int MoxVm::NativeWriteObject(const int16_t* args)
{
    uint16_t reference = static_cast<uint16_t>(args[1]);
    board_.SetRegister(args[0], reference & 0xFF);
    board_.SetRegister(args[0] + 1, reference >> 8);
    return 0;
}

int MoxVm::NativeDelay(const int16_t* args)
{
    TakeTime(Duration(args[0], kUnitUs));
    return 0;
}

int MoxVm::NativeMessage(const int16_t* args)
{
    uint16_t data = static_cast<uint16_t>(args[0]);
    if (data == 0)
        throw VmErrorRaised{veNullPointer};
    int length = std::clamp<int>(args[1], 0, std::max(0, ArrayLength(data)));
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        bytes[static_cast<size_t>(i)] = memory_->Read8(data + 4u + static_cast<uint32_t>(i));
    link_.SendMessage(3, bytes.data(), bytes.size());
    return 0;
}

int MoxVm::NativePulseOut(const int16_t* args)
{
    bool level = PinLevel(args[0]);
    board_.Drive(args[0], !level);
    TakeTime(Duration(args[1], kFineUnitUs));
    board_.Drive(args[0], level);
    return 0;
}

int MoxVm::NativeReadPin(const int16_t* args) { return PinLevel(args[0]) ? 1 : 0; }

int MoxVm::NativeWritePin(const int16_t* args)
{
    board_.Drive(args[0], Flag(args[1]));
    return 0;
}

int MoxVm::NativeShiftIn(const int16_t* args)
{
    int bits = std::clamp<int>(args[2], 0, 16);
    board_.MakeInput(args[0]);
    board_.Drive(args[1], false);
    TakeTime(2 * kFineUnitUs * bits);
    // Every sample is the data pin's unchanging level.
    return PinLevel(args[0]) ? static_cast<int16_t>((1u << bits) - 1) : 0;
}

int MoxVm::NativeShiftOut(const int16_t* args)
{
    int bits = std::clamp<int>(args[2], 0, 16);
    bool lsbFirst = (args[3] & kShiftLsbFirst) != 0;
    uint16_t value = static_cast<uint16_t>(args[4]);
    board_.MakeOutput(args[0]);
    board_.Drive(args[1], false);
    // Bit by bit, so that a trace shows the data and each clock pulse.
    for (int i = 0; i < bits; ++i) {
        int bit = lsbFirst ? i : bits - 1 - i;
        board_.Drive(args[0], (value >> bit & 1) != 0);
        TakeTime(kFineUnitUs);
        board_.Drive(args[1], true);
        TakeTime(kFineUnitUs);
        board_.Drive(args[1], false);
    }
    return 0;
}

int MoxVm::NativeCarry(const int16_t*) { return carry_ ? 1 : 0; }

int MoxVm::NativeUninstall(const int16_t* args)
{
    if (Board::ValidSlot(args[0])) {
        const Board::Slot& slot = board_.SlotAt(args[0]);
        // A converter's pin keeps the level it showed last.
        if (slot.kind == Board::Peripheral::Dac)
            board_.Drive(slot.pin, PinLevel(slot.pin));
        // Frames not yet on the line when the transmitter stops never go out.
        tx_[static_cast<size_t>(args[0])] = TxLine{};
        rx_[static_cast<size_t>(args[0])] = RxLine{};
    }
    board_.Release(args[0], nowUs_);
    return 0;
}

int MoxVm::NativeInstall(const int16_t* args) { return board_.Claim(static_cast<uint16_t>(args[0])); }

int MoxVm::NativeNap(const int16_t* args)
{
    int64_t us = kNapBaseUs << std::clamp<int>(args[0], 0, 7);
    // Waves stand still while the module sleeps: the trace holds their
    // levels through the nap, then they resume where they stopped.
    pwmFrozenUs_ = nowUs_;
    TakeTime(us);
    SyncTrace();
    pwmFrozenUs_ = -1;
    board_.PausePeripherals(us);
    return 0;
}

int MoxVm::NativeSetOutput(const int16_t* args)
{
    board_.MakeOutput(args[0]);
    return 0;
}

int MoxVm::NativeSetInput(const int16_t* args)
{
    board_.MakeInput(args[0]);
    return 0;
}

int MoxVm::NativeReadSram(const int16_t* args) { return board_.Sram(args[0]); }

int MoxVm::NativeWriteSram(const int16_t* args)
{
    board_.SetSram(args[0], args[1]);
    return 0;
}

int MoxVm::NativeEeRead(const int16_t* args) { return board_.Eeprom(args[0]); }

int MoxVm::NativeEeWrite(const int16_t* args)
{
    if (!board_.SetEeprom(args[0], args[1]))
        return 0;
    TakeTime(kEepromWriteUs);
    return 1;
}

int MoxVm::NativeReturnTwo(const int16_t*) { return board_.SecondResult(); }

int MoxVm::NativeTimerInit(const int16_t*)
{
    board_.StartTimer(nowUs_);
    return 0;
}

int MoxVm::NativeTimerLatch(const int16_t*)
{
    uint32_t ticks = board_.TimerTicks(nowUs_);
    board_.SetSecondResult(static_cast<int16_t>(ticks >> 15 & 0x7FFF));
    return static_cast<int>(ticks & 0x7FFF);
}

int MoxVm::NativePwmInstall(const int16_t* args)
{
    if (board_.Start(args[0], Board::Peripheral::Pwm)) {
        Board::Slot& slot = board_.SlotAt(args[0]);
        slot.pin = args[1];
        slot.highTime = std::max<int16_t>(args[2], 0);
        slot.lowTime = std::max<int16_t>(args[3], 0);
        slot.startUs = nowUs_;
        board_.MakeOutput(args[1]);
    }
    return 0;
}

int MoxVm::NativePwmUpdate(const int16_t* args)
{
    board_.UpdatePwm(args[0], args[1], args[2], nowUs_);
    return 0;
}

int MoxVm::NativeDacInstall(const int16_t* args)
{
    if (board_.Start(args[0], Board::Peripheral::Dac)) {
        Board::Slot& slot = board_.SlotAt(args[0]);
        slot.pin = args[1];
        slot.array = static_cast<uint16_t>(args[2]);
        board_.MakeOutput(args[1]);
    }
    return 0;
}

int MoxVm::NativeAdcInstall(const int16_t* args)
{
    if (board_.Start(args[0], Board::Peripheral::Adc)) {
        Board::Slot& slot = board_.SlotAt(args[0]);
        slot.pin = args[1];
        slot.otherPin = args[2];
        slot.array = static_cast<uint16_t>(args[3]);
        board_.MakeInput(args[1]);
        board_.MakeOutput(args[2]);
        BackgroundWork();
    }
    return 0;
}

int MoxVm::NativeGetByte(const int16_t*)
{
    if (!link_.RequestKey())
        return -1;
    state_ = State::vsWaitingForKey;
    return kNoResultYet;
}
