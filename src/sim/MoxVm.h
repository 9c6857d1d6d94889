#pragma once

#include "sim/Board.h"
#include "sim/MoxHeader.h"
#include "sim/PinStimulus.h"
#include "sim/VcdTrace.h"
#include "sim/VmFault.h"
#include "sim/VmHeap.h"
#include "sim/VmMemory.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

// What the virtual machine needs from the module around it: a way to the
// host for messages and key requests.
class VmLink {
public:
    virtual ~VmLink() = default;
    // One message of `kind` (3: text, 4: uncaught exception, ...); the module
    // frames it for the line.
    virtual void SendMessage(uint8_t kind, const uint8_t* bytes, size_t size) = 0;
    // Asks the host for a typed key; the answer comes back through
    // MoxVm::ProvideKey. False when no host is connected to ask, and the
    // program gets "no key" at once.
    virtual bool RequestKey() = 0;
};

// What a debugger attached to the machine hears. Both calls come between
// instructions (an exception: before it unwinds anything), with the machine
// in a state that may be read and written; a call may block while the
// debugger looks around.
class VmDebugHook {
public:
    virtual ~VmDebugHook() = default;
    // Before the instruction at `pc` runs, when it carries a breakpoint or
    // the machine steps.
    virtual void AtInstruction(uint32_t pc) = 0;
    // `object` is thrown at `originPc` (for an error the machine raises, the
    // failing instruction); `catchPc` is the handler that will take it, 0
    // when none does.
    virtual void ExceptionThrown(uint16_t object, uint32_t originPc, uint32_t catchPc) = 0;
};

// The Mox virtual machine: runs the image the linker writes, on 16-bit words.
//
// Memory map (addresses are image offsets, so a reference is simply where the
// object lies):
//   0 .. stack base - 1     the image, read-only (class records, code, strings)
//   stack base ...          RAM: static fields (header byte 3 bytes), then the
//                           stack (kStackBytes), then the heap up to the end
//                           of RAM.
// docs/simulator.md describes frames, objects and the conventions in full.
class MoxVm {
public:
    // A small module: 16 KiB of RAM above the program for static fields,
    // stack and heap.
    static constexpr uint32_t kDefaultRamBytes = 16 * 1024;
    static constexpr uint32_t kMinRamBytes = 4 * 1024;
    static constexpr uint32_t kStackBytes = 3 * 1024;
    // The top of the stack kept free for raising a VM error: the call of
    // Throwable.throwVMException and every call it makes to build the
    // exception. Our library's deepest path (ArithmeticException's chain of
    // constructors) takes 90 bytes, headroom included; the rest is margin
    // for an error raised while a frame's operands already reach into it.
    static constexpr uint32_t kRaiseReserve = 384;
    // What a frame costs besides its locals: return pc, caller's locals and
    // caller's method, as a firmware would keep them.
    static constexpr uint32_t kFrameLinkBytes = 6;
    // Simulated time of one instruction: a module runs about 100,000 a second.
    static constexpr int64_t kInstructionUs = 10;

    // The codes of Throwable.throwVMException (runtime/README.md), and ours.
    enum VmErrorCode : uint8_t {
        veDivideByZero = 1,
        veNullPointer = 2,
        veArrayIndex = 3,
        veNegativeArraySize = 4,
        veClassCast = 5,
        veOutOfMemory = 6,
        veStackOverflow = 7,
    };

    enum class State : uint8_t {
        vsRunning,
        vsWaitingForKey, // Terminal.getByte asked the host
        vsEnded,         // main returned
        vsUncaught,      // an exception nothing caught (reported as kind 4)
        vsFaulted,       // stopped on a VmFault (reported as kind 1 or 2)
    };

    // Takes the `length` bytes downloaded into the EEPROM. A bad image
    // leaves the machine faulted without running anything.
    MoxVm(const std::vector<uint8_t>& eeprom, uint32_t length, uint32_t ramBytes, Board& board, VmLink& link);
    ~MoxVm();
    MoxVm(const MoxVm&) = delete;
    MoxVm& operator=(const MoxVm&) = delete;

    // Runs until `maxInstructions` have run, the simulated clock has reached
    // `untilUs`, or the program waits for a key or stops.
    State Run(uint64_t maxInstructions, int64_t untilUs);

    // The host's answer to a key request: 0..255, or -1 for no key.
    void ProvideKey(int key);

    State GetState() const { return state_; }
    bool Stopped() const { return state_ == State::vsEnded || state_ == State::vsUncaught || state_ == State::vsFaulted; }
    // The instruction being executed; -1 once the program has stopped.
    int32_t Pc() const { return Stopped() ? -1 : static_cast<int32_t>(pc_); }
    int64_t NowUs() const { return nowUs_; }
    uint64_t Instructions() const { return instructions_; }
    const VmFault& Fault() const { return fault_; }
    const MoxHeader& Header() const { return header_; }
    const VmHeap* Heap() const { return heap_.get(); }
    // The address space (null when the image was refused before start).
    const VmMemory* Memory() const { return memory_.get(); }
    uint32_t StaticsBase() const { return staticsBase_; }
    // RAM above the program: what was asked for, or what fits below 64 KiB.
    uint32_t RamBytes() const { return ramBytes_; }
    // For an uncaught exception: its class record and where it was thrown.
    uint16_t UncaughtClass() const { return uncaughtClass_; }
    uint16_t UncaughtPc() const { return uncaughtPc_; }
    // A full collection now; tests use it to look at what stays alive.
    void CollectGarbage();

    // Debugging (MoxVmDebug.cpp). A run without a hook takes Run, which
    // looks at nothing of this; RunWatched consults the breakpoint map
    // before each instruction and calls the hook where it says so.
    struct FrameView {
        uint16_t slot;        // method-table slot the call went through
        uint32_t pc;          // the frame's current instruction (a caller's: its call)
        uint16_t localsBase;  // address of local 0
        uint16_t localsCount; // in words
    };
    State RunWatched(uint64_t maxInstructions, int64_t untilUs);
    void SetDebugHook(VmDebugHook* hook) { debugHook_ = hook; }
    void SetBreakpoint(uint32_t pc, bool set);
    void ClearBreakpoints() { breakpoints_.assign(breakpoints_.size(), 0); }
    // Calls the hook before every instruction.
    void SetStepping(bool stepping) { stepping_ = stepping; }
    // Bottom frame first; empty once the program has stopped.
    std::vector<FrameView> Frames() const;
    // The address space for a debugger's writes (null as Memory()).
    VmMemory* DebugMemory() { return memory_.get(); }
    // Ends the program as if main had returned, for a debugger's exit.
    void Terminate();

    // The world outside the pins (MoxVmPins.cpp). Without one, or while it
    // drives nothing, the pins behave as on a bare board. It must outlive
    // the machine.
    void AttachStimulus(const PinStimulus* world) { world_ = world; }
    // Records every pin's level and direction from now on; the caller keeps
    // the trace open while the machine runs and syncs it before closing.
    void AttachTrace(VcdTrace* trace);
    // Writes what the pins did up to the machine's clock.
    void SyncTrace();
    // A pin's level now, whoever drives it (a transmitter's frames too).
    bool PinLevelNow(int pin) const { return PinLevelAt(pin, nowUs_, true); }

private:
    struct Frame {
        uint16_t slot;        // method-table slot of the method
        uint16_t localsBase;  // address of local 0 (the first argument)
        uint16_t localsCount; // arguments and locals, in words
        uint16_t operandBase; // where its operand stack starts
        uint16_t callPc;      // the caller's instruction that made the call
        bool raisesVmError;   // pushed by the machine to raise a VM error at callPc
    };
    struct VmErrorRaised {
        uint8_t code;
    };
    struct Native {
        uint8_t arguments = 0;
        bool returnsValue = false;
        int (MoxVm::*run)(const int16_t* args) = nullptr;
    };

    void Start();
    void Execute();
    void Halt(const VmFault& fault);

    // Operand stack and locals of the current frame.
    void Push(uint16_t value)
    {
        if (sp_ + 2 > stackEnd_)
            throw VmFault{VmFaultCode::vfStackOverflow, sp_};
        memory_->Write16(sp_, value);
        sp_ += 2;
    }
    uint16_t Pop()
    {
        if (sp_ < frames_.back().operandBase + 2u)
            throw VmFault{VmFaultCode::vfOperandStack, pc_};
        sp_ -= 2;
        return memory_->Read16(sp_);
    }
    int16_t PopInt() { return static_cast<int16_t>(Pop()); }
    uint16_t Peek(uint32_t depth) const; // 0: top
    uint32_t LocalAddress(uint32_t index) const;

    // Calls, returns and exceptions (MoxVmCalls.cpp).
    void Invoke(uint16_t slot, uint16_t callPc, bool raisingVmError);
    void Return(bool withValue);
    void Throw(uint16_t object, uint16_t throwPc);
    void RaiseVmError(uint8_t code);
    void TellDebugger(uint16_t object, uint16_t throwPc, uint16_t thrownClass);
    uint16_t FindHandler(const Frame& frame, uint16_t pc, uint16_t thrownClass) const;
    bool IsSubclass(uint16_t classRecord, uint16_t ancestor) const;
    uint16_t ClassOf(uint16_t object) const { return memory_->Read16(object); }

    // Objects and arrays.
    uint16_t Allocate(uint32_t size, bool holdsReferences);
    uint16_t NewArray(int16_t length, bool byteElements);
    uint32_t ElementAddress(uint16_t array, int16_t index, uint32_t elementSize) const;
    void MarkRoots();

    // Natives (MoxVmNatives.cpp).
    void BuildNativeTable();
    void CallNative(uint16_t index, uint32_t arguments, uint16_t callPc);
    void BackgroundWork();
    bool PinLevel(int pin) const { return PinLevelAt(pin, nowUs_, false); }
    // The level `pin` has at `atUs` with the peripherals and latches as they
    // are now; `withFrames` adds a transmitter's frames, which the program
    // itself never sees.
    bool PinLevelAt(int pin, int64_t atUs, bool withFrames) const;
    // The first time after `afterUs` at which that level may change.
    int64_t NextPinChange(int pin, int64_t afterUs) const;
    // When `pin`, an input, next reaches `level` after `afterUs`, before
    // `endUs`; -1 when it does not.
    int64_t NextInputLevel(int pin, bool level, int64_t afterUs, int64_t endUs) const;
    void ReceiveFrames(int slot);
    void ScheduleFrame(int slot, uint8_t byte);
    int ArrayLength(uint16_t array) const;
    void TakeTime(int64_t us);
    int NativeWriteRegister(const int16_t* args);
    int NativeReadRegister(const int16_t* args);
    int NativeWriteObject(const int16_t* args);
    int NativeDelay(const int16_t* args);
    int NativeMessage(const int16_t* args);
    int NativeCount(const int16_t* args);
    int NativeRcTime(const int16_t* args);
    int NativePulseIn(const int16_t* args);
    int NativePulseOut(const int16_t* args);
    int NativeReadPin(const int16_t* args);
    int NativeWritePin(const int16_t* args);
    int NativeShiftIn(const int16_t* args);
    int NativeShiftOut(const int16_t* args);
    int NativeCarry(const int16_t* args);
    int NativeUninstall(const int16_t* args);
    int NativeInstall(const int16_t* args);
    int NativeNap(const int16_t* args);
    int NativeSetOutput(const int16_t* args);
    int NativeSetInput(const int16_t* args);
    int NativeReadSram(const int16_t* args);
    int NativeWriteSram(const int16_t* args);
    int NativeEeRead(const int16_t* args);
    int NativeEeWrite(const int16_t* args);
    int NativeTxInit(const int16_t* args);
    int NativeRxInit(const int16_t* args);
    int NativeRxRead(const int16_t* args);
    int NativeReturnTwo(const int16_t* args);
    int NativeTimerInit(const int16_t* args);
    int NativeTimerLatch(const int16_t* args);
    int NativePwmInstall(const int16_t* args);
    int NativePwmUpdate(const int16_t* args);
    int NativeDacInstall(const int16_t* args);
    int NativeAdcInstall(const int16_t* args);
    int NativeGetByte(const int16_t* args);
    struct TxLine {
        int speed = 0; // baud / 100
        int bits = 10; // start, data, stop bits
        int64_t freeUs = 0;
        std::deque<std::pair<int64_t, uint8_t>> frames; // start, byte
    };
    struct RxLine {
        int64_t sinceUs = 0; // frames starting before the receiver ran are lost
        int64_t doneUs = 0;  // frames ending up to here are taken
        int speed = 0;
        std::deque<uint8_t> buffer;
    };
    static constexpr size_t kRxBufferBytes = 16;

    // A native that blocks leaves no result yet: it comes with ProvideKey.
    static constexpr int kNoResultYet = 0x10000;

    Board& board_;
    VmLink& link_;
    MoxHeader header_;
    std::unique_ptr<VmMemory> memory_;
    std::unique_ptr<VmHeap> heap_;
    std::array<int16_t, 256> javaOpcodeOf_{};
    std::array<Native, 64> natives_{};

    State state_ = State::vsRunning;
    VmFault fault_;
    uint32_t pc_ = 0;
    uint32_t instructionPc_ = 0;
    uint32_t sp_ = 0;
    uint32_t ramBytes_ = 0;
    uint32_t staticsBase_ = 0;
    uint32_t stackStart_ = 0;
    uint32_t stackEnd_ = 0;
    std::vector<Frame> frames_;
    // Frames in `frames_` that raise a VM error: while there are any, calls
    // may use the reserve.
    uint32_t raisingFrames_ = 0;
    bool carry_ = false;
    int64_t nowUs_ = 0;
    uint64_t instructions_ = 0;
    // Where each thrown object was first thrown, as a desktop JVM fixes an
    // exception's place when it is made: a rethrow (a finally block) keeps it.
    std::map<uint16_t, uint16_t> throwOrigin_;
    uint16_t uncaughtClass_ = 0;
    uint16_t uncaughtPc_ = 0;

    VmDebugHook* debugHook_ = nullptr;
    std::vector<uint8_t> breakpoints_; // one byte per image address
    bool stepping_ = false;
    int64_t throwingPc_ = -1; // the top frame's pc while the hook hears of a throw

    const PinStimulus* world_ = nullptr;
    VcdTrace* trace_ = nullptr;
    int64_t tracedUs_ = 0;
    std::array<TxLine, Board::kSlots> tx_{};
    std::array<RxLine, Board::kSlots> rx_{};
};
