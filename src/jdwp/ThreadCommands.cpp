// Command sets 11, 12 and 16: the one thread `main`, its group, and its
// frames with their locals.

#include "jdwp/JdwpCommands.h"

#include "image/DebugInfo.h"
#include "sim/MoxVm.h"

namespace jdwp {

namespace {

constexpr int32_t kThreadRunning = 1;
constexpr int32_t kThreadZombie = 0;
constexpr int32_t kSuspendedFlag = 1;

uint16_t ReadThread(PacketReader& in)
{
    uint64_t id = in.Id();
    if (in.Failed())
        return kMalformed;
    return id == kThreadId ? erNone : erInvalidThread;
}

uint16_t Name(JdwpSession&, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadThread(in))
        return error;
    out.String("main");
    return erNone;
}

uint16_t Suspend(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    if (uint16_t error = ReadThread(in))
        return error;
    session.Suspend();
    return erNone;
}

uint16_t Resume(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    if (uint16_t error = ReadThread(in))
        return error;
    session.Resume();
    return erNone;
}

uint16_t Status(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadThread(in))
        return error;
    out.I32(session.Vm().Stopped() ? kThreadZombie : kThreadRunning);
    out.I32(session.Suspended() ? kSuspendedFlag : 0);
    return erNone;
}

uint16_t ThreadGroup(JdwpSession&, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadThread(in))
        return error;
    out.Id(kThreadGroupId);
    return erNone;
}

uint16_t Frames(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    uint16_t error = ReadThread(in);
    int32_t start = in.I32();
    int32_t length = in.I32();
    if (in.Failed())
        return kMalformed;
    if (error != erNone)
        return error;
    if (!session.Suspended())
        return erThreadNotSuspended;
    std::vector<JdwpSession::FrameInfo> frames = session.CurrentFrames();
    const int32_t total = static_cast<int32_t>(frames.size());
    if (start < 0 || start > total)
        return erInvalidIndex;
    if (length == -1)
        length = total - start;
    if (length < 0 || length > total - start)
        return erInvalidLength;
    out.I32(length);
    for (int32_t i = start; i < start + length; ++i) {
        const JdwpSession::FrameInfo& frame = frames[static_cast<size_t>(i)];
        out.Id(frame.id);
        Location location = session.LocationOfPc(frame.pc);
        WriteLocation(out, location);
    }
    return erNone;
}

uint16_t FrameCount(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadThread(in))
        return error;
    if (!session.Suspended())
        return erThreadNotSuspended;
    out.I32(static_cast<int32_t>(session.CurrentFrames().size()));
    return erNone;
}

uint16_t SuspendCount(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadThread(in))
        return error;
    out.I32(session.SuspendCount());
    return erNone;
}

uint16_t IsVirtual(JdwpSession&, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadThread(in))
        return error;
    out.Bool(false);
    return erNone;
}

uint16_t ReadGroup(PacketReader& in)
{
    uint64_t id = in.Id();
    if (in.Failed())
        return kMalformed;
    return id == kThreadGroupId ? erNone : erInvalidThreadGroup;
}

uint16_t GroupName(JdwpSession&, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadGroup(in))
        return error;
    out.String("main");
    return erNone;
}

uint16_t GroupParent(JdwpSession&, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadGroup(in))
        return error;
    out.Id(0);
    return erNone;
}

uint16_t GroupChildren(JdwpSession&, PacketReader& in, PacketWriter& out)
{
    if (uint16_t error = ReadGroup(in))
        return error;
    out.I32(1);
    out.Id(kThreadId);
    out.I32(0);
    return erNone;
}

// The frame a (thread, frame) pair names, while the thread is suspended.
uint16_t ReadFrame(JdwpSession& session, PacketReader& in, JdwpSession::FrameInfo& frame)
{
    uint16_t error = ReadThread(in);
    uint64_t id = in.Id();
    if (in.Failed())
        return kMalformed;
    if (error != erNone)
        return error;
    if (!session.Suspended())
        return erThreadNotSuspended;
    for (const JdwpSession::FrameInfo& candidate : session.CurrentFrames()) {
        if (candidate.id == id) {
            frame = candidate;
            return erNone;
        }
    }
    return erInvalidFrameId;
}

uint16_t GetValues(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    JdwpSession::FrameInfo frame{};
    uint16_t error = ReadFrame(session, in, frame);
    int32_t count = in.I32();
    std::vector<std::pair<int32_t, char>> slots;
    for (int32_t i = 0; i < count && !in.Failed(); ++i) {
        int32_t slot = in.I32();
        char tag = static_cast<char>(in.U8());
        slots.emplace_back(slot, tag);
    }
    if (in.Failed())
        return kMalformed;
    if (error != erNone)
        return error;
    out.I32(count);
    for (const auto& [slot, tag] : slots) {
        if (slot < 0 || slot >= frame.localsCount)
            return erInvalidSlot;
        uint16_t word = session.Vm().Memory()->Read16(frame.localsBase + 2u * static_cast<uint32_t>(slot));
        // The variable table gives the type; an array's element type comes
        // from its signature there, which the tag alone does not carry.
        std::string signature(1, tag == 's' ? 'L' : tag);
        if (tag == '[' && frame.method != nullptr) {
            uint32_t index = frame.pc - frame.method->codeOffset;
            for (const DebugLocal& local : frame.method->locals)
                if (local.slot == slot && local.start <= index && index <= local.start + local.length)
                    signature = local.signature;
        }
        session.WriteValue(out, signature, word, true);
    }
    return erNone;
}

uint16_t SetValues(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    JdwpSession::FrameInfo frame{};
    uint16_t error = ReadFrame(session, in, frame);
    int32_t count = in.I32();
    std::vector<std::pair<int32_t, uint16_t>> writes;
    bool supported = true;
    for (int32_t i = 0; i < count && !in.Failed(); ++i) {
        int32_t slot = in.I32();
        char tag = static_cast<char>(in.U8());
        uint16_t word = 0;
        supported = JdwpSession::ReadValue(in, tag, word) && supported;
        writes.emplace_back(slot, word);
    }
    if (in.Failed())
        return kMalformed;
    if (error != erNone)
        return error;
    if (!supported)
        return erTypeMismatch;
    for (const auto& [slot, word] : writes)
        if (slot < 0 || slot >= frame.localsCount)
            return erInvalidSlot;
    for (const auto& [slot, word] : writes)
        session.Vm().DebugMemory()->Write16(frame.localsBase + 2u * static_cast<uint32_t>(slot), word);
    return erNone;
}

uint16_t ThisObject(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    JdwpSession::FrameInfo frame{};
    if (uint16_t error = ReadFrame(session, in, frame))
        return error;
    constexpr uint16_t kStatic = 0x0008;
    if (frame.method == nullptr || (frame.method->modifiers & kStatic) != 0 || frame.localsCount == 0) {
        out.U8('L');
        out.Id(0);
        return erNone;
    }
    uint16_t self = session.Vm().Memory()->Read16(frame.localsBase);
    out.U8(static_cast<uint8_t>(session.ObjectTag(self, "")));
    out.Id(self);
    return erNone;
}

} // namespace

const CommandEntry kThreadReferenceCommands[] = {
    {1, Name},
    {2, Suspend},
    {3, Resume},
    {4, Status},
    {5, ThreadGroup},
    {6, Frames},
    {7, FrameCount},
    {12, SuspendCount},
    {15, IsVirtual},
    {0, nullptr},
};

const CommandEntry kThreadGroupReferenceCommands[] = {
    {1, GroupName},
    {2, GroupParent},
    {3, GroupChildren},
    {0, nullptr},
};

const CommandEntry kStackFrameCommands[] = {
    {1, GetValues},
    {2, SetValues},
    {3, ThisObject},
    {0, nullptr},
};

} // namespace jdwp
