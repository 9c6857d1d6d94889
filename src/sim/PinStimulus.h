#pragma once

#include <array>
#include <cstdint>
#include <vector>

// The world outside the module's pins, over module time: what a bench drives
// onto each pin (levels, pulses, square waves, serial frames), the analog
// level an ADC's input sees, and how long an RC network holds a pin. Without
// anything set, every pin is left to the module: MoxVm then behaves as on a
// bare board.
//
// Everything is kept as a timeline, so that a native that takes time (count,
// pulseIn, rcTime) can be answered from the levels over its whole window,
// even when the stimulus was put in before the machine got there.
class PinStimulus {
public:
    static constexpr int kPins = 16;
    static constexpr int64_t kNever = INT64_MAX;

    // From `atUs` on, `pin` is held at `level`.
    void SetLevel(int pin, int64_t atUs, bool level);
    // `level` for `widthUs`, then whatever held the pin before.
    void Pulse(int pin, int64_t atUs, bool level, int64_t widthUs);
    // A square wave from `atUs`: high for `highUs` of every `periodUs`.
    void Wave(int pin, int64_t atUs, int64_t periodUs, int64_t highUs);
    // Bytes sent to `pin`, 8N1 at `baud`, back to back from one bit time
    // after `atUs`; the pin idles high from `atUs` on.
    void Uart(int pin, int64_t atUs, int baud, const std::vector<uint8_t>& bytes);
    // From `atUs` on, an ADC reading `pin` measures `level` (0..255).
    void Analog(int pin, int64_t atUs, int level);
    // From `atUs` on, `pin` keeps its state for `holdUs` after being made an input.
    void Rc(int pin, int64_t atUs, int64_t holdUs);

    bool Touched(int pin) const;
    // The level driven from outside at `atUs`, or -1 when nothing drives it.
    int LevelAt(int pin, int64_t atUs) const;
    // The first time after `afterUs` at which what drives `pin` may change;
    // kNever when nothing will.
    int64_t NextChangeAfter(int pin, int64_t afterUs) const;
    // The analog level at `atUs`; -1 when none was set.
    int AnalogAt(int pin, int64_t atUs) const;
    // The RC hold time at `atUs`; -1 when none was set.
    int64_t RcAt(int pin, int64_t atUs) const;

    struct Frame {
        int64_t startUs = 0;
        int64_t endUs = 0; // the end of its stop bit: when a receiver has it
        int baud = 0;
        uint8_t byte = 0;
    };
    // The frames sent to `pin`, in time order.
    const std::vector<Frame>& Frames(int pin) const;

private:
    enum class Kind : uint8_t { Free, Level, Wave, Uart };
    struct Segment {
        int64_t startUs = 0;
        Kind kind = Kind::Free;
        bool level = false;
        int64_t originUs = 0; // a wave's phase, a frame train's first start bit
        int64_t periodUs = 0;
        int64_t highUs = 0;
        int baud = 0;
    };
    struct Setting {
        int64_t startUs;
        int64_t value;
    };
    struct PinLine {
        std::vector<Segment> segments; // by start time
        std::vector<Frame> frames;
        std::vector<Setting> analog;
        std::vector<Setting> rc;
    };

    static bool Valid(int pin) { return pin >= 0 && pin < kPins; }
    void Insert(int pin, const Segment& segment);
    const Segment* SegmentAt(int pin, int64_t atUs) const;
    int SegmentLevel(int pin, const Segment& segment, int64_t atUs) const;
    int64_t SegmentNextChange(int pin, const Segment& segment, int64_t afterUs) const;
    static int64_t SettingAt(const std::vector<Setting>& settings, int64_t atUs);
    static void InsertSetting(std::vector<Setting>& settings, const Setting& setting);

    std::array<PinLine, kPins> pins_;
};
