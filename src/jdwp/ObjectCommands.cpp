// Command sets 9, 10 and 13: ObjectReference, StringReference and
// ArrayReference, on the machine's memory. Objects are their addresses.

#include "jdwp/JdwpCommands.h"

#include "image/DebugInfo.h"
#include "sim/MoxVm.h"

namespace jdwp {

namespace {

uint16_t ReadObject(JdwpSession& session, PacketReader& in, uint16_t& object)
{
    uint64_t id = in.Id();
    if (in.Failed())
        return kMalformed;
    if (!session.IsObject(id))
        return erInvalidObject;
    object = static_cast<uint16_t>(id);
    return erNone;
}

uint16_t ReferenceType(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    uint16_t object = 0;
    if (uint16_t error = ReadObject(session, in, object))
        return error;
    uint64_t type = session.TypeOfObject(object);
    out.U8(session.IsArrayType(type) ? ttArray : ttClass);
    out.Id(type);
    return erNone;
}

// An instance field of the object's class or one of its supers.
const DebugField* InstanceField(JdwpSession& session, uint16_t object, uint64_t fieldId)
{
    int32_t owner = -1;
    const DebugField* field = session.FieldOfId(fieldId, &owner);
    if (field == nullptr || field->isStatic)
        return field;
    int32_t actual = session.Info().ClassIndexAtRecord(session.Vm().Memory()->Read16(object));
    return session.Info().IsSubclass(actual, owner) ? field : nullptr;
}

uint16_t GetValues(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    uint16_t object = 0;
    uint16_t error = ReadObject(session, in, object);
    int32_t count = in.I32();
    std::vector<uint64_t> ids;
    for (int32_t i = 0; i < count && !in.Failed(); ++i)
        ids.push_back(in.Id());
    if (in.Failed())
        return kMalformed;
    if (error != erNone)
        return error;
    const VmMemory& memory = *session.Vm().Memory();
    out.I32(count);
    for (uint64_t id : ids) {
        const DebugField* field = InstanceField(session, object, id);
        if (field == nullptr)
            return erInvalidFieldId;
        uint16_t word = field->isConstant ? static_cast<uint16_t>(field->constantValue)
                        : field->isStatic ? memory.Read16(session.Vm().StaticsBase() + field->staticOffset)
                                          : memory.Read16(object + field->objectOffset);
        session.WriteValue(out, field->signature, word, true);
    }
    return erNone;
}

uint16_t SetValues(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    uint16_t object = 0;
    if (uint16_t error = ReadObject(session, in, object)) {
        return in.Failed() ? kMalformed : static_cast<uint16_t>(error);
    }
    int32_t count = in.I32();
    std::vector<std::pair<uint32_t, uint16_t>> writes;
    bool mismatch = false;
    for (int32_t i = 0; i < count && !in.Failed(); ++i) {
        const DebugField* field = InstanceField(session, object, in.Id());
        if (in.Failed())
            break;
        if (field == nullptr)
            return erInvalidFieldId; // the value's width is unknown: stop here
        uint16_t word = 0;
        if (!JdwpSession::ReadValue(in, field->signature[0], word) || field->isConstant)
            mismatch = true;
        writes.emplace_back(field->isStatic ? session.Vm().StaticsBase() + field->staticOffset
                                            : object + field->objectOffset,
                            word);
    }
    if (in.Failed())
        return kMalformed;
    if (mismatch)
        return erTypeMismatch;
    for (const auto& [address, word] : writes)
        session.Vm().DebugMemory()->Write16(address, word);
    return erNone;
}

uint16_t Accept(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    uint16_t object = 0;
    return ReadObject(session, in, object);
}

uint16_t IsCollected(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    uint64_t id = in.Id();
    if (in.Failed())
        return kMalformed;
    out.Bool(!session.IsObject(id));
    return erNone;
}

uint16_t StringValue(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    uint16_t object = 0;
    if (uint16_t error = ReadObject(session, in, object))
        return error;
    if (session.ObjectTag(object, "") != 's')
        return erInvalidObject;
    out.String(session.StringText(object));
    return erNone;
}

// An array the debugger was shown, with its element type and width.
uint16_t ReadArray(JdwpSession& session, PacketReader& in, uint16_t& array, std::string& element, int32_t& length)
{
    if (uint16_t error = ReadObject(session, in, array))
        return error;
    std::string signature = session.ArrayOf(array);
    if (signature.size() < 2)
        return erInvalidArray;
    element = signature.substr(1);
    length = static_cast<int16_t>(session.Vm().Memory()->Read16(array + 2u));
    return erNone;
}

bool ByteElements(char type) { return type == 'B' || type == 'C' || type == 'Z'; }

uint16_t Length(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    uint16_t array = 0;
    std::string element;
    int32_t length = 0;
    if (uint16_t error = ReadArray(session, in, array, element, length))
        return error;
    out.I32(length);
    return erNone;
}

uint16_t ArrayGetValues(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    uint16_t array = 0;
    std::string element;
    int32_t length = 0;
    uint16_t error = ReadArray(session, in, array, element, length);
    int32_t first = in.I32();
    int32_t count = in.I32();
    if (in.Failed())
        return kMalformed;
    if (error != erNone)
        return error;
    if (first < 0 || first > length)
        return erInvalidIndex;
    if (count < 0 || count > length - first)
        return erInvalidLength;
    const VmMemory& memory = *session.Vm().Memory();
    char type = element[0];
    bool objects = type == 'L' || type == '[';
    out.U8(static_cast<uint8_t>(objects ? 'L' : type));
    out.I32(count);
    for (int32_t i = first; i < first + count; ++i) {
        uint32_t at = array + 4u;
        if (ByteElements(type))
            session.WriteByteValue(out, type, memory.Read8(at + static_cast<uint32_t>(i)), false);
        else
            session.WriteValue(out, element, memory.Read16(at + 2u * static_cast<uint32_t>(i)), objects);
    }
    return erNone;
}

uint16_t ArraySetValues(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    uint16_t array = 0;
    std::string element;
    int32_t length = 0;
    uint16_t error = ReadArray(session, in, array, element, length);
    int32_t first = in.I32();
    int32_t count = in.I32();
    if (error != erNone)
        return in.Failed() ? kMalformed : static_cast<uint16_t>(error);
    std::vector<uint16_t> words;
    bool supported = true;
    for (int32_t i = 0; i < count && !in.Failed(); ++i) {
        uint16_t word = 0;
        supported = JdwpSession::ReadValue(in, element[0], word) && supported;
        words.push_back(word);
    }
    if (in.Failed())
        return kMalformed;
    if (first < 0 || first > length)
        return erInvalidIndex;
    if (count < 0 || count > length - first)
        return erInvalidLength;
    if (!supported)
        return erTypeMismatch;
    VmMemory& memory = *session.Vm().DebugMemory();
    for (int32_t i = 0; i < count; ++i) {
        uint32_t index = static_cast<uint32_t>(first + i);
        if (ByteElements(element[0]))
            memory.Write8(array + 4u + index, static_cast<uint8_t>(words[static_cast<size_t>(i)]));
        else
            memory.Write16(array + 4u + 2u * index, words[static_cast<size_t>(i)]);
    }
    return erNone;
}

} // namespace

const CommandEntry kObjectReferenceCommands[] = {
    {1, ReferenceType},
    {2, GetValues},
    {3, SetValues},
    {7, Accept}, // DisableCollection: asked, not kept (the collector sees no debugger)
    {8, Accept}, // EnableCollection
    {9, IsCollected},
    {0, nullptr},
};

const CommandEntry kStringReferenceCommands[] = {
    {1, StringValue},
    {0, nullptr},
};

const CommandEntry kArrayReferenceCommands[] = {
    {1, Length},
    {2, ArrayGetValues},
    {3, ArraySetValues},
    {0, nullptr},
};

} // namespace jdwp
