#include "classfile/JavaOpcodes.h"

namespace {

const char* const kMnemonics[kJavaMnemonicCount] = {
    "nop", "aconst_null", "iconst_m1", "iconst_0", "iconst_1", "iconst_2",
    "iconst_3", "iconst_4", "iconst_5", "lconst_0", "lconst_1", "fconst_0",
    "fconst_1", "fconst_2", "dconst_0", "dconst_1", "bipush", "sipush",
    "ldc", "ldc_w", "ldc2_w", "iload", "lload", "fload",
    "dload", "aload", "iload_0", "iload_1", "iload_2", "iload_3",
    "lload_0", "lload_1", "lload_2", "lload_3", "fload_0", "fload_1",
    "fload_2", "fload_3", "dload_0", "dload_1", "dload_2", "dload_3",
    "aload_0", "aload_1", "aload_2", "aload_3", "iaload", "laload",
    "faload", "daload", "aaload", "baload", "caload", "saload",
    "istore", "lstore", "fstore", "dstore", "astore", "istore_0",
    "istore_1", "istore_2", "istore_3", "lstore_0", "lstore_1", "lstore_2",
    "lstore_3", "fstore_0", "fstore_1", "fstore_2", "fstore_3", "dstore_0",
    "dstore_1", "dstore_2", "dstore_3", "astore_0", "astore_1", "astore_2",
    "astore_3", "iastore", "lastore", "fastore", "dastore", "aastore",
    "bastore", "castore", "sastore", "pop", "pop2", "dup",
    "dup_x1", "dup_x2", "dup2", "dup2_x1", "dup2_x2", "swap",
    "iadd", "ladd", "fadd", "dadd", "isub", "lsub",
    "fsub", "dsub", "imul", "lmul", "fmul", "dmul",
    "idiv", "ldiv", "fdiv", "ddiv", "irem", "lrem",
    "frem", "drem", "ineg", "lneg", "fneg", "dneg",
    "ishl", "lshl", "ishr", "lshr", "iushr", "lushr",
    "iand", "land", "ior", "lor", "ixor", "lxor",
    "iinc", "i2l", "i2f", "i2d", "l2i", "l2f",
    "l2d", "f2i", "f2l", "f2d", "d2i", "d2l",
    "d2f", "i2b", "i2c", "i2s", "lcmp", "fcmpl",
    "fcmpg", "dcmpl", "dcmpg", "ifeq", "ifne", "iflt",
    "ifge", "ifgt", "ifle", "if_icmpeq", "if_icmpne", "if_icmplt",
    "if_icmpge", "if_icmpgt", "if_icmple", "if_acmpeq", "if_acmpne", "goto",
    "jsr", "ret", "tableswitch", "lookupswitch", "ireturn", "lreturn",
    "freturn", "dreturn", "areturn", "return", "getstatic", "putstatic",
    "getfield", "putfield", "invokevirtual", "invokespecial", "invokestatic", "invokeinterface",
    "xxxunusedxxx", "new", "newarray", "anewarray", "arraylength", "athrow",
    "checkcast", "instanceof", "monitorenter", "monitorexit", "wide", "multianewarray",
    "ifnull", "ifnonnull", "goto_w", "jsr_w", "breakpoint", "ldc_quick",
    "ldc_w_quick", "ldc2_w_quick", "getfield_quick", "putfield_quick", "getfield2_quick", "putfield2_quick",
    "getstatic_quick", "putstatic_quick", "getstatic2_quick", "putstatic2_quick", "invokevirtual_quick", "invokenonvirtual_quick",
    "invokesuper_quick", "invokestatic_quick", "invokeinterface_quick", "invokevirtualobject_quick", "new_quick", "anewarray_quick",
    "multianewarray_quick", "checkcast_quick", "instanceof_quick", "invokevirtual_quick_w", "getfield_quick_w", "putfield_quick_w",
};

} // namespace

const char* JavaMnemonic(int opcode)
{
    if (opcode < 0 || opcode >= kJavaMnemonicCount)
        return nullptr;
    return kMnemonics[opcode];
}

namespace {

int32_t ReadBigEndian32(const uint8_t* bytes)
{
    return static_cast<int32_t>((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                                uint32_t{bytes[3]});
}

// Length of the opcodes whose size does not depend on their operands. The
// long, float and double loads and stores with an index operand, the
// interface call, multianewarray and the wide jumps all carry operands: a
// scan that took them for one byte would read their operands as opcodes.
uint32_t FixedLength(int opcode)
{
    switch (opcode) {
    case opBipush:
    case opLdc:
    case 21: case 22: case 23: case 24: case 25: // iload lload fload dload aload
    case 54: case 55: case 56: case 57: case 58: // istore lstore fstore dstore astore
    case opRet:
    case opNewarray:
        return 2;
    case opSipush:
    case opLdcW:
    case opLdc2W:
    case opIinc:
    case opGetstatic: case opPutstatic: case opGetfield: case opPutfield:
    case opInvokevirtual: case opInvokespecial: case opInvokestatic:
    case opNew:
    case opAnewarray:
    case opCheckcast:
    case opInstanceof:
    case 198: case 199: // ifnull ifnonnull
        return 3;
    case opMultianewarray:
        return 4;
    case opInvokeinterface:
    case opGotoW:
    case opJsrW:
        return 5;
    default:
        if (opcode >= 153 && opcode <= 168) // the conditional branches, goto and jsr
            return 3;
        return 1;
    }
}

} // namespace

uint32_t JavaInstructionLength(const uint8_t* code, uint32_t codeLength, uint32_t pc)
{
    if (pc >= codeLength)
        return 0;
    const int opcode = code[pc];
    // 64-bit arithmetic: a corrupt table can name any 32-bit count.
    int64_t length;
    if (opcode == opTableswitch || opcode == opLookupswitch) {
        // The table is aligned to four bytes counted from the start of the code.
        const uint64_t aligned = (uint64_t{pc} + 1 + 3) & ~uint64_t{3};
        const uint64_t header = opcode == opTableswitch ? 12 : 8;
        if (aligned + header > codeLength)
            return 0;
        if (opcode == opTableswitch) {
            const int64_t low = ReadBigEndian32(code + aligned + 4);
            const int64_t high = ReadBigEndian32(code + aligned + 8);
            if (high < low)
                return 0;
            length = static_cast<int64_t>(aligned - pc) + 12 + 4 * (high - low + 1);
        } else {
            const int64_t pairs = ReadBigEndian32(code + aligned + 4);
            if (pairs < 0)
                return 0;
            length = static_cast<int64_t>(aligned - pc) + 8 + 8 * pairs;
        }
    } else if (opcode == opWide) {
        if (pc + 1 >= codeLength)
            return 0;
        length = code[pc + 1] == opIinc ? 6 : 4;
    } else {
        length = FixedLength(opcode);
    }
    if (int64_t{pc} + length > int64_t{codeLength})
        return 0;
    return static_cast<uint32_t>(length);
}
