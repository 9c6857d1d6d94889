#include "image/BytecodeTranslation.h"

#include "classfile/JavaClass.h"
#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"
#include "image/MoxImageWriter.h"
#include "image/MoxTables.h"
#include "linker/CMOXLinker.h"

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

int32_t Signed32(const uint8_t* bytes)
{
    return static_cast<int32_t>((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                                uint32_t{bytes[3]});
}

class MethodTranslation {
public:
    MethodTranslation(CMOXLinker& linker, CJavaClass& javaClass, int method, MoxImageWriter& out)
        : linker_(linker), c_(javaClass), method_(method), out_(out), code_(javaClass.Method(method).code.data())
    {
    }

    void Run()
    {
        const uint32_t length = c_.CodeLength(method_);
        uint32_t pc = 0;
        while (pc < length) {
            const uint32_t size = c_.InstructionLength(method_, pc);
            Instruction(pc, size);
            pc += size;
        }
    }

private:
    void Opcode(uint32_t pc)
    {
        const uint8_t mox = TranslateOpcode(code_[pc]);
        std::string text;
        if (out_.Listing())
            c_.ListInstruction(method_, pc, text, kInstructionTextSize);
        out_.Append(mox, "\tdw\t$%2.2X\t; %s\n", mox, text.c_str());
    }

    void Copy(uint32_t from, uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i)
            out_.Append(code_[from + i], "\tdw\t$%2.2X\t; %s\n", code_[from + i], "");
    }

    void Rewritten(int value)
    {
        const auto byte = static_cast<uint8_t>(value);
        out_.Append(byte, "\tdw\t$%2.2X\t;      %d\n", byte, byte);
    }

    void Rewritten16(int32_t value)
    {
        Rewritten((value >> 8) & 0xFF);
        Rewritten(value & 0xFF);
    }

    void SwitchData16(int64_t value)
    {
        const auto hi = static_cast<uint8_t>((value >> 8) & 0xFF);
        const auto lo = static_cast<uint8_t>(value & 0xFF);
        out_.Append(hi, "\tdw\t$%2.2X\t;\n", hi);
        out_.Append(lo, "\tdw\t$%2.2X\t;\n", lo);
    }

    void Fill(uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i)
            out_.Append(0, "\tdw\t$%2.2X\t;\n", 0);
    }

    CJavaClass& ClassNamed(const std::string& name) { return *linker_.ClassAt(linker_.ClassIndexOf(name)); }

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
        case opNew:
        case opInstanceof:
            Rewritten16(linker_.ClassOffset(linker_.ClassIndexOf(c_.ClassNameOf(Unsigned16(operands)))));
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
        const int number = linker_.StringNumberOf(c_.StringText(constant));
        out_.Append(static_cast<uint8_t>(number), "\tdw\t$%2.2X\t;      index = %d\n", static_cast<uint8_t>(number), number);
    }

    void StaticField(int ref)
    {
        const CJavaClass& owner = ClassNamed(c_.RefClassName(ref));
        const int field = owner.FieldIndex(c_.RefName(ref));
        Rewritten16(owner.FieldSlot(field) * 2);
    }

    void InstanceField(int ref)
    {
        const std::string& className = c_.RefClassName(ref);
        const CJavaClass& owner = ClassNamed(className);
        // + 2: an object's first word holds its class record offset.
        Rewritten16(owner.FieldTableWordOffset(className, c_.RefName(ref), c_.RefDescriptor(ref)) * 2 + 2);
    }

    void VirtualCall(int ref)
    {
        const std::string& className = c_.RefClassName(ref);
        const CJavaClass& owner = ClassNamed(className);
        const MethodTableEntry& entry = owner.MethodTable()[owner.MethodTableIndex(c_.RefName(ref), c_.RefDescriptor(ref))];
        // The module finds the receiver below the arguments and takes the
        // slot at this position in the receiver's own class record.
        if (entry.classRelativeOffset > 255)
            throw EError(ecLNK, 9, className);
        const auto words = static_cast<uint8_t>(entry.definingClass->ParameterCount(entry.methodIndex) * 2);
        out_.Append(words, "\tdw\t$%2.2X\t;      Object offset = -%d\n", words, words);
        Rewritten(entry.classRelativeOffset);
    }

    void DirectCall(int ref)
    {
        const CJavaClass& owner = ClassNamed(c_.RefClassName(ref));
        Rewritten16(owner.MethodTableImageOffset(c_.RefName(ref), c_.RefDescriptor(ref)));
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
    const uint8_t* code_;
};

} // namespace

void TranslateMethod(CMOXLinker& linker, CJavaClass& javaClass, int method, MoxImageWriter& out)
{
    MethodTranslation(linker, javaClass, method, out).Run();
}
