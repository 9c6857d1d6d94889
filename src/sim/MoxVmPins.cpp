// The pins between the program and the world outside them: what the natives
// that read pins see when a bench drives them, the serial frames a receiver
// gets and a transmitter sends, and the trace of every level and direction.
//
// The machine's state only changes inside natives, so between two natives
// every pin's level is a function of time (a latch, a PWM wave, frames on a
// line, the bench's timeline); the trace is written from those functions
// whenever a native is about to change them or the clock is about to jump.

#include "sim/MoxVm.h"

#include <algorithm>

namespace {

constexpr int64_t kNever = PinStimulus::kNever;
constexpr int64_t kFineUnitUs = 10;
constexpr int64_t kUnitUs = 100;
constexpr int kMaxCount = 32767;

int64_t Duration(int16_t count, int64_t unitUs) { return count < 0 ? 0 : count * unitUs; }

// The next edge of a wave of `high` and `low` fine units started at `startUs`.
int64_t WaveEdgeAfter(int32_t high, int32_t low, int64_t startUs, int64_t afterUs)
{
    if (high <= 0 || low <= 0)
        return kNever; // a steady level
    int64_t highUs = high * kFineUnitUs;
    int64_t periodUs = (static_cast<int64_t>(high) + low) * kFineUnitUs;
    int64_t since = std::max<int64_t>(afterUs - startUs, 0);
    int64_t periodStart = startUs + since - since % periodUs;
    return since % periodUs < highUs ? periodStart + highUs : periodStart + periodUs;
}

int64_t PwmEdgeAfter(const Board::Slot& slot, int64_t afterUs)
{
    if (slot.changeAtUs < 0)
        return WaveEdgeAfter(slot.highTime, slot.lowTime, slot.startUs, afterUs);
    if (afterUs < slot.changeAtUs)
        return std::min(WaveEdgeAfter(slot.highTime, slot.lowTime, slot.startUs, afterUs), slot.changeAtUs);
    return WaveEdgeAfter(slot.nextHighTime, slot.nextLowTime, slot.changeAtUs, afterUs);
}

// Bit boundaries of a transmitter's frame: `speed` is the baud rate / 100.
int64_t TxBitUs(int bits, int speed) { return static_cast<int64_t>(bits) * 10000 / speed; }

} // namespace

void MoxVm::AttachTrace(VcdTrace* trace)
{
    trace_ = trace;
    tracedUs_ = nowUs_;
    SyncTrace();
}

bool MoxVm::PinLevelAt(int pin, int64_t atUs, bool withFrames) const
{
    if (!Board::ValidPin(pin))
        return false;
    for (int i = 0; i < Board::kSlots; ++i) {
        const Board::Slot& slot = board_.SlotAt(i);
        if (slot.pin != pin)
            continue;
        if (slot.kind == Board::Peripheral::Pwm)
            return Board::PwmLevel(slot, pwmFrozenUs_ >= 0 ? pwmFrozenUs_ : atUs);
        if (slot.kind == Board::Peripheral::Dac)
            return ArrayLength(slot.array) >= 1 && memory_->Read8(slot.array + 4u) >= 128;
        if (slot.kind == Board::Peripheral::UartTx && withFrames) {
            const TxLine& tx = tx_[static_cast<size_t>(i)];
            for (const auto& [startUs, byte] : tx.frames) {
                if (atUs < startUs)
                    break;
                if (atUs >= startUs + TxBitUs(tx.bits, tx.speed))
                    continue;
                int bit = 0;
                while (bit + 1 < tx.bits && startUs + TxBitUs(bit + 1, tx.speed) <= atUs)
                    ++bit;
                return bit == 0 ? false : bit > 8 ? true : (byte >> (bit - 1) & 1) != 0;
            }
        }
    }
    if (board_.IsOutput(pin))
        return board_.Level(pin);
    if (world_ != nullptr) {
        int level = world_->LevelAt(pin, atUs);
        if (level >= 0)
            return level != 0;
        int analog = world_->AnalogAt(pin, atUs);
        if (analog >= 0)
            return analog >= 128;
    }
    return board_.Level(pin);
}

int64_t MoxVm::NextPinChange(int pin, int64_t afterUs) const
{
    for (int i = 0; i < Board::kSlots; ++i) {
        const Board::Slot& slot = board_.SlotAt(i);
        if (slot.pin != pin)
            continue;
        if (slot.kind == Board::Peripheral::Pwm)
            return pwmFrozenUs_ >= 0 ? kNever : PwmEdgeAfter(slot, afterUs);
        if (slot.kind == Board::Peripheral::Dac)
            return kNever;
        if (slot.kind == Board::Peripheral::UartTx) {
            const TxLine& tx = tx_[static_cast<size_t>(i)];
            for (const auto& [startUs, byte] : tx.frames) {
                if (afterUs < startUs)
                    return startUs;
                for (int bit = 1; bit <= tx.bits; ++bit)
                    if (startUs + TxBitUs(bit, tx.speed) > afterUs)
                        return startUs + TxBitUs(bit, tx.speed);
            }
        }
    }
    if (board_.IsOutput(pin) || world_ == nullptr)
        return kNever;
    return world_->NextChangeAfter(pin, afterUs);
}

int64_t MoxVm::NextInputLevel(int pin, bool level, int64_t afterUs, int64_t endUs) const
{
    bool last = PinLevelAt(pin, afterUs, false);
    for (int64_t t = NextPinChange(pin, afterUs); t < endUs; t = NextPinChange(pin, t)) {
        bool now = PinLevelAt(pin, t, false);
        if (now == level && last != level)
            return t;
        last = now;
    }
    return -1;
}

void MoxVm::SyncTrace()
{
    if (trace_ == nullptr)
        return;
    if (nowUs_ > tracedUs_) {
        // Merged in time order across the pins: the file takes times only
        // forwards. From just before the last traced time: the bench may
        // have put a change at that very time after it was traced (a step
        // run when the machine stopped right after a message).
        std::array<int64_t, Board::kPins> next{};
        for (int pin = 0; pin < Board::kPins; ++pin)
            next[static_cast<size_t>(pin)] = NextPinChange(pin, tracedUs_ - 1);
        for (;;) {
            auto earliest = std::min_element(next.begin(), next.end());
            if (*earliest >= nowUs_)
                break;
            int pin = static_cast<int>(earliest - next.begin());
            trace_->Level(*earliest, pin, PinLevelAt(pin, *earliest, true));
            *earliest = NextPinChange(pin, *earliest);
        }
    }
    for (int pin = 0; pin < Board::kPins; ++pin) {
        trace_->Level(nowUs_, pin, PinLevelAt(pin, nowUs_, true));
        trace_->Direction(nowUs_, pin, board_.IsOutput(pin));
    }
    tracedUs_ = nowUs_;
    for (TxLine& tx : tx_)
        while (!tx.frames.empty() && tx.frames.front().first + TxBitUs(tx.bits, tx.speed) <= tracedUs_)
            tx.frames.pop_front();
}

void MoxVm::ScheduleFrame(int slot, uint8_t byte)
{
    TxLine& tx = tx_[static_cast<size_t>(slot)];
    // The program's view is that queued bytes are sent at once; only the
    // trace puts them on the line, back to back at the baud rate.
    if (trace_ == nullptr || tx.speed <= 0)
        return;
    int64_t startUs = std::max(nowUs_, tx.freeUs);
    tx.frames.emplace_back(startUs, byte);
    tx.freeUs = startUs + TxBitUs(tx.bits, tx.speed);
}

void MoxVm::ReceiveFrames(int slot)
{
    RxLine& rx = rx_[static_cast<size_t>(slot)];
    int pin = board_.SlotAt(slot).pin;
    if (world_ != nullptr && rx.doneUs < nowUs_) {
        for (const PinStimulus::Frame& frame : world_->Frames(pin)) {
            if (frame.startUs < rx.sinceUs || frame.endUs <= rx.doneUs)
                continue;
            if (frame.endUs > nowUs_)
                break;
            // A receiver at another rate makes nothing of the frames.
            if (frame.baud == rx.speed * 100 && rx.buffer.size() < kRxBufferBytes)
                rx.buffer.push_back(frame.byte);
        }
    }
    rx.doneUs = nowUs_;
}

void MoxVm::BackgroundWork()
{
    for (int i = 0; i < Board::kSlots; ++i) {
        const Board::Slot& slot = board_.SlotAt(i);
        if (slot.kind == Board::Peripheral::UartTx && ArrayLength(slot.array) >= 2) {
            // Nothing listens: every queued byte is sent.
            int positions = std::min(ArrayLength(slot.array) - 2, 256);
            int read = memory_->Read8(slot.array + 4u);
            int write = memory_->Read8(slot.array + 5u);
            for (int guard = 0; read != write && read < positions && guard < positions; ++guard) {
                ScheduleFrame(i, memory_->Read8(slot.array + 6u + static_cast<uint32_t>(read)));
                read = (read + 1) % positions;
            }
            memory_->Write8(slot.array + 4u, static_cast<uint8_t>(write));
        } else if (slot.kind == Board::Peripheral::UartRx) {
            ReceiveFrames(i);
        } else if (slot.kind == Board::Peripheral::Adc && ArrayLength(slot.array) >= 1) {
            int analog = world_ != nullptr ? world_->AnalogAt(slot.pin, nowUs_) : -1;
            memory_->Write8(slot.array + 4u, static_cast<uint8_t>(analog >= 0 ? analog : PinLevel(slot.pin) ? 255 : 0));
        }
    }
}

int MoxVm::NativeCount(const int16_t* args)
{
    board_.MakeInput(args[0]);
    int64_t durationUs = Duration(args[1], kUnitUs);
    bool rising = args[2] != 0;
    int edges = 0;
    bool last = PinLevel(args[0]);
    for (int64_t t = NextPinChange(args[0], nowUs_); t < nowUs_ + durationUs && edges < kMaxCount;
         t = NextPinChange(args[0], t)) {
        bool level = PinLevelAt(args[0], t, false);
        if (level != last && level == rising)
            ++edges;
        last = level;
    }
    TakeTime(durationUs);
    return edges;
}

int MoxVm::NativeRcTime(const int16_t* args)
{
    board_.MakeInput(args[0]);
    bool state = args[2] != 0;
    if (PinLevel(args[0]) != state)
        return 0;
    int64_t timeoutUs = Duration(args[1], kFineUnitUs);
    int64_t holdUs = world_ != nullptr ? world_->RcAt(args[0], nowUs_) : -1;
    int64_t leftUs = holdUs >= 0 ? nowUs_ + holdUs : NextInputLevel(args[0], !state, nowUs_, nowUs_ + timeoutUs + 1);
    if (leftUs < 0 || leftUs - nowUs_ > timeoutUs) {
        TakeTime(timeoutUs);
        return -1;
    }
    int64_t heldUs = leftUs - nowUs_;
    TakeTime(heldUs);
    return static_cast<int>(std::min<int64_t>(heldUs / kFineUnitUs, kMaxCount));
}

int MoxVm::NativePulseIn(const int16_t* args)
{
    board_.MakeInput(args[0]);
    bool state = args[2] != 0;
    int64_t timeoutUs = Duration(args[1], kFineUnitUs);
    int64_t endUs = nowUs_ + timeoutUs + 1;
    int64_t startUs = NextInputLevel(args[0], state, nowUs_, endUs);
    int64_t stopUs = startUs < 0 ? -1 : NextInputLevel(args[0], !state, startUs, endUs);
    if (stopUs < 0) {
        TakeTime(timeoutUs);
        return -1;
    }
    TakeTime(stopUs - nowUs_);
    return static_cast<int>(std::min<int64_t>((stopUs - startUs) / kFineUnitUs, kMaxCount));
}

int MoxVm::NativeTxInit(const int16_t* args)
{
    if (board_.Start(args[0], Board::Peripheral::UartTx)) {
        Board::Slot& slot = board_.SlotAt(args[0]);
        slot.pin = args[1];
        slot.array = static_cast<uint16_t>(args[4]);
        TxLine& tx = tx_[static_cast<size_t>(args[0])];
        tx = TxLine{};
        tx.speed = args[2];
        tx.bits = args[3] == 2 ? 11 : 10;
        rx_[static_cast<size_t>(args[0])] = RxLine{};
        board_.Drive(args[1], true); // idle high
    }
    return 0;
}

int MoxVm::NativeRxInit(const int16_t* args)
{
    if (board_.Start(args[0], Board::Peripheral::UartRx)) {
        board_.SlotAt(args[0]).pin = args[1];
        board_.MakeInput(args[1]);
        tx_[static_cast<size_t>(args[0])] = TxLine{};
        rx_[static_cast<size_t>(args[0])] = RxLine{nowUs_, nowUs_, args[2], {}};
    }
    return 0;
}

int MoxVm::NativeRxRead(const int16_t* args)
{
    if (!Board::ValidSlot(args[0]) || board_.SlotAt(args[0]).kind != Board::Peripheral::UartRx)
        return -1;
    ReceiveFrames(args[0]);
    std::deque<uint8_t>& buffer = rx_[static_cast<size_t>(args[0])].buffer;
    if (buffer.empty())
        return -1;
    int byte = buffer.front();
    buffer.pop_front();
    return byte;
}
