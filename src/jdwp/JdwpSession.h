#pragma once

#include "jdwp/JdwpConstants.h"
#include "jdwp/JdwpPacket.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MoxVm;
class ProgramDebugInfo;
struct DebugClass;
struct DebugMethod;
struct DebugField;

namespace jdwp {

struct Location {
    uint8_t typeTag = 0;
    uint64_t classId = 0;
    uint64_t methodId = 0;
    uint64_t index = 0;
};

// One event request the debugger set, with the modifiers that filter it.
struct EventRequest {
    int32_t id = 0;
    uint8_t kind = 0;
    uint8_t suspendPolicy = spNone;
    int32_t count = 0; // 0: no count modifier
    std::vector<std::string> classMatch, classExclude;
    bool classOnly = false;
    uint64_t classOnlyId = 0;
    bool hasLocation = false;
    uint32_t locationPc = 0; // image offset
    bool exceptionOnly = false;
    uint64_t exceptionClass = 0; // 0: any
    bool caught = true, uncaught = true;
    bool isStep = false;
    int32_t stepSize = ssLine, stepDepth = sdOver;
    size_t stepFrames = 0; // depth when the step began
    uint32_t stepPc = 0;
    uint64_t stepMethod = 0;
    int32_t stepLine = -1;
    bool expired = false;
};

// One debugger connection's protocol state over the machine: the handshake,
// packets in and out, the dispatch of commands, event requests and the
// events they let through. It does no I/O; the server feeds it bytes and
// sends what it queues.
class JdwpSession {
public:
    JdwpSession(MoxVm& vm, const ProgramDebugInfo& info);

    // Takes bytes from the debugger and answers what they complete. False
    // when the connection must close; Problem() then says why.
    bool Receive(const uint8_t* data, size_t size);
    std::vector<uint8_t>& Output() { return output_; }
    const std::string& Problem() const { return problem_; }
    bool HandshakeDone() const { return handshakeDone_; }

    bool Suspended() const { return suspendCount_ > 0; }
    bool Disposed() const { return disposed_; }
    bool ExitRequested() const { return exitRequested_; }

    // Events. Each returns true when the machine is now suspended.
    bool VmStarted();
    void VmDied();
    bool AtInstruction(uint32_t pc);
    bool ExceptionThrown(uint16_t object, uint32_t originPc, uint32_t catchPc);

    // Everything a command-set handler needs.
    MoxVm& Vm() { return vm_; }
    const ProgramDebugInfo& Info() const { return info_; }
    void Suspend() { ++suspendCount_; }
    void Resume()
    {
        if (suspendCount_ > 0)
            --suspendCount_;
    }
    void ResumeAll() { suspendCount_ = 0; }
    int32_t SuspendCount() const { return suspendCount_; }
    void Dispose();
    void RequestExit() { exitRequested_ = true; }

    // Ids.
    const DebugClass* ClassOfId(uint64_t refType) const;
    bool IsArrayType(uint64_t refType) const
    {
        return refType >= kArrayTypeBase && refType - kArrayTypeBase < arrayTypes_.size();
    }
    const std::string& ArraySignature(uint64_t refType) const { return arrayTypes_[refType - kArrayTypeBase]; }
    uint64_t ArrayTypeId(const std::string& signature);
    const DebugMethod* MethodOfId(uint64_t refType, uint64_t methodId) const;
    const DebugField* FieldOfId(uint64_t fieldId, int32_t* classIndex = nullptr) const;
    static uint64_t FieldId(int32_t classIndex, size_t fieldIndex) { return (uint64_t(classIndex) << 16) | (fieldIndex + 1); }
    // An object the machine holds: a non-zero address whose first word is a
    // class record. Arrays hold Object's record.
    bool IsObject(uint64_t id) const;
    // The signature of an array the debugger was shown, or empty.
    std::string ArrayOf(uint64_t id) const;
    // The reference type id of an object (its array type for a known array).
    uint64_t TypeOfObject(uint64_t id);
    Location LocationOfPc(uint32_t pc) const;
    uint32_t PcOfLocation(uint64_t methodId, uint64_t index, bool& valid) const;

    // Values. A word of the machine as a value of `signature`'s type.
    void WriteValue(PacketWriter& out, const std::string& signature, uint16_t word, bool tagged);
    void WriteByteValue(PacketWriter& out, char type, uint8_t byte, bool tagged);
    // Reads a value of `type` (a tag) from the debugger as a machine word;
    // false for a type the machine cannot hold.
    static bool ReadValue(PacketReader& in, char type, uint16_t& word);
    // The tag an object value carries: a string's, an array's or an object's.
    char ObjectTag(uint16_t address, const std::string& signature);
    void NoteArray(uint16_t address, const std::string& signature);
    std::string StringText(uint16_t address) const;

    EventRequest* FindRequest(int32_t id);
    std::vector<EventRequest>& Requests() { return requests_; }
    int32_t NextRequestId() { return ++lastRequestId_; }
    // Puts breakpoints and stepping of the machine in line with the requests.
    void SyncMachine();

    // Current frames, top first, and the location each is at.
    struct FrameInfo {
        uint64_t id;
        uint32_t pc;
        uint64_t methodId;
        const DebugMethod* method;
        uint16_t localsBase;
        uint16_t localsCount;
    };
    std::vector<FrameInfo> CurrentFrames() const;

private:
    bool HandlePacket(const uint8_t* packet, uint32_t length);
    void SendEvents(uint8_t policy, const PacketWriter& events, int32_t count);
    bool Matches(EventRequest& request, uint32_t pc, int32_t classIndex);
    bool StepCompleted(const EventRequest& request, uint32_t pc) const;

    MoxVm& vm_;
    const ProgramDebugInfo& info_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> output_;
    std::string problem_;
    bool handshakeDone_ = false;
    bool disposed_ = false;
    bool exitRequested_ = false;
    int32_t suspendCount_ = 0;
    uint32_t nextEventId_ = 0x40000000;
    int32_t lastRequestId_ = 0;
    std::vector<EventRequest> requests_;
    std::vector<std::string> arrayTypes_;
    std::map<uint16_t, std::string> arrays_;
};

// A handler's answer when its packet ended before its fields did: the
// connection closes.
constexpr uint16_t kMalformed = 0xFFFF;

// One handler per command: it reads everything it needs from `in` before it
// changes anything, and answers an error code (erNone with `out` filled).
using Handler = uint16_t (*)(JdwpSession& session, PacketReader& in, PacketWriter& out);

// The dispatch table: null for a command this server does not know.
Handler FindHandler(uint8_t commandSet, uint8_t command);

void WriteLocation(PacketWriter& out, const Location& location);

} // namespace jdwp
