#include "sim/PinStimulus.h"

#include <algorithm>

namespace {

constexpr int kFrameBits = 10; // start, 8 data, stop

// Bit boundaries of a frame train, counted from its first start bit. Whole
// microseconds of an exact rational, so that 9600 baud does not drift by a
// rounded bit time per bit.
int64_t BitTimeUs(int64_t bits, int baud) { return bits * 1000000 / baud; }

} // namespace

void PinStimulus::Insert(int pin, const Segment& segment)
{
    std::vector<Segment>& segments = pins_[static_cast<size_t>(pin)].segments;
    // After every segment starting at the same time: the later step wins.
    auto at = std::upper_bound(segments.begin(), segments.end(), segment.startUs,
                               [](int64_t us, const Segment& s) { return us < s.startUs; });
    segments.insert(at, segment);
}

void PinStimulus::SetLevel(int pin, int64_t atUs, bool level)
{
    if (!Valid(pin))
        return;
    Segment segment;
    segment.startUs = atUs;
    segment.kind = Kind::Level;
    segment.level = level;
    Insert(pin, segment);
}

void PinStimulus::Pulse(int pin, int64_t atUs, bool level, int64_t widthUs)
{
    if (!Valid(pin))
        return;
    const Segment* before = SegmentAt(pin, atUs);
    Segment after = before != nullptr ? *before : Segment{};
    SetLevel(pin, atUs, level);
    after.startUs = atUs + std::max<int64_t>(widthUs, 0);
    Insert(pin, after);
}

void PinStimulus::Wave(int pin, int64_t atUs, int64_t periodUs, int64_t highUs)
{
    if (!Valid(pin))
        return;
    Segment segment;
    segment.startUs = atUs;
    segment.kind = Kind::Wave;
    segment.originUs = atUs;
    segment.periodUs = std::max<int64_t>(periodUs, 1);
    segment.highUs = std::clamp<int64_t>(highUs, 0, segment.periodUs);
    Insert(pin, segment);
}

void PinStimulus::Uart(int pin, int64_t atUs, int baud, const std::vector<uint8_t>& bytes)
{
    if (!Valid(pin) || baud <= 0)
        return;
    PinLine& line = pins_[static_cast<size_t>(pin)];
    Segment segment;
    segment.startUs = atUs;
    segment.kind = Kind::Uart;
    segment.originUs = atUs;
    segment.baud = baud;
    // The sender's line idles high for a bit before the first start bit, so
    // that a pin left low before shows the first falling edge.
    for (size_t i = 0; i < bytes.size(); ++i) {
        int64_t bits = 1 + static_cast<int64_t>(i) * kFrameBits;
        line.frames.push_back(Frame{atUs + BitTimeUs(bits, baud), atUs + BitTimeUs(bits + kFrameBits, baud), baud, bytes[i]});
    }
    // Receivers look frames up in time order; a train put in before an
    // earlier one's end interleaves by start.
    std::stable_sort(line.frames.begin(), line.frames.end(),
                     [](const Frame& a, const Frame& b) { return a.startUs < b.startUs; });
    Insert(pin, segment);
}

void PinStimulus::Analog(int pin, int64_t atUs, int level)
{
    if (Valid(pin))
        InsertSetting(pins_[static_cast<size_t>(pin)].analog, Setting{atUs, std::clamp(level, 0, 255)});
}

void PinStimulus::Rc(int pin, int64_t atUs, int64_t holdUs)
{
    if (Valid(pin))
        InsertSetting(pins_[static_cast<size_t>(pin)].rc, Setting{atUs, std::max<int64_t>(holdUs, 0)});
}

void PinStimulus::InsertSetting(std::vector<Setting>& settings, const Setting& setting)
{
    auto at = std::upper_bound(settings.begin(), settings.end(), setting.startUs,
                               [](int64_t us, const Setting& s) { return us < s.startUs; });
    settings.insert(at, setting);
}

int64_t PinStimulus::SettingAt(const std::vector<Setting>& settings, int64_t atUs)
{
    auto at = std::upper_bound(settings.begin(), settings.end(), atUs,
                               [](int64_t us, const Setting& s) { return us < s.startUs; });
    return at == settings.begin() ? -1 : std::prev(at)->value;
}

bool PinStimulus::Touched(int pin) const
{
    if (!Valid(pin))
        return false;
    const PinLine& line = pins_[static_cast<size_t>(pin)];
    return !line.segments.empty() || !line.analog.empty() || !line.rc.empty();
}

const PinStimulus::Segment* PinStimulus::SegmentAt(int pin, int64_t atUs) const
{
    const std::vector<Segment>& segments = pins_[static_cast<size_t>(pin)].segments;
    auto at = std::upper_bound(segments.begin(), segments.end(), atUs,
                               [](int64_t us, const Segment& s) { return us < s.startUs; });
    return at == segments.begin() ? nullptr : &*std::prev(at);
}

int PinStimulus::SegmentLevel(int pin, const Segment& segment, int64_t atUs) const
{
    switch (segment.kind) {
    case Kind::Free:
        return -1;
    case Kind::Level:
        return segment.level ? 1 : 0;
    case Kind::Wave:
        return (atUs - segment.originUs) % segment.periodUs < segment.highUs ? 1 : 0;
    case Kind::Uart: {
        const std::vector<Frame>& frames = pins_[static_cast<size_t>(pin)].frames;
        auto after = std::upper_bound(frames.begin(), frames.end(), atUs,
                                      [](int64_t us, const Frame& f) { return us < f.startUs; });
        if (after == frames.begin())
            return 1;
        const Frame& frame = *std::prev(after);
        if (frame.startUs < segment.originUs || atUs >= frame.endUs)
            return 1; // idle between and after frames
        int64_t bit = (atUs - frame.startUs) * frame.baud / 1000000;
        // The division can land one bit late at a boundary's rounding: find
        // the bit whose span holds the time.
        while (bit > 0 && frame.startUs + BitTimeUs(bit, frame.baud) > atUs)
            --bit;
        while (bit + 1 < kFrameBits && frame.startUs + BitTimeUs(bit + 1, frame.baud) <= atUs)
            ++bit;
        if (bit == 0)
            return 0;
        if (bit >= 9)
            return 1;
        return (frame.byte >> (bit - 1)) & 1;
    }
    }
    return -1;
}

int64_t PinStimulus::SegmentNextChange(int pin, const Segment& segment, int64_t afterUs) const
{
    switch (segment.kind) {
    case Kind::Free:
    case Kind::Level:
        return kNever;
    case Kind::Wave: {
        if (segment.highUs == 0 || segment.highUs == segment.periodUs)
            return kNever; // a level, not a wave
        int64_t phase = (afterUs - segment.originUs) % segment.periodUs;
        int64_t periodStart = afterUs - phase;
        if (phase < segment.highUs)
            return periodStart + segment.highUs;
        return periodStart + segment.periodUs;
    }
    case Kind::Uart: {
        const std::vector<Frame>& frames = pins_[static_cast<size_t>(pin)].frames;
        auto after = std::upper_bound(frames.begin(), frames.end(), afterUs,
                                      [](int64_t us, const Frame& f) { return us < f.startUs; });
        if (after != frames.begin()) {
            const Frame& frame = *std::prev(after);
            if (frame.startUs >= segment.originUs && afterUs < frame.endUs) {
                for (int64_t bit = 1; bit <= kFrameBits; ++bit) {
                    int64_t edge = frame.startUs + BitTimeUs(bit, frame.baud);
                    if (edge > afterUs)
                        return edge;
                }
            }
        }
        return after == frames.end() ? kNever : after->startUs;
    }
    }
    return kNever;
}

int PinStimulus::LevelAt(int pin, int64_t atUs) const
{
    if (!Valid(pin))
        return -1;
    const Segment* segment = SegmentAt(pin, atUs);
    return segment == nullptr ? -1 : SegmentLevel(pin, *segment, atUs);
}

int64_t PinStimulus::NextChangeAfter(int pin, int64_t afterUs) const
{
    if (!Valid(pin))
        return kNever;
    const std::vector<Segment>& segments = pins_[static_cast<size_t>(pin)].segments;
    auto next = std::upper_bound(segments.begin(), segments.end(), afterUs,
                                 [](int64_t us, const Segment& s) { return us < s.startUs; });
    int64_t nextSegmentUs = next == segments.end() ? kNever : next->startUs;
    if (next == segments.begin())
        return nextSegmentUs;
    return std::min(nextSegmentUs, SegmentNextChange(pin, *std::prev(next), afterUs));
}

int PinStimulus::AnalogAt(int pin, int64_t atUs) const
{
    return Valid(pin) ? static_cast<int>(SettingAt(pins_[static_cast<size_t>(pin)].analog, atUs)) : -1;
}

int64_t PinStimulus::RcAt(int pin, int64_t atUs) const
{
    return Valid(pin) ? SettingAt(pins_[static_cast<size_t>(pin)].rc, atUs) : -1;
}

const std::vector<PinStimulus::Frame>& PinStimulus::Frames(int pin) const
{
    static const std::vector<Frame> none;
    return Valid(pin) ? pins_[static_cast<size_t>(pin)].frames : none;
}
