// Command set 15, EventRequest: requests with their modifiers, cleared one
// by one or all breakpoints at once.

#include "jdwp/JdwpCommands.h"

#include "image/DebugInfo.h"
#include "sim/MoxVm.h"

namespace jdwp {

namespace {

enum Modifier : uint8_t {
    mkCount = 1,
    mkConditional = 2,
    mkThreadOnly = 3,
    mkClassOnly = 4,
    mkClassMatch = 5,
    mkClassExclude = 6,
    mkLocationOnly = 7,
    mkExceptionOnly = 8,
    mkFieldOnly = 9,
    mkStep = 10,
    mkInstanceOnly = 11,
    mkSourceNameMatch = 12,
};

bool KindSupported(uint8_t kind)
{
    switch (kind) {
    case ekSingleStep: case ekBreakpoint: case ekException: case ekThreadStart: case ekThreadDeath:
    case ekClassPrepare: case ekClassUnload: case ekVmDeath:
        return true;
    default:
        return false;
    }
}

uint16_t Set(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    EventRequest request;
    request.kind = in.U8();
    request.suspendPolicy = in.U8();
    int32_t modifiers = in.I32();
    uint16_t error = erNone;
    Location location;
    for (int32_t i = 0; i < modifiers && !in.Failed(); ++i) {
        uint8_t modifier = in.U8();
        switch (modifier) {
        case mkCount: request.count = in.I32(); if (request.count <= 0) error = erIllegalArgument; break;
        case mkConditional: in.I32(); error = erNotImplemented; break;
        case mkThreadOnly: if (in.Id() != kThreadId) error = erInvalidThread; break;
        case mkClassOnly:
            request.classOnly = true;
            request.classOnlyId = in.Id();
            if (session.ClassOfId(request.classOnlyId) == nullptr)
                error = erInvalidClass;
            break;
        case mkClassMatch: request.classMatch.push_back(in.String()); break;
        case mkClassExclude: request.classExclude.push_back(in.String()); break;
        case mkLocationOnly:
            location.typeTag = in.U8();
            location.classId = in.Id();
            location.methodId = in.Id();
            location.index = in.U64();
            request.hasLocation = true;
            break;
        case mkExceptionOnly:
            request.exceptionOnly = true;
            request.exceptionClass = in.Id();
            request.caught = in.Bool();
            request.uncaught = in.Bool();
            if (request.exceptionClass != 0 && session.ClassOfId(request.exceptionClass) == nullptr)
                error = erInvalidClass;
            break;
        case mkFieldOnly: in.Id(); in.Id(); error = erNotImplemented; break;
        case mkStep:
            request.isStep = true;
            if (in.Id() != kThreadId)
                error = erInvalidThread;
            request.stepSize = in.I32();
            request.stepDepth = in.I32();
            break;
        case mkInstanceOnly: in.Id(); error = erNotImplemented; break;
        case mkSourceNameMatch: in.String(); error = erNotImplemented; break;
        default:
            // Its fields are unknown, so nothing after it can be read.
            return erNotImplemented;
        }
    }
    if (in.Failed())
        return kMalformed;
    if (error != erNone)
        return error;
    if (!KindSupported(request.kind))
        return erInvalidEventType;
    if (request.suspendPolicy > spAll)
        return erIllegalArgument;
    if (request.hasLocation) {
        bool valid = false;
        if (session.ClassOfId(location.classId) == nullptr)
            return erInvalidClass;
        request.locationPc = session.PcOfLocation(location.methodId, location.index, valid);
        if (!valid || session.MethodOfId(location.classId, location.methodId) == nullptr)
            return erInvalidLocation;
    }
    if (request.kind == ekBreakpoint && !request.hasLocation)
        return erIllegalArgument;
    if (request.kind == ekSingleStep) {
        if (!request.isStep || request.stepSize < ssMin || request.stepSize > ssLine || request.stepDepth < sdInto ||
            request.stepDepth > sdOut)
            return erIllegalArgument;
        if (!session.Suspended())
            return erThreadNotSuspended;
        std::vector<JdwpSession::FrameInfo> frames = session.CurrentFrames();
        if (frames.empty())
            return erInvalidThread;
        request.stepFrames = frames.size();
        request.stepPc = frames.front().pc;
        request.stepMethod = frames.front().methodId;
        const DebugMethod* method = frames.front().method;
        request.stepLine = method != nullptr ? method->LineAt(request.stepPc - method->codeOffset) : -1;
    }
    request.id = session.NextRequestId();
    session.Requests().push_back(request);
    session.SyncMachine();
    out.I32(request.id);
    return erNone;
}

uint16_t Clear(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    uint8_t kind = in.U8();
    int32_t id = in.I32();
    if (in.Failed())
        return kMalformed;
    std::vector<EventRequest>& requests = session.Requests();
    for (size_t i = 0; i < requests.size(); ++i) {
        if (requests[i].id == id && requests[i].kind == kind) {
            requests.erase(requests.begin() + static_cast<long>(i));
            break;
        }
    }
    // An unknown id is no error: the request may have expired.
    session.SyncMachine();
    return erNone;
}

uint16_t ClearAllBreakpoints(JdwpSession& session, PacketReader&, PacketWriter&)
{
    std::vector<EventRequest>& requests = session.Requests();
    std::erase_if(requests, [](const EventRequest& request) { return request.kind == ekBreakpoint; });
    session.SyncMachine();
    return erNone;
}

} // namespace

const CommandEntry kEventRequestCommands[] = {
    {1, Set},
    {2, Clear},
    {3, ClearAllBreakpoints},
    {0, nullptr},
};

} // namespace jdwp
