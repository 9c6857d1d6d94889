#include "image/BytecodeTranslation.h"

#include "classfile/JavaClass.h"
#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"
#include "image/MoxImageWriter.h"
#include "image/MoxTables.h"
#include "linker/CMOXLinker.h"
#include "linker/CodeWalk.h"
#include "linker/ModuleText.h"

#include <array>
#include <string>

// Java and Mox instructions have the same length, so every Java position
// keeps its value: branch offsets and the layout computed from Java code
// lengths stay valid, and only opcodes and constant-pool operands change.

namespace {

// Listing texts of instructions are made in a buffer of this size.
constexpr size_t kInstructionTextSize = 1000;

constexpr uint8_t kElementSizeByte = 1;
constexpr uint8_t kElementSizeWord = 0;

int Unsigned16(const uint8_t* bytes) { return bytes[0] * 256 + bytes[1]; }

// TranslateOpcode of every Java opcode, made once: the translation asks for
// one per instruction of the program. -1 where there is no Mox opcode.
uint8_t MoxOpcodeOf(uint8_t javaOpcode)
{
    static const std::array<int16_t, 256> table = [] {
        std::array<int16_t, 256> numbers;
        for (int opcode = 0; opcode < 256; ++opcode) {
            const int index = MoxIndexOfJavaOpcode(opcode);
            numbers[static_cast<size_t>(opcode)] = static_cast<int16_t>(index < 0 ? -1 : MoxOpcodeNumber(index));
        }
        return numbers;
    }();
    const int16_t number = table[javaOpcode];
    // An opcode without one raises JVM 30 as it always has.
    return number < 0 ? TranslateOpcode(javaOpcode) : static_cast<uint8_t>(number);
}

int32_t Signed32(const uint8_t* bytes)
{
    return static_cast<int32_t>((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                                uint32_t{bytes[3]});
}

class MethodTranslation {
public:
    MethodTranslation(CMOXLinker& linker, CJavaClass& javaClass, int method, MoxImageWriter& out,
                      ResolvedConstants& resolved)
        : linker_(linker), c_(javaClass), method_(method), out_(out), resolved_(resolved),
          code_(javaClass.Method(method).code.data())
    {
    }

    void Run()
    {
        CodeWalk walk(c_, method_);
        uint32_t pc;
        int opcode;
        uint32_t size;
        while (walk.Next(pc, opcode, size))
            Instruction(pc, size);
    }

private:
    // Each kind of byte has its listing line; without a listing, the bytes
    // go in as they are.
    void Opcode(uint32_t pc)
    {
        const uint8_t mox = MoxOpcodeOf(code_[pc]);
        if (!out_.Listing())
            out_.AppendUnlisted(mox);
        else
            ListedOpcode(pc, mox);
    }

    // Out of line: the text it makes would otherwise weigh on every opcode.
    __attribute__((noinline)) void ListedOpcode(uint32_t pc, uint8_t mox)
    {
        std::string text;
        c_.ListInstruction(method_, pc, text, kInstructionTextSize);
        out_.Append(mox, "\tdw\t$%2.2X\t; %s\n", mox, text.c_str());
    }

    void Copy(uint32_t from, uint32_t count)
    {
        if (!out_.Listing()) {
            out_.AppendUnlisted(code_ + from, count);
            return;
        }
        for (uint32_t i = 0; i < count; ++i)
            out_.Append(code_[from + i], "\tdw\t$%2.2X\t; %s\n", code_[from + i], "");
    }

    void Rewritten(int value)
    {
        const auto byte = static_cast<uint8_t>(value);
        if (!out_.Listing())
            out_.AppendUnlisted(byte);
        else
            out_.Append(byte, "\tdw\t$%2.2X\t;      %d\n", byte, byte);
    }

    void Rewritten16(int32_t value)
    {
        Rewritten((value >> 8) & 0xFF);
        Rewritten(value & 0xFF);
    }

    void SwitchData(uint8_t byte)
    {
        if (!out_.Listing())
            out_.AppendUnlisted(byte);
        else
            out_.Append(byte, "\tdw\t$%2.2X\t;\n", byte);
    }

    void SwitchData16(int64_t value)
    {
        SwitchData(static_cast<uint8_t>((value >> 8) & 0xFF));
        SwitchData(static_cast<uint8_t>(value & 0xFF));
    }

    void Fill(uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i)
            SwitchData(0);
    }

    using Use = ResolvedConstants::Use;

    // The list index of the class Class constant `classConstant` names, and
    // whether every later look-up of the name would give it again without
    // loading anything.
    int ClassIndexOf(int classConstant, bool& lasting)
    {
        int index = resolved_.ClassIndex(classConstant);
        lasting = index >= 0;
        if (lasting)
            return index;
        const std::string& name = c_.ClassNameOf(classConstant);
        index = linker_.FindClassIndex(name);
        lasting = index >= 0;
        if (!lasting)
            return linker_.ClassIndexOf(name);
        resolved_.KeepClassIndex(classConstant, index);
        return index;
    }

    // The class whose member `ref` names (its class name is `RefClassName`).
    CJavaClass& OwnerOf(int ref, bool& lasting)
    {
        return *linker_.ClassAt(ClassIndexOf(c_.RefClassIndex(ref), lasting));
    }

    // The value of `constant` for `use`: kept from an earlier use, or made
    // by `resolve` (which says whether it may be kept).
    template <class Resolve>
    int32_t Resolved(int constant, Use use, Resolve&& resolve)
    {
        int32_t value;
        if (resolved_.Find(constant, use, value))
            return value;
        bool lasting = false;
        value = resolve(lasting);
        if (lasting)
            resolved_.Keep(constant, use, value);
        return value;
    }

    void Instruction(uint32_t pc, uint32_t size)
    {
        const int opcode = code_[pc];
        Opcode(pc);
        const uint8_t* operands = code_ + pc + 1;
        switch (opcode) {
        case opLdc:
            StringNumber(operands[0]);
            break;
        case opLdcW:
            out_.Append(0, "\tdw\t$%2.2X\t; \n", 0);
            StringNumber(Unsigned16(operands));
            break;
        case opGetstatic:
        case opPutstatic:
            StaticField(Unsigned16(operands));
            break;
        case opGetfield:
        case opPutfield:
            InstanceField(Unsigned16(operands));
            break;
        case opInvokevirtual:
            VirtualCall(Unsigned16(operands));
            break;
        case opInvokespecial:
        case opInvokestatic:
            DirectCall(Unsigned16(operands));
            break;
        case opInstanceof:
            // Before the look-up, which would search the class path for the
            // array type as if it were a class file.
            CMOXLinker::CheckInstanceofType(c_, method_, Unsigned16(operands));
            ClassOffset(Unsigned16(operands));
            break;
        case opNew:
            ClassOffset(Unsigned16(operands));
            break;
        case opCheckcast:
            // The module checks no casts: the class is not written.
            Rewritten(0);
            Rewritten(0);
            break;
        case opNewarray: {
            const int type = operands[0];
            const bool bytes = type == 4 || type == 5 || type == 8; // boolean, char, byte
            Rewritten(bytes ? kElementSizeByte : kElementSizeWord);
            break;
        }
        case opAnewarray:
            // References are words; the element class is not written.
            Rewritten(0);
            Rewritten(kElementSizeWord);
            break;
        case opTableswitch:
            TableSwitch(pc, size);
            break;
        case opLookupswitch:
            LookupSwitch(pc, size);
            break;
        case opWide:
            // A prefix: the widened instruction keeps its wide operands.
            Opcode(pc + 1);
            Copy(pc + 2, size - 2);
            break;
        default:
            Copy(pc + 1, size - 1);
            break;
        }
    }

    void StringNumber(int constant)
    {
        std::string text;
        // A text the module cannot hold was refused when the class was
        // resolved; in a class that never was, the string is missing anyway.
        if (ModuleLiteralText(c_.StringText(constant), text) != LiteralStatus::Ok)
            throw EError(ecIDE, 30);
        const int number = linker_.StringNumberOf(text);
        out_.Append(static_cast<uint8_t>(number), "\tdw\t$%2.2X\t;      index = %d\n", static_cast<uint8_t>(number), number);
    }

    void ClassOffset(int constant)
    {
        Rewritten16(Resolved(constant, Use::ClassOffset,
                             [&](bool& lasting) { return linker_.ClassOffset(ClassIndexOf(constant, lasting)); }));
    }

    void StaticField(int ref)
    {
        Rewritten16(Resolved(ref, Use::StaticField, [&](bool& lasting) {
            const CJavaClass& owner = OwnerOf(ref, lasting);
            const int field = owner.FieldIndex(c_.RefName(ref));
            return owner.FieldSlot(field) * 2;
        }));
    }

    void InstanceField(int ref)
    {
        Rewritten16(Resolved(ref, Use::InstanceField, [&](bool& lasting) {
            const CJavaClass& owner = OwnerOf(ref, lasting);
            const std::string& className = c_.RefClassName(ref);
            // + 2: an object's first word holds its class record offset.
            return owner.FieldTableWordOffset(className, c_.RefName(ref), c_.RefDescriptor(ref)) * 2 + 2;
        }));
    }

    void VirtualCall(int ref)
    {
        const int32_t operands = Resolved(ref, Use::VirtualCall, [&](bool& lasting) {
            const CJavaClass& owner = OwnerOf(ref, lasting);
            const std::string& className = c_.RefClassName(ref);
            const MethodTableEntry& entry =
                owner.MethodTable()[owner.MethodTableIndex(c_.RefName(ref), c_.RefDescriptor(ref))];
            // The module finds the receiver below the arguments and takes the
            // slot at this position in the receiver's own class record.
            if (entry.classRelativeOffset > 255)
                linker_.PassLimit(EError(ecLNK, 9, className), className);
            const int words = entry.definingClass->ParameterCount(entry.methodIndex) * 2;
            return (words & 0xFF) << 8 | (entry.classRelativeOffset & 0xFF);
        });
        const auto words = static_cast<uint8_t>(operands >> 8);
        out_.Append(words, "\tdw\t$%2.2X\t;      Object offset = -%d\n", words, words);
        Rewritten(operands & 0xFF);
    }

    void DirectCall(int ref)
    {
        Rewritten16(Resolved(ref, Use::DirectCall, [&](bool& lasting) {
            const CJavaClass& owner = OwnerOf(ref, lasting);
            return static_cast<int32_t>(owner.MethodTableImageOffset(c_.RefName(ref), c_.RefDescriptor(ref)));
        }));
    }

    // The Mox forms drop the alignment and keep 16 bits of every value; the
    // jump offsets are one less than Java's. Zero bytes make up the length.
    void TableSwitch(uint32_t pc, uint32_t size)
    {
        const uint8_t* table = code_ + ((pc + 4) & ~uint32_t{3});
        const int32_t low = Signed32(table + 4);
        const int32_t high = Signed32(table + 8);
        SwitchData16(int64_t{Signed32(table)} - 1);
        SwitchData16(low);
        SwitchData16(int64_t{high} - low);
        const int64_t cases = int64_t{high} - low + 1;
        for (int64_t k = 0; k < cases; ++k)
            SwitchData16(int64_t{Signed32(table + 12 + 4 * k)} - 1);
        Fill(size - static_cast<uint32_t>(7 + 2 * cases));
    }

    void LookupSwitch(uint32_t pc, uint32_t size)
    {
        const uint8_t* table = code_ + ((pc + 4) & ~uint32_t{3});
        const int32_t pairs = Signed32(table + 4);
        SwitchData16(int64_t{Signed32(table)} - 1);
        SwitchData16(pairs);
        for (int32_t k = 0; k < pairs; ++k) {
            SwitchData16(Signed32(table + 8 + 8 * k));
            SwitchData16(int64_t{Signed32(table + 12 + 8 * k)} - 1);
        }
        Fill(size - static_cast<uint32_t>(5 + 4 * int64_t{pairs}));
    }

    CMOXLinker& linker_;
    CJavaClass& c_;
    int method_;
    MoxImageWriter& out_;
    ResolvedConstants& resolved_;
    const uint8_t* code_;
};

} // namespace

void TranslateMethod(CMOXLinker& linker, CJavaClass& javaClass, int method, MoxImageWriter& out,
                     ResolvedConstants& resolved)
{
    MethodTranslation(linker, javaClass, method, out, resolved).Run();
}
