#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The state of a module with nothing attached to its pins: what the natives
// read and change besides the Java heap. Pure state and the rules that need
// no simulated memory; the natives (MoxVmNatives.cpp) connect it to the
// program's arrays and the clock.
class Board {
public:
    static constexpr int kPins = 16;
    static constexpr int kRegisters = 256;
    static constexpr int kSramBytes = 8192;
    static constexpr int kEepromBytes = 2048;
    static constexpr int kSlots = 8;

    enum class Peripheral : uint8_t { None, UartTx, UartRx, Pwm, Dac, Adc };

    struct Slot {
        bool claimed = false;
        uint16_t object = 0; // the reference CPU.install kept: a root of the heap
        Peripheral kind = Peripheral::None;
        int pin = -1;        // the pin it drives or reads
        int otherPin = -1;   // ADC: the output pin of its feedback network
        uint16_t array = 0;  // Uart transmit queue, DAC level, ADC result
        int32_t highTime = 0; // PWM, in fine units (10 us)
        int32_t lowTime = 0;
        int64_t startUs = 0;  // PWM: when its current pattern started
        // PWM: times that take over at the start of the next period.
        int32_t nextHighTime = 0;
        int32_t nextLowTime = 0;
        int64_t changeAtUs = -1;
    };

    Board() { Reset(); }

    // A reset: everything but the data EEPROM, which keeps its contents.
    void Reset();

    static bool ValidPin(int pin) { return pin >= 0 && pin < kPins; }
    static bool ValidSlot(int slot) { return slot >= 0 && slot < kSlots; }

    void Drive(int pin, bool high);     // output at that level
    void MakeInput(int pin);            // input, level kept
    void MakeOutput(int pin);           // output at its current level
    bool IsOutput(int pin) const { return ValidPin(pin) && output_[static_cast<size_t>(pin)]; }
    // The level as the pin's own latch holds it; peripherals that drive a pin
    // are looked at by the natives, which know the time and the arrays.
    bool Level(int pin) const { return ValidPin(pin) && level_[static_cast<size_t>(pin)]; }

    int Register(int address) const;          // -1 out of range
    void SetRegister(int address, int value); // out of range ignored
    int Sram(int address) const;
    void SetSram(int address, int value);
    int Eeprom(int address) const;
    bool SetEeprom(int address, int value);

    // The lowest free slot, claimed for `object`; -1 when all are taken.
    int Claim(uint16_t object);
    // Stops and frees `slot`; its pins become inputs at their levels.
    void Release(int slot, int64_t nowUs);
    Slot& SlotAt(int slot) { return slots_[static_cast<size_t>(slot)]; }
    const Slot& SlotAt(int slot) const { return slots_[static_cast<size_t>(slot)]; }
    // Starts `kind` in `slot` when it is claimed (replacing what ran there);
    // false when it is not.
    bool Start(int slot, Peripheral kind);

    // The level a PWM slot drives at `nowUs`.
    static bool PwmLevel(const Slot& slot, int64_t nowUs);
    // New times for the wave in `slot`, from the start of its next period.
    void UpdatePwm(int slot, int32_t highTime, int32_t lowTime, int64_t nowUs);
    // Peripherals pause during a nap: waves resume where they stopped.
    void PausePeripherals(int64_t pauseUs);

    // Timer natives: a 30-bit count of 100 us ticks since the first init.
    void StartTimer(int64_t nowUs);
    uint32_t TimerTicks(int64_t nowUs) const;

    // The second result of a native that has one (Timer.latch).
    int16_t SecondResult() const { return secondResult_; }
    void SetSecondResult(int16_t value) { secondResult_ = value; }

private:
    std::array<bool, kPins> output_{};
    std::array<bool, kPins> level_{};
    std::array<uint8_t, kRegisters> registers_{};
    std::vector<uint8_t> sram_;
    std::vector<uint8_t> eeprom_ = std::vector<uint8_t>(kEepromBytes, 0xFF);
    std::array<Slot, kSlots> slots_{};
    bool timerStarted_ = false;
    int64_t timerStartUs_ = 0;
    int16_t secondResult_ = 0;
};
