// What a debugger sees of the machine: frames, a breakpoint map, a hook.
// The plain run loop stays free of all of it; a debugger's run goes through
// RunWatched.

#include "sim/MoxVm.h"

void MoxVm::SetBreakpoint(uint32_t pc, bool set)
{
    if (!memory_ || pc >= memory_->ProgramEnd())
        return;
    if (breakpoints_.size() != memory_->ProgramEnd())
        breakpoints_.assign(memory_->ProgramEnd(), 0);
    breakpoints_[pc] = set ? 1 : 0;
}

MoxVm::State MoxVm::RunWatched(uint64_t maxInstructions, int64_t untilUs)
{
    try {
        for (uint64_t n = 0; n < maxInstructions && state_ == State::vsRunning && nowUs_ < untilUs; ++n) {
            if (debugHook_ != nullptr && (stepping_ || (pc_ < breakpoints_.size() && breakpoints_[pc_] != 0))) {
                debugHook_->AtInstruction(pc_);
                if (state_ != State::vsRunning)
                    break;
            }
            nowUs_ += kInstructionUs;
            ++instructions_;
            try {
                Execute();
            } catch (const VmErrorRaised& error) {
                RaiseVmError(error.code);
            }
        }
    } catch (const VmFault& fault) {
        Halt(fault);
    }
    return state_;
}

std::vector<MoxVm::FrameView> MoxVm::Frames() const
{
    std::vector<FrameView> views;
    if (Stopped())
        return views;
    views.reserve(frames_.size());
    for (size_t i = 0; i < frames_.size(); ++i) {
        const Frame& frame = frames_[i];
        uint32_t pc = i + 1 < frames_.size() ? frames_[i + 1].callPc
                                              : (throwingPc_ >= 0 ? static_cast<uint32_t>(throwingPc_) : pc_);
        views.push_back(FrameView{frame.slot, pc, frame.localsBase, frame.localsCount});
    }
    return views;
}

void MoxVm::TellDebugger(uint16_t object, uint16_t throwPc, uint16_t thrownClass)
{
    // Where it will be caught, found as the unwinding will find it, before
    // anything is unwound, so that the debugger sees the throwing frame.
    uint32_t catchPc = 0;
    uint16_t pc = throwPc;
    for (size_t i = frames_.size(); i > 0 && catchPc == 0; --i) {
        const Frame& frame = frames_[i - 1];
        catchPc = FindHandler(frame, pc, thrownClass);
        pc = frame.callPc;
    }
    uint32_t originPc = throwOrigin_.count(object) != 0 ? throwOrigin_[object] : throwPc;
    throwingPc_ = throwPc;
    debugHook_->ExceptionThrown(object, originPc, catchPc);
    throwingPc_ = -1;
}

void MoxVm::Terminate()
{
    if (Stopped())
        return;
    frames_.clear();
    state_ = State::vsEnded;
    link_.SendMessage(5, nullptr, 0);
}
