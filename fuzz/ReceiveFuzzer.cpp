// The protocol's receiving side fed whatever a noisy or foreign line may
// bring: the fuzzer's bytes are a script of steps (bytes arriving on the
// line at some moment, chunks handed to the listener, keys typed, commands
// sent whose echoes are then due, packets, acknowledgements and status
// replies waited for, the line failing and coming back, the poll timer of a
// listening run), run on a fake clock so that no time-out really waits.
// Every failure must be a catalogue error, a packet never outgrows the
// caller's buffer, and input requests are answered from the key queue in
// the order the keys were typed.

#include "FuzzDevice.h"
#include "FuzzSupport.h"

#include "device/ProgramMap.h"
#include "driver/RunSettings.h"
#include "driver/TDataClass.h"
#include "errors/EError.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

namespace {

// One exception class at 0x40 whose line 12 holds pc 57, as a linked program
// would answer; any other report is one the program cannot explain.
class FuzzProgram final : public ProgramMap {
public:
    std::string ClassNameAt(int classOffset) const override
    {
        if (classOffset != 0x40)
            throw EError(ecIDE, 29);
        return "java.lang.ArithmeticException";
    }
    SourceLine LineOfPc(int pc) const override
    {
        if (pc != 57)
            throw EError(ecIDE, 16, pc);
        return {"Prog.java", 12};
    }
    std::string MethodNameAt(int pc) const override
    {
        if (pc != 57)
            throw EError(ecIDE, 16, pc);
        return "Prog.average";
    }
};

// The input read front to back, so that a seed can be written by hand:
// one settings byte (bit 0: IgnoreEcho, bits 1-2: LogLevel, bit 3: the poll
// timer's listener has the linked program), then steps of one byte each with
// their arguments. Past the end every read gives 0.
class Script {
public:
    Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    unsigned Word() { return Byte() * 256u + Byte(); }
    // A count byte, then that many bytes (fewer at the end of the input).
    std::vector<uint8_t> Bytes()
    {
        const size_t count = std::min<size_t>(Byte(), size_ - std::min(at_, size_));
        std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + count);
        at_ += count;
        return bytes;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

enum Step : uint8_t {
    stArrive,   // delay word, bytes: they reach the host's port after the delay
    stListen,   // linked byte, bytes: a chunk for the listener, as from the poll timer
    stKey,      // key byte: typed
    stSend,     // byte: a command goes out; its echo is now due
    stPacket,   // capacity word: a packet is read into a buffer of that size
    stReadByte, // time-out word: one byte is read
    stAck,      // code byte, time-out word: an acknowledgement is waited for
    stStatus,   // the status is queried
    stWait,     // milliseconds word: time passes
    stFault,    // byte: bit 0 breaks or mends the line, bit 1 stalls or frees its output
    stPoll,     // one tick of the driver's poll timer hands what arrived to the listener
    stStepCount,
};

class Session {
public:
    // `linked`: the listening run's receive path has the linked program.
    Session(Script& script, bool linked) : script_(script), data_(&device_.comm, linked ? &program_ : nullptr)
    {
        device_.driver.SetPacketMode(pmPass);
        device_.driver.SetOnReceiveData([this](TCommPortDriver& sender, const uint8_t* bytes, int32_t size) {
            data_.SerialDataReceived(sender, bytes, size);
        });
        device_.Connect();
    }

    void Run()
    {
        while (!script_.Done()) {
            const auto step = static_cast<Step>(script_.Byte() % stStepCount);
            const size_t writtenBefore = device_.line.written.size();
            try {
                Do(step);
            } catch (const EError&) {
            }
            CheckAnswers(writtenBefore, step == stSend || step == stStatus);
        }
    }

private:
    // Runs a step; stSend and stStatus send a byte of their own first.
    void Do(Step step)
    {
        TSXComm& comm = device_.comm;
        switch (step) {
        case stArrive: {
            const int64_t delayMs = script_.Word() % 6001;
            device_.line.DeliverAfter(delayMs, script_.Bytes());
            return;
        }
        case stListen: {
            const bool linked = (script_.Byte() & 1) != 0;
            const std::vector<uint8_t> chunk = script_.Bytes();
            comm.ReceiveBytes(chunk.data(), static_cast<int>(chunk.size()), linked ? &program_ : nullptr);
            return;
        }
        case stKey: {
            const uint8_t key = script_.Byte();
            const bool full = comm.KeyCount() >= TSXComm::kKeyQueueSize;
            try {
                comm.QueueKey(key);
            } catch (const EError& error) {
                FUZZ_CHECK(full && error.Is(ecIDE, 53));
                return;
            }
            FUZZ_CHECK(!full);
            keys_.push_back(key);
            return;
        }
        case stSend:
            sent_ = script_.Byte();
            comm.SendCommand(sent_);
            return;
        case stPacket: {
            const int capacity = static_cast<int>(script_.Word() % 600) + 1;
            // Exactly the capacity, so that a write beyond it is seen.
            auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity));
            int length = capacity;
            comm.ReceivePacket(buffer.get(), length);
            FUZZ_CHECK(length > 0 && length < capacity);
            return;
        }
        case stReadByte:
            comm.ReadByte(script_.Word() % 6001);
            return;
        case stAck: {
            const uint8_t code = script_.Byte();
            comm.WaitForAck(code, script_.Word() % 6001);
            return;
        }
        case stStatus: {
            sent_ = kComQueryStatus;
            int32_t pc = 0, activity = 0, extra = 0;
            comm.QueryStatus(pc, activity, extra);
            FUZZ_CHECK(pc >= -1 && pc < 65535 && activity >= 0 && activity < 256 && extra >= 0 && extra < 256);
            return;
        }
        case stWait:
            device_.clock.Advance(script_.Word() % 10001);
            return;
        case stFault: {
            const uint8_t fault = script_.Byte();
            if (fault & 1)
                device_.line.broken = !device_.line.broken;
            if (fault & 2)
                device_.line.writeLimit = device_.line.writeLimit == 0 ? -1 : 0;
            return;
        }
        case stPoll:
            device_.driver.PollStep();
            return;
        case stStepCount:
            return;
        }
    }

    // What the host wrote in the step: its own command first, if it sent
    // one, then only answers to input requests, each taking the oldest key.
    void CheckAnswers(size_t from, bool sentOwn)
    {
        const std::vector<uint8_t>& written = device_.line.written;
        size_t at = from;
        if (sentOwn && at < written.size()) {
            FUZZ_CHECK(written[at] == sent_);
            ++at;
        } else if (sentOwn) {
            FUZZ_CHECK(device_.line.writeLimit == 0); // a stalled line took nothing
        }
        while (at < written.size()) {
            const uint8_t b = written[at++];
            if (b == kComNoInput) {
                FUZZ_CHECK(keys_.empty());
            } else {
                FUZZ_CHECK(b == kComInputByte);
                FUZZ_CHECK(!keys_.empty() && at < written.size() && written[at] == keys_.front());
                keys_.pop_front();
                ++at;
            }
        }
        FUZZ_CHECK(static_cast<size_t>(device_.comm.KeyCount()) == keys_.size());
        FUZZ_CHECK(device_.comm.PendingEchoes() >= 0);
    }

    Script& script_;
    FuzzDevice device_;
    FuzzProgram program_;
    TDataClass data_;
    std::deque<uint8_t> keys_;
    uint8_t sent_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (SilenceConsole(), true);
    (void)ready;
    Script script(data, size);
    InitialiseSettings();
    // Both ways of treating echoes, and the traces, which format what came.
    const uint8_t settings = script.Byte();
    Settings().IgnoreEcho = (settings & 1) != 0;
    Settings().LogLevel = (settings >> 1) & 3;
    Session session(script, (settings & 8) != 0);
    session.Run();
    InitialiseSettings();
    return 0;
}
