// Command set 1, VirtualMachine: the program's classes, its one thread,
// sizes, capabilities, suspend, resume, dispose and exit.

#include "jdwp/JdwpCommands.h"

#include "image/DebugInfo.h"

namespace jdwp {

namespace {

constexpr int32_t kIdBytes = 8;

uint16_t Version(JdwpSession&, PacketReader&, PacketWriter& out)
{
    out.String("MorvaneDirect module simulator: a Morvane module's virtual machine, 16-bit int");
    // 1.8: the protocol this server speaks (no modules, no virtual threads).
    out.I32(1);
    out.I32(8);
    out.String("1.8.0");
    out.String("Morvane module simulator");
    return erNone;
}

void WriteClass(PacketWriter& out, const DebugClass& c, bool withSignature, bool withGeneric)
{
    out.U8(ttClass);
    out.Id(c.record);
    if (withSignature)
        out.String(c.signature);
    if (withGeneric)
        out.String("");
    out.I32(kClassReady);
}

uint16_t ClassesBySignature(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    std::string signature = in.String();
    if (in.Failed())
        return kMalformed;
    int32_t count = 0;
    PacketWriter list;
    for (const DebugClass& c : session.Info().classes) {
        if (c.signature == signature) {
            WriteClass(list, c, false, false);
            ++count;
        }
    }
    out.I32(count);
    for (uint8_t byte : list.Bytes())
        out.U8(byte);
    return erNone;
}

uint16_t AllClassesOf(JdwpSession& session, PacketWriter& out, bool withGeneric)
{
    out.I32(static_cast<int32_t>(session.Info().classes.size()));
    for (const DebugClass& c : session.Info().classes)
        WriteClass(out, c, true, withGeneric);
    return erNone;
}

uint16_t AllClasses(JdwpSession& session, PacketReader&, PacketWriter& out) { return AllClassesOf(session, out, false); }
uint16_t AllClassesWithGeneric(JdwpSession& session, PacketReader&, PacketWriter& out)
{
    return AllClassesOf(session, out, true);
}

uint16_t AllThreads(JdwpSession&, PacketReader&, PacketWriter& out)
{
    out.I32(1);
    out.Id(kThreadId);
    return erNone;
}

uint16_t TopLevelThreadGroups(JdwpSession&, PacketReader&, PacketWriter& out)
{
    out.I32(1);
    out.Id(kThreadGroupId);
    return erNone;
}

uint16_t Dispose(JdwpSession& session, PacketReader&, PacketWriter&)
{
    session.Dispose();
    return erNone;
}

uint16_t IdSizes(JdwpSession&, PacketReader&, PacketWriter& out)
{
    for (int i = 0; i < 5; ++i) // field, method, object, reference type, frame
        out.I32(kIdBytes);
    return erNone;
}

uint16_t Suspend(JdwpSession& session, PacketReader&, PacketWriter&)
{
    session.Suspend();
    return erNone;
}

uint16_t Resume(JdwpSession& session, PacketReader&, PacketWriter&)
{
    session.Resume();
    return erNone;
}

uint16_t Exit(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    in.I32();
    if (in.Failed())
        return kMalformed;
    session.RequestExit();
    return erNone;
}

uint16_t Capabilities(JdwpSession&, PacketReader&, PacketWriter& out)
{
    for (int i = 0; i < 7; ++i)
        out.Bool(false);
    return erNone;
}

uint16_t CapabilitiesNew(JdwpSession&, PacketReader&, PacketWriter& out)
{
    // Only the VM death request (index 13) among the 32.
    for (int i = 0; i < 32; ++i)
        out.Bool(i == 13);
    return erNone;
}

uint16_t ClassPaths(JdwpSession&, PacketReader&, PacketWriter& out)
{
    out.String(".");
    out.I32(0);
    out.I32(0);
    return erNone;
}

uint16_t DisposeObjects(JdwpSession&, PacketReader& in, PacketWriter&)
{
    int32_t count = in.I32();
    for (int32_t i = 0; i < count && !in.Failed(); ++i) {
        in.Id();
        in.I32();
    }
    return in.Failed() ? kMalformed : static_cast<uint16_t>(erNone);
}

uint16_t Accept(JdwpSession&, PacketReader&, PacketWriter&) { return erNone; }

uint16_t SetDefaultStratum(JdwpSession&, PacketReader& in, PacketWriter&)
{
    in.String();
    return in.Failed() ? kMalformed : static_cast<uint16_t>(erNone);
}

} // namespace

const CommandEntry kVirtualMachineCommands[] = {
    {1, Version},
    {2, ClassesBySignature},
    {3, AllClasses},
    {4, AllThreads},
    {5, TopLevelThreadGroups},
    {6, Dispose},
    {7, IdSizes},
    {8, Suspend},
    {9, Resume},
    {10, Exit},
    {12, Capabilities},
    {13, ClassPaths},
    {14, DisposeObjects},
    {15, Accept}, // HoldEvents: events are only sent between commands anyway
    {16, Accept}, // ReleaseEvents
    {17, CapabilitiesNew},
    {19, SetDefaultStratum},
    {20, AllClassesWithGeneric},
    {0, nullptr},
};

} // namespace jdwp
