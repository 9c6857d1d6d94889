// The connection's protocol state: handshake, packet framing and dispatch,
// ids and values. Events and their filters are in JdwpEvents.cpp, the
// commands in one file per command set.

#include "jdwp/JdwpSession.h"

#include "image/DebugInfo.h"
#include "sim/MoxVm.h"

#include <cstring>

namespace jdwp {

JdwpSession::JdwpSession(MoxVm& vm, const ProgramDebugInfo& info) : vm_(vm), info_(info) {}

bool JdwpSession::Receive(const uint8_t* data, size_t size)
{
    input_.insert(input_.end(), data, data + size);
    if (!handshakeDone_) {
        if (input_.size() < kHandshakeBytes)
            return std::memcmp(input_.data(), kHandshake, input_.size()) == 0 || (problem_ = "no handshake", false);
        if (std::memcmp(input_.data(), kHandshake, kHandshakeBytes) != 0) {
            problem_ = "the debugger's handshake was wrong";
            return false;
        }
        output_.insert(output_.end(), kHandshake, kHandshake + kHandshakeBytes);
        input_.erase(input_.begin(), input_.begin() + static_cast<long>(kHandshakeBytes));
        handshakeDone_ = true;
    }
    while (input_.size() >= kHeaderBytes) {
        CommandHeader header = ReadHeader(input_.data());
        if (header.length < kHeaderBytes || header.length > kMaxPacketBytes) {
            problem_ = "a packet's length (" + std::to_string(header.length) + ") is out of range";
            return false;
        }
        if (input_.size() < header.length)
            break;
        bool keep = HandlePacket(input_.data(), header.length);
        input_.erase(input_.begin(), input_.begin() + header.length);
        if (!keep)
            return false;
    }
    return true;
}

bool JdwpSession::HandlePacket(const uint8_t* packet, uint32_t length)
{
    CommandHeader header = ReadHeader(packet);
    if ((header.flags & kReplyFlag) != 0)
        return true; // a reply to a command of ours: we send only events, which have none
    PacketWriter out;
    Handler handler = FindHandler(header.commandSet, header.command);
    if (handler == nullptr) {
        AppendReply(output_, header.id, erNotImplemented, out);
        return true;
    }
    PacketReader in(packet + kHeaderBytes, length - kHeaderBytes);
    uint16_t error = erNone;
    try {
        error = handler(*this, in, out);
    } catch (const VmFault&) {
        // An address that looked like an object and was not (or a write to
        // the read-only image): the machine refused it, the program goes on.
        error = erInvalidObject;
    }
    if (error == kMalformed || in.Failed()) {
        problem_ = "command " + std::to_string(header.commandSet) + "/" + std::to_string(header.command) +
                   " was shorter than its fields";
        return false;
    }
    AppendReply(output_, header.id, error, error == erNone ? out : PacketWriter{});
    return true;
}

void JdwpSession::Dispose()
{
    requests_.clear();
    suspendCount_ = 0;
    disposed_ = true;
    SyncMachine();
}

const DebugClass* JdwpSession::ClassOfId(uint64_t refType) const
{
    return refType > 0xFFFF ? nullptr : info_.ClassAtRecord(static_cast<uint32_t>(refType));
}

uint64_t JdwpSession::ArrayTypeId(const std::string& signature)
{
    for (size_t i = 0; i < arrayTypes_.size(); ++i)
        if (arrayTypes_[i] == signature)
            return kArrayTypeBase + i;
    arrayTypes_.push_back(signature);
    return kArrayTypeBase + arrayTypes_.size() - 1;
}

const DebugMethod* JdwpSession::MethodOfId(uint64_t refType, uint64_t methodId) const
{
    if (methodId > 0xFFFF)
        return nullptr;
    DebugMethodRef ref = info_.MethodAtSlot(static_cast<uint32_t>(methodId));
    const DebugMethod* method = info_.Method(ref);
    // A method belongs to the class that declares it; an id asked of another
    // class is refused, as a JVM refuses it.
    if (method == nullptr || method->slot != methodId)
        return nullptr;
    if (refType != 0 && info_.ClassIndexAtRecord(static_cast<uint32_t>(refType)) != ref.classIndex)
        return nullptr;
    return method;
}

const DebugField* JdwpSession::FieldOfId(uint64_t fieldId, int32_t* classIndex) const
{
    uint64_t index = fieldId >> 16;
    uint64_t field = fieldId & 0xFFFF;
    if (index >= info_.classes.size() || field == 0 || field > info_.classes[index].fields.size())
        return nullptr;
    if (classIndex != nullptr)
        *classIndex = static_cast<int32_t>(index);
    return &info_.classes[index].fields[field - 1];
}

bool JdwpSession::IsObject(uint64_t id) const
{
    const VmMemory* memory = vm_.Memory();
    if (id == 0 || id > 0xFFFF || memory == nullptr || id + 4 > memory->RamEnd())
        return false;
    uint16_t record = memory->Read16(static_cast<uint32_t>(id));
    return info_.ClassAtRecord(record) != nullptr;
}

std::string JdwpSession::ArrayOf(uint64_t id) const
{
    auto found = arrays_.find(static_cast<uint16_t>(id));
    if (id > 0xFFFF || found == arrays_.end())
        return {};
    // Only while it is still an array: a collected one's place may hold
    // anything since.
    if (vm_.Memory()->Read16(static_cast<uint32_t>(id)) != vm_.Header().objectClass)
        return {};
    return found->second;
}

void JdwpSession::NoteArray(uint16_t address, const std::string& signature)
{
    if (address != 0)
        arrays_[address] = signature;
}

uint64_t JdwpSession::TypeOfObject(uint64_t id)
{
    std::string array = ArrayOf(id);
    if (!array.empty())
        return ArrayTypeId(array);
    return vm_.Memory()->Read16(static_cast<uint32_t>(id));
}

Location JdwpSession::LocationOfPc(uint32_t pc) const
{
    Location location;
    DebugMethodRef ref = info_.MethodAtPc(pc);
    const DebugMethod* method = info_.Method(ref);
    if (method == nullptr)
        return location;
    location.typeTag = ttClass;
    location.classId = info_.classes[static_cast<size_t>(ref.classIndex)].record;
    location.methodId = method->slot;
    location.index = pc - method->codeOffset;
    return location;
}

uint32_t JdwpSession::PcOfLocation(uint64_t methodId, uint64_t index, bool& valid) const
{
    const DebugMethod* method = MethodOfId(0, methodId);
    valid = method != nullptr && method->hasCode && index < method->codeLength;
    return valid ? method->codeOffset + static_cast<uint32_t>(index) : 0;
}

std::vector<JdwpSession::FrameInfo> JdwpSession::CurrentFrames() const
{
    std::vector<FrameInfo> frames;
    std::vector<MoxVm::FrameView> views = vm_.Frames();
    for (size_t i = views.size(); i > 0; --i) {
        const MoxVm::FrameView& view = views[i - 1];
        DebugMethodRef ref = info_.MethodAtSlot(view.slot);
        const DebugMethod* method = info_.Method(ref);
        frames.push_back(FrameInfo{i, view.pc, method != nullptr ? method->slot : 0u, method, view.localsBase,
                                   view.localsCount});
    }
    return frames;
}

char JdwpSession::ObjectTag(uint16_t address, const std::string& signature)
{
    if (!signature.empty() && signature[0] == '[')
        return '[';
    if (address != 0 && vm_.Header().stringClass != 0 && IsObject(address) &&
        vm_.Memory()->Read16(address) == vm_.Header().stringClass)
        return 's';
    return 'L';
}

void JdwpSession::WriteValue(PacketWriter& out, const std::string& signature, uint16_t word, bool tagged)
{
    char type = signature.empty() ? 'I' : signature[0];
    if (type == 'L' || type == '[') {
        char tag = ObjectTag(word, signature);
        if (tag == '[')
            NoteArray(word, signature);
        if (tagged)
            out.U8(static_cast<uint8_t>(tag));
        out.Id(word);
        return;
    }
    if (tagged)
        out.U8(static_cast<uint8_t>(type));
    switch (type) {
    case 'Z': out.Bool(word != 0); break;
    case 'B': out.U8(static_cast<uint8_t>(word)); break;
    case 'C': case 'S': out.U16(word); break;
    case 'J': case 'D': out.U64(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(word)))); break;
    default: out.I32(static_cast<int16_t>(word)); break; // int, float: the module's 16 bits
    }
}

void JdwpSession::WriteByteValue(PacketWriter& out, char type, uint8_t byte, bool tagged)
{
    // Byte-wide array elements: a char or a boolean of the module is 8 bits.
    if (tagged)
        out.U8(static_cast<uint8_t>(type));
    if (type == 'C')
        out.U16(byte);
    else if (type == 'Z')
        out.Bool(byte != 0);
    else
        out.U8(byte);
}

bool JdwpSession::ReadValue(PacketReader& in, char type, uint16_t& word)
{
    switch (type) {
    case 'Z': case 'B': word = in.U8(); if (type == 'B') word = static_cast<uint16_t>(static_cast<int8_t>(word)); return true;
    case 'C': case 'S': word = static_cast<uint16_t>(in.U8() << 8); word = static_cast<uint16_t>(word | in.U8()); return true;
    case 'I': word = static_cast<uint16_t>(in.U32()); return true;
    case 'L': case '[': case 's': case 't': case 'g': case 'l': case 'c': word = static_cast<uint16_t>(in.Id()); return true;
    case 'J': case 'D': in.U64(); return false;
    case 'F': in.U32(); return false;
    default: return false;
    }
}

std::string JdwpSession::StringText(uint16_t address) const
{
    const DebugClass* string = info_.ClassAtRecord(vm_.Header().stringClass);
    if (string == nullptr)
        return {};
    uint32_t countOffset = 0, valueOffset = 0;
    for (const DebugField& field : string->fields) {
        if (field.isStatic)
            continue;
        if (field.name == "count")
            countOffset = field.objectOffset;
        else if (field.name == "value")
            valueOffset = field.objectOffset;
    }
    const VmMemory& memory = *vm_.Memory();
    if (countOffset == 0 || valueOffset == 0)
        return {};
    int16_t count = static_cast<int16_t>(memory.Read16(address + countOffset));
    uint16_t chars = memory.Read16(address + valueOffset);
    if (chars == 0 || count <= 0 || chars + 4u > memory.RamEnd())
        return {};
    int16_t length = static_cast<int16_t>(memory.Read16(chars + 2u));
    std::string text;
    for (int i = 0; i < count && i < length && chars + 4u + static_cast<uint32_t>(i) < memory.RamEnd(); ++i) {
        uint8_t byte = memory.Read8(chars + 4u + static_cast<uint32_t>(i));
        // The module's chars are bytes; the wire wants modified UTF-8.
        if (byte < 0x80 && byte != 0) {
            text.push_back(static_cast<char>(byte));
        } else {
            text.push_back(static_cast<char>(0xC0 | byte >> 6));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

EventRequest* JdwpSession::FindRequest(int32_t id)
{
    for (EventRequest& request : requests_)
        if (request.id == id)
            return &request;
    return nullptr;
}

void WriteLocation(PacketWriter& out, const Location& location)
{
    out.U8(location.typeTag);
    out.Id(location.classId);
    out.Id(location.methodId);
    out.U64(location.index);
}

} // namespace jdwp
