#include "sim/Board.h"

void Board::Reset()
{
    output_.fill(false);
    level_.fill(false);
    registers_.fill(0);
    sram_.assign(kSramBytes, 0);
    slots_.fill(Slot{});
    timerStarted_ = false;
    timerStartUs_ = 0;
    secondResult_ = 0;
}

void Board::Drive(int pin, bool high)
{
    if (!ValidPin(pin))
        return;
    output_[static_cast<size_t>(pin)] = true;
    level_[static_cast<size_t>(pin)] = high;
}

void Board::MakeInput(int pin)
{
    if (ValidPin(pin))
        output_[static_cast<size_t>(pin)] = false;
}

void Board::MakeOutput(int pin)
{
    if (ValidPin(pin))
        output_[static_cast<size_t>(pin)] = true;
}

int Board::Register(int address) const
{
    return address >= 0 && address < kRegisters ? registers_[static_cast<size_t>(address)] : -1;
}

void Board::SetRegister(int address, int value)
{
    if (address >= 0 && address < kRegisters)
        registers_[static_cast<size_t>(address)] = static_cast<uint8_t>(value);
}

int Board::Sram(int address) const { return address >= 0 && address < kSramBytes ? sram_[static_cast<size_t>(address)] : -1; }

void Board::SetSram(int address, int value)
{
    if (address >= 0 && address < kSramBytes)
        sram_[static_cast<size_t>(address)] = static_cast<uint8_t>(value);
}

int Board::Eeprom(int address) const
{
    return address >= 0 && address < kEepromBytes ? eeprom_[static_cast<size_t>(address)] : -1;
}

bool Board::SetEeprom(int address, int value)
{
    if (address < 0 || address >= kEepromBytes)
        return false;
    eeprom_[static_cast<size_t>(address)] = static_cast<uint8_t>(value);
    return true;
}

int Board::Claim(uint16_t object)
{
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = slots_[static_cast<size_t>(i)];
        if (!slot.claimed) {
            slot = Slot{};
            slot.claimed = true;
            slot.object = object;
            return i;
        }
    }
    return -1;
}

void Board::Release(int slotNumber, int64_t nowUs)
{
    if (!ValidSlot(slotNumber))
        return;
    Slot& slot = slots_[static_cast<size_t>(slotNumber)];
    if (!slot.claimed)
        return;
    // A wave stops at whatever level it had reached.
    if (slot.kind == Peripheral::Pwm && ValidPin(slot.pin))
        level_[static_cast<size_t>(slot.pin)] = PwmLevel(slot, nowUs);
    MakeInput(slot.pin);
    MakeInput(slot.otherPin);
    slot = Slot{};
}

bool Board::Start(int slotNumber, Peripheral kind)
{
    if (!ValidSlot(slotNumber) || !slots_[static_cast<size_t>(slotNumber)].claimed)
        return false;
    Slot& slot = slots_[static_cast<size_t>(slotNumber)];
    uint16_t object = slot.object;
    slot = Slot{};
    slot.claimed = true;
    slot.object = object;
    slot.kind = kind;
    return true;
}

namespace {

bool WaveLevel(int32_t highTime, int32_t lowTime, int64_t sinceUs)
{
    int64_t period = static_cast<int64_t>(highTime) + lowTime;
    if (period <= 0)
        return highTime > 0;
    int64_t fine = sinceUs < 0 ? 0 : sinceUs / 10;
    return fine % period < highTime;
}

// The start of the first period of the wave that begins at or after `nowUs`.
int64_t NextPeriodStart(const Board::Slot& slot, int64_t nowUs)
{
    int64_t periodUs = (static_cast<int64_t>(slot.highTime) + slot.lowTime) * 10;
    if (periodUs <= 0 || nowUs <= slot.startUs)
        return nowUs < slot.startUs ? slot.startUs : nowUs;
    int64_t periods = (nowUs - slot.startUs + periodUs - 1) / periodUs;
    return slot.startUs + periods * periodUs;
}

} // namespace

bool Board::PwmLevel(const Slot& slot, int64_t nowUs)
{
    if (slot.changeAtUs >= 0 && nowUs >= slot.changeAtUs)
        return WaveLevel(slot.nextHighTime, slot.nextLowTime, nowUs - slot.changeAtUs);
    return WaveLevel(slot.highTime, slot.lowTime, nowUs - slot.startUs);
}

void Board::UpdatePwm(int slotNumber, int32_t highTime, int32_t lowTime, int64_t nowUs)
{
    if (!ValidSlot(slotNumber))
        return;
    Slot& slot = slots_[static_cast<size_t>(slotNumber)];
    if (!slot.claimed || slot.kind != Peripheral::Pwm)
        return;
    // A change that has already taken over becomes the current pattern.
    if (slot.changeAtUs >= 0 && nowUs >= slot.changeAtUs) {
        slot.highTime = slot.nextHighTime;
        slot.lowTime = slot.nextLowTime;
        slot.startUs = slot.changeAtUs;
    }
    slot.nextHighTime = highTime < 0 ? 0 : highTime;
    slot.nextLowTime = lowTime < 0 ? 0 : lowTime;
    slot.changeAtUs = NextPeriodStart(slot, nowUs);
}

void Board::PausePeripherals(int64_t pauseUs)
{
    for (Slot& slot : slots_) {
        if (slot.kind != Peripheral::Pwm)
            continue;
        slot.startUs += pauseUs;
        if (slot.changeAtUs >= 0)
            slot.changeAtUs += pauseUs;
    }
}

void Board::StartTimer(int64_t nowUs)
{
    if (timerStarted_)
        return;
    timerStarted_ = true;
    timerStartUs_ = nowUs;
}

uint32_t Board::TimerTicks(int64_t nowUs) const
{
    if (!timerStarted_)
        return 0;
    return static_cast<uint32_t>(((nowUs - timerStartUs_) / 100) & 0x3FFFFFFF);
}
