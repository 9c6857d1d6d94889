// Command sets 2, 3 and 6: ReferenceType, ClassType and Method, answered
// from the linker's debug information.

#include "jdwp/JdwpCommands.h"

#include "image/DebugInfo.h"
#include "sim/MoxVm.h"

namespace jdwp {

namespace {

constexpr int32_t kArrayModifiers = 0x0411; // public final abstract

// The class a reference type id names; `array` set instead for an array type.
uint16_t ReadType(JdwpSession& session, PacketReader& in, const DebugClass*& c, bool& array, uint64_t& id)
{
    id = in.Id();
    if (in.Failed())
        return kMalformed;
    c = session.ClassOfId(id);
    array = session.IsArrayType(id);
    return c != nullptr || array ? erNone : erInvalidClass;
}

#define READ_TYPE()                                                  \
    const DebugClass* c = nullptr;                                   \
    bool array = false;                                              \
    uint64_t typeId = 0;                                             \
    if (uint16_t error = ReadType(session, in, c, array, typeId))    \
        return error;

uint16_t Signature(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    out.String(array ? session.ArraySignature(typeId) : c->signature);
    return erNone;
}

uint16_t SignatureWithGeneric(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    out.String(array ? session.ArraySignature(typeId) : c->signature);
    out.String("");
    return erNone;
}

uint16_t ClassLoader(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    out.Id(0); // the bootstrap loader: the image holds every class
    return erNone;
}

uint16_t Modifiers(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    out.I32(array ? kArrayModifiers : c->modifiers);
    return erNone;
}

uint16_t FieldsOf(JdwpSession& session, PacketReader& in, PacketWriter& out, bool withGeneric)
{
    READ_TYPE();
    if (array) {
        out.I32(0);
        return erNone;
    }
    int32_t index = session.Info().ClassIndexAtRecord(c->record);
    out.I32(static_cast<int32_t>(c->fields.size()));
    for (size_t i = 0; i < c->fields.size(); ++i) {
        out.Id(JdwpSession::FieldId(index, i));
        out.String(c->fields[i].name);
        out.String(c->fields[i].signature);
        if (withGeneric)
            out.String("");
        out.I32(c->fields[i].modifiers);
    }
    return erNone;
}

uint16_t Fields(JdwpSession& session, PacketReader& in, PacketWriter& out) { return FieldsOf(session, in, out, false); }
uint16_t FieldsWithGeneric(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    return FieldsOf(session, in, out, true);
}

uint16_t MethodsOf(JdwpSession& session, PacketReader& in, PacketWriter& out, bool withGeneric)
{
    READ_TYPE();
    if (array) {
        out.I32(0);
        return erNone;
    }
    out.I32(static_cast<int32_t>(c->methods.size()));
    for (const DebugMethod& method : c->methods) {
        out.Id(method.slot);
        out.String(method.name);
        out.String(method.signature);
        if (withGeneric)
            out.String("");
        out.I32(method.modifiers);
    }
    return erNone;
}

uint16_t Methods(JdwpSession& session, PacketReader& in, PacketWriter& out) { return MethodsOf(session, in, out, false); }
uint16_t MethodsWithGeneric(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    return MethodsOf(session, in, out, true);
}

uint16_t StaticWord(JdwpSession& session, const DebugField& field, uint16_t& word)
{
    if (field.isConstant) {
        word = static_cast<uint16_t>(field.constantValue);
        return erNone;
    }
    word = session.Vm().Memory()->Read16(session.Vm().StaticsBase() + field.staticOffset);
    return erNone;
}

uint16_t GetValues(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    int32_t count = in.I32();
    std::vector<uint64_t> ids;
    for (int32_t i = 0; i < count && !in.Failed(); ++i)
        ids.push_back(in.Id());
    if (in.Failed())
        return kMalformed;
    if (session.Vm().Memory() == nullptr)
        return erVmDead;
    out.I32(count);
    for (uint64_t id : ids) {
        const DebugField* field = session.FieldOfId(id);
        if (field == nullptr || !field->isStatic)
            return erInvalidFieldId;
        uint16_t word = 0;
        StaticWord(session, *field, word);
        session.WriteValue(out, field->signature, word, true);
    }
    return erNone;
}

uint16_t SourceFile(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    if (array || c->sourceFile.empty())
        return erAbsentInformation;
    out.String(c->sourceFile);
    return erNone;
}

uint16_t None(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    out.I32(0);
    return erNone;
}

uint16_t Status(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    out.I32(kClassReady);
    return erNone;
}

uint16_t Absent(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    READ_TYPE();
    return erAbsentInformation;
}

uint16_t Superclass(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    READ_TYPE();
    if (array) {
        out.Id(session.Vm().Header().objectClass);
        return erNone;
    }
    out.Id(c->superIndex < 0 ? 0 : session.Info().classes[static_cast<size_t>(c->superIndex)].record);
    return erNone;
}

uint16_t SetStaticValues(JdwpSession& session, PacketReader& in, PacketWriter&)
{
    READ_TYPE();
    int32_t count = in.I32();
    std::vector<std::pair<const DebugField*, uint16_t>> writes;
    bool invalid = false, mismatch = false;
    for (int32_t i = 0; i < count && !in.Failed(); ++i) {
        const DebugField* field = session.FieldOfId(in.Id());
        if (field == nullptr || !field->isStatic) {
            invalid = true;
            break; // the value's width is unknown: nothing after it can be read
        }
        uint16_t word = 0;
        if (!JdwpSession::ReadValue(in, field->signature[0], word) || field->isConstant)
            mismatch = true;
        writes.emplace_back(field, word);
    }
    if (invalid)
        return erInvalidFieldId;
    if (in.Failed())
        return kMalformed;
    if (mismatch)
        return erTypeMismatch;
    for (const auto& [field, word] : writes)
        session.Vm().DebugMemory()->Write16(session.Vm().StaticsBase() + field->staticOffset, word);
    return erNone;
}

uint16_t ReadMethod(JdwpSession& session, PacketReader& in, const DebugMethod*& method)
{
    uint64_t type = in.Id();
    uint64_t id = in.Id();
    if (in.Failed())
        return kMalformed;
    if (session.ClassOfId(type) == nullptr)
        return erInvalidClass;
    method = session.MethodOfId(type, id);
    return method == nullptr ? erInvalidMethodId : erNone;
}

uint16_t LineTable(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    const DebugMethod* method = nullptr;
    if (uint16_t error = ReadMethod(session, in, method))
        return error;
    if (!method->hasCode) {
        out.U64(~0ull);
        out.U64(~0ull);
        out.I32(0);
        return erNone;
    }
    if (method->lines.empty())
        return erAbsentInformation;
    out.U64(0);
    out.U64(method->codeLength - 1);
    out.I32(static_cast<int32_t>(method->lines.size()));
    for (const DebugLine& line : method->lines) {
        out.U64(line.codeIndex);
        out.I32(static_cast<int32_t>(line.line));
    }
    return erNone;
}

uint16_t VariableTableOf(JdwpSession& session, PacketReader& in, PacketWriter& out, bool withGeneric)
{
    const DebugMethod* method = nullptr;
    if (uint16_t error = ReadMethod(session, in, method))
        return error;
    if (!method->hasCode)
        return erNativeMethod;
    if (method->locals.empty())
        return erAbsentInformation;
    out.I32(method->argumentWords);
    out.I32(static_cast<int32_t>(method->locals.size()));
    for (const DebugLocal& local : method->locals) {
        out.U64(local.start);
        out.String(local.name);
        out.String(local.signature);
        if (withGeneric)
            out.String("");
        out.I32(static_cast<int32_t>(local.length));
        out.I32(local.slot);
    }
    return erNone;
}

uint16_t VariableTable(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    return VariableTableOf(session, in, out, false);
}
uint16_t VariableTableWithGeneric(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    return VariableTableOf(session, in, out, true);
}

uint16_t IsObsolete(JdwpSession& session, PacketReader& in, PacketWriter& out)
{
    const DebugMethod* method = nullptr;
    if (uint16_t error = ReadMethod(session, in, method))
        return error;
    out.Bool(false);
    return erNone;
}

} // namespace

const CommandEntry kReferenceTypeCommands[] = {
    {1, Signature},
    {2, ClassLoader},
    {3, Modifiers},
    {4, Fields},
    {5, Methods},
    {6, GetValues},
    {7, SourceFile},
    {8, None}, // NestedTypes: the linker keeps none apart
    {9, Status},
    {10, None}, // Interfaces: the module has none
    {12, Absent}, // SourceDebugExtension
    {13, SignatureWithGeneric},
    {14, FieldsWithGeneric},
    {15, MethodsWithGeneric},
    {0, nullptr},
};

const CommandEntry kClassTypeCommands[] = {
    {1, Superclass},
    {2, SetStaticValues},
    {0, nullptr},
};

const CommandEntry kMethodCommands[] = {
    {1, LineTable},
    {2, VariableTable},
    {4, IsObsolete},
    {5, VariableTableWithGeneric},
    {0, nullptr},
};

} // namespace jdwp
