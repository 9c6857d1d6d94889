// Calls, returns and exceptions: the frame layout and the conventions the
// image's method-table slots and exception tables carry.

#include "sim/MoxVm.h"

namespace {

// Operand room a new frame must leave below the limit, so that a call that
// fits does not overflow on its first pushes.
constexpr uint32_t kOperandHeadroom = 32;
constexpr uint8_t kHasHandlers = 0x80;
constexpr uint8_t kNativeFlag = 0x80;
constexpr uint32_t kSlotBytes = 7;
// Class chains longer than this are a loop in a bad image: a program has at
// most 255 classes.
constexpr int kMaxClassDepth = 256;

} // namespace

void MoxVm::Invoke(uint16_t slot, uint16_t callPc, bool raisingVmError)
{
    if (slot < MoxHeader::kSize || slot + kSlotBytes > memory_->ProgramEnd())
        throw VmFault{VmFaultCode::vfBadMethodSlot, slot};
    uint8_t parameterBytes = memory_->Read8(slot);
    uint8_t localBytes = memory_->Read8(slot + 1u);
    uint8_t flags = memory_->Read8(slot + 2u);
    uint16_t target = memory_->Read16(slot + 3u);
    uint32_t arguments = (parameterBytes & ~kHasHandlers) / 2u;
    uint32_t floor = frames_.empty() ? stackStart_ : frames_.back().operandBase;
    if (sp_ < floor + 2 * arguments)
        throw VmFault{VmFaultCode::vfOperandStack, callPc};
    if ((flags & kNativeFlag) != 0) {
        CallNative(target, arguments, callPc);
        return;
    }

    // The arguments on the caller's operand stack become locals 0..n-1 in
    // place; the method's other locals and the frame link follow.
    uint32_t localsBase = sp_ - 2 * arguments;
    uint32_t localsCount = arguments + localBytes / 2u;
    uint32_t operandBase = localsBase + 2 * localsCount + kFrameLinkBytes;
    // Raising a VM error may use the reserve, the whole way: the call of
    // throwVMException and every call it makes to build the exception.
    uint32_t limit = raisingVmError || raisingFrames_ > 0 ? stackEnd_ : stackEnd_ - kRaiseReserve;
    if (operandBase + kOperandHeadroom > limit) {
        if (raisingVmError)
            throw VmFault{VmFaultCode::vfStackOverflow, callPc};
        throw VmErrorRaised{veStackOverflow};
    }
    memory_->Clear(sp_, operandBase - sp_);
    // The link a firmware keeps: where to go back to, the caller's locals
    // and the method; this machine keeps its own copy in `frames_`.
    memory_->Write16(operandBase - 6, static_cast<uint16_t>(callPc + 3));
    memory_->Write16(operandBase - 4, static_cast<uint16_t>(frames_.empty() ? 0 : frames_.back().localsBase));
    memory_->Write16(operandBase - 2, slot);
    frames_.push_back(Frame{slot, static_cast<uint16_t>(localsBase), static_cast<uint16_t>(localsCount),
                            static_cast<uint16_t>(operandBase), callPc, raisingVmError});
    if (raisingVmError)
        ++raisingFrames_;
    sp_ = operandBase;
    pc_ = target;
}

void MoxVm::Return(bool withValue)
{
    uint16_t value = withValue ? Pop() : 0;
    Frame frame = frames_.back();
    frames_.pop_back();
    sp_ = frame.localsBase;
    if (frame.raisesVmError) {
        --raisingFrames_;
        throw VmFault{VmFaultCode::vfVmErrorReturned, frame.callPc};
    }
    if (frames_.empty()) {
        // main returned: the program has ended (kind 5, which hosts ignore
        // unless they want to stop listening then).
        state_ = State::vsEnded;
        link_.SendMessage(5, nullptr, 0);
        return;
    }
    pc_ = frame.callPc + 3u;
    if (withValue)
        Push(value);
}

void MoxVm::RaiseVmError(uint8_t code)
{
    // Throwable.throwVMException(code) is called as if the failing
    // instruction had called it; it throws, and the exception unwinds from
    // there like any other. Its frame is marked, so that the exception is
    // placed at the failing instruction, not inside the library.
    uint16_t slot = header_.throwVmSlot;
    if (slot + kSlotBytes > memory_->ProgramEnd() || (memory_->Read8(slot + 2u) & kNativeFlag) != 0 ||
        (memory_->Read8(slot) & ~kHasHandlers) != 2)
        throw VmFault{VmFaultCode::vfBadMethodSlot, slot};
    Push(code);
    Invoke(slot, static_cast<uint16_t>(instructionPc_), true);
}

void MoxVm::Throw(uint16_t object, uint16_t throwPc)
{
    if (!frames_.empty() && frames_.back().raisesVmError)
        throwOrigin_[object] = frames_.back().callPc;
    else
        throwOrigin_.emplace(object, throwPc); // a rethrow keeps the first place
    uint16_t thrownClass = ClassOf(object);
    if (debugHook_ != nullptr)
        TellDebugger(object, throwPc, thrownClass);
    uint16_t pc = throwPc;
    while (!frames_.empty()) {
        const Frame& frame = frames_.back();
        uint16_t handler = FindHandler(frame, pc, thrownClass);
        if (handler != 0) {
            sp_ = frame.operandBase;
            Push(object);
            pc_ = handler;
            return;
        }
        Frame left = frame;
        frames_.pop_back();
        sp_ = left.localsBase;
        if (left.raisesVmError) {
            --raisingFrames_;
            throwOrigin_[object] = left.callPc;
        }
        pc = left.callPc;
    }
    state_ = State::vsUncaught;
    uncaughtClass_ = thrownClass;
    uncaughtPc_ = throwOrigin_[object];
    uint16_t reported = static_cast<uint16_t>(uncaughtPc_ + 1);
    uint8_t report[4] = {static_cast<uint8_t>(thrownClass >> 8), static_cast<uint8_t>(thrownClass),
                         static_cast<uint8_t>(reported >> 8), static_cast<uint8_t>(reported)};
    link_.SendMessage(4, report, sizeof report);
    link_.SendMessage(5, nullptr, 0);
}

uint16_t MoxVm::FindHandler(const Frame& frame, uint16_t pc, uint16_t thrownClass) const
{
    if ((memory_->Read8(frame.slot) & kHasHandlers) == 0)
        return 0;
    uint32_t table = memory_->Read16(frame.slot + 5u);
    uint32_t count = memory_->Read8(table);
    // start and end are stored one above the Java values: the firmware
    // compares them with the pc after the opcode byte, so do we.
    uint32_t after = pc + 1u;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = table + 1 + 8 * i;
        uint16_t start = memory_->Read16(entry);
        uint16_t end = memory_->Read16(entry + 2);
        uint16_t catchType = memory_->Read16(entry + 4);
        uint16_t handler = memory_->Read16(entry + 6);
        if (start <= after && after < end && IsSubclass(thrownClass, catchType))
            return handler;
    }
    return 0;
}

bool MoxVm::IsSubclass(uint16_t classRecord, uint16_t ancestor) const
{
    uint32_t at = classRecord;
    for (int depth = 0; depth < kMaxClassDepth; ++depth) {
        if (at == ancestor)
            return true;
        if (at == 0xFFFF)
            return false;
        if (at < MoxHeader::kSize || at + 3 > memory_->ProgramEnd())
            throw VmFault{VmFaultCode::vfBadClass, at};
        at = memory_->Read16(at);
    }
    throw VmFault{VmFaultCode::vfBadClass, classRecord};
}
