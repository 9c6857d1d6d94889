// Events: which requests an event meets (the filters of their modifiers),
// when a step is complete, and the composite packets that report them.

#include "jdwp/JdwpSession.h"

#include "image/DebugInfo.h"
#include "sim/MoxVm.h"

#include <algorithm>

namespace jdwp {

namespace {

constexpr uint8_t kCompositeCommand = 100;

// A class pattern: a dotted name, or one that begins or ends with '*'.
bool PatternMatches(const std::string& pattern, const std::string& dotted)
{
    if (!pattern.empty() && pattern.front() == '*')
        return dotted.size() >= pattern.size() - 1 &&
               dotted.compare(dotted.size() - (pattern.size() - 1), pattern.size() - 1, pattern, 1) == 0;
    if (!pattern.empty() && pattern.back() == '*')
        return dotted.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return pattern == dotted;
}

std::string Dotted(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '.');
    return name;
}

} // namespace

void JdwpSession::SendEvents(uint8_t policy, const PacketWriter& events, int32_t count)
{
    PacketWriter data;
    data.U8(policy);
    data.I32(count);
    std::vector<uint8_t> bytes = events.Bytes();
    PacketWriter packet = data;
    for (uint8_t byte : bytes)
        packet.U8(byte);
    AppendCommand(output_, nextEventId_++, csEvent, kCompositeCommand, packet);
    if (policy != spNone)
        Suspend();
}

bool JdwpSession::VmStarted()
{
    // Sent without a request, suspending: the program waits before its first
    // instruction, as a JVM started to wait for its debugger does.
    PacketWriter events;
    events.U8(ekVmStart);
    events.I32(0);
    events.Id(kThreadId);
    SendEvents(spAll, events, 1);
    return Suspended();
}

void JdwpSession::VmDied()
{
    PacketWriter events;
    int32_t count = 1;
    events.U8(ekVmDeath);
    events.I32(0);
    for (const EventRequest& request : requests_) {
        if (request.kind == ekVmDeath) {
            events.U8(ekVmDeath);
            events.I32(request.id);
            ++count;
        }
    }
    SendEvents(spNone, events, count);
}

bool JdwpSession::Matches(EventRequest& request, uint32_t pc, int32_t classIndex)
{
    if (request.expired)
        return false;
    std::string dotted = classIndex >= 0 ? Dotted(info_.classes[static_cast<size_t>(classIndex)].name) : std::string();
    for (const std::string& pattern : request.classMatch)
        if (!PatternMatches(pattern, dotted))
            return false;
    for (const std::string& pattern : request.classExclude)
        if (PatternMatches(pattern, dotted))
            return false;
    if (request.classOnly) {
        int32_t only = info_.ClassIndexAtRecord(static_cast<uint32_t>(request.classOnlyId));
        if (only < 0 || !info_.IsSubclass(classIndex, only))
            return false;
    }
    if (request.hasLocation && request.locationPc != pc)
        return false;
    if (request.count > 0) {
        // Reported on the count-th time only, then never again.
        if (--request.count > 0)
            return false;
        request.expired = true;
    }
    return true;
}

bool JdwpSession::StepCompleted(const EventRequest& request, uint32_t pc) const
{
    DebugMethodRef ref = info_.MethodAtPc(pc);
    const DebugMethod* method = info_.Method(ref);
    if (method == nullptr)
        return false;
    size_t depth = vm_.Frames().size();
    int32_t line = method->LineAt(pc - method->codeOffset);
    if (request.stepSize == ssLine && line < 0)
        return false; // no lines here: go on until code with lines
    if (depth < request.stepFrames)
        return true; // returned (or unwound) past the step's frame
    if (depth > request.stepFrames)
        return request.stepDepth == sdInto;
    if (request.stepDepth == sdOut)
        return false;
    if (request.stepSize == ssMin)
        return pc != request.stepPc;
    return method->slot != request.stepMethod || line != request.stepLine;
}

bool JdwpSession::AtInstruction(uint32_t pc)
{
    Location location = LocationOfPc(pc);
    int32_t classIndex = info_.ClassIndexAtRecord(static_cast<uint32_t>(location.classId));
    PacketWriter events;
    int32_t count = 0;
    uint8_t policy = spNone;
    for (EventRequest& request : requests_) {
        if (request.kind == ekBreakpoint) {
            if (!Matches(request, pc, classIndex))
                continue;
        } else if (request.kind == ekSingleStep) {
            if (request.expired || !StepCompleted(request, pc) || !Matches(request, pc, classIndex))
                continue;
        } else {
            continue;
        }
        events.U8(request.kind);
        events.I32(request.id);
        events.Id(kThreadId);
        WriteLocation(events, location);
        policy = std::max(policy, request.suspendPolicy);
        ++count;
    }
    if (count == 0)
        return false;
    SendEvents(policy, events, count);
    SyncMachine();
    return Suspended();
}

bool JdwpSession::ExceptionThrown(uint16_t object, uint32_t originPc, uint32_t catchPc)
{
    Location location = LocationOfPc(originPc);
    int32_t throwingClass = info_.ClassIndexAtRecord(static_cast<uint32_t>(location.classId));
    int32_t exceptionClass = info_.ClassIndexAtRecord(vm_.Memory()->Read16(object));
    PacketWriter events;
    int32_t count = 0;
    uint8_t policy = spNone;
    for (EventRequest& request : requests_) {
        if (request.kind != ekException)
            continue;
        if (request.exceptionOnly) {
            if (catchPc != 0 ? !request.caught : !request.uncaught)
                continue;
            if (request.exceptionClass != 0) {
                int32_t wanted = info_.ClassIndexAtRecord(static_cast<uint32_t>(request.exceptionClass));
                if (wanted < 0 || !info_.IsSubclass(exceptionClass, wanted))
                    continue;
            }
        }
        if (!Matches(request, originPc, throwingClass))
            continue;
        events.U8(ekException);
        events.I32(request.id);
        events.Id(kThreadId);
        WriteLocation(events, location);
        events.U8(static_cast<uint8_t>(ObjectTag(object, "")));
        events.Id(object);
        WriteLocation(events, catchPc != 0 ? LocationOfPc(catchPc) : Location{});
        policy = std::max(policy, request.suspendPolicy);
        ++count;
    }
    if (count == 0)
        return false;
    SendEvents(policy, events, count);
    SyncMachine();
    return Suspended();
}

void JdwpSession::SyncMachine()
{
    vm_.ClearBreakpoints();
    bool stepping = false;
    for (const EventRequest& request : requests_) {
        if (request.expired)
            continue;
        if (request.kind == ekBreakpoint && request.hasLocation)
            vm_.SetBreakpoint(request.locationPc, true);
        if (request.kind == ekSingleStep)
            stepping = true;
    }
    vm_.SetStepping(stepping);
}

} // namespace jdwp
