#include "linker/CMOXLinker.h"

#include "classfile/JavaOpcodes.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

namespace {

// long and double bytecodes: the module's words are 16 bits and it has no
// wider arithmetic. Loads and stores of such locals are left to the
// translation, which has no Mox opcode for them either.
bool IsLongOrDoubleOperation(int opcode)
{
    switch (opcode) {
    case 9: case 10: case 14: case 15:                     // lconst_0/1, dconst_0/1
    case 97: case 99: case 101: case 103: case 105: case 107: // ladd .. ddiv
    case 109: case 111: case 113: case 115: case 117: case 119: // lrem .. dneg
    case 121: case 123: case 125: case 127: case 129: case 131: // lshl .. lxor
    case 133: case 135: case 138: case 142: case 143:      // i2l, i2d, l2d, d2i, d2l
    case 148: case 151: case 152:                          // lcmp, dcmpl, dcmpg
        return true;
    default:
        return false;
    }
}

// The longest constant text an error message shows.
constexpr size_t kConstantTextLimit = 100;

} // namespace

void CMOXLinker::ResolveClass(CJavaClass* javaClass)
{
    CJavaClass& c = *javaClass;
    if (Settings().TraceLinker)
        DebugPrint("Linker: resolving class %s.", c.ThisClassName().c_str());
    for (int method = 0; method < c.MethodCount(); ++method) {
        const uint32_t length = c.CodeLength(method);
        uint32_t pc = 0;
        while (pc < length) {
            const uint32_t at = pc;
            const int opcode = c.NextInstruction(method, pc);
            if (IsLongOrDoubleOperation(opcode))
                throw EError(ecLNK, 10, opcode);
            switch (opcode) {
            case opLdc:
            case opLdcW: {
                const int index = opcode == opLdc ? c.CodeByte(method, at + 1) : c.CodeWord(method, at + 1);
                if (!c.IsStringConstant(index))
                    throw EError(ecJVM, 29, c.ThisClassName(), c.MethodName(method),
                                 c.ConstantText(index, kConstantTextLimit + 1));
                CollectString(c.StringText(index));
                LoadReferencedClass("java/lang/String");
                break;
            }
            case opGetstatic:
            case opGetfield:
            case opInvokevirtual:
            case opInvokespecial:
            case opInvokestatic:
                LoadReferencedClass(c.RefClassName(c.CodeWord(method, at + 1)));
                break;
            case opInvokeinterface:
                throw EError(ecJVM, 32);
            case opNew:
                LoadReferencedClass(c.ClassNameOf(c.CodeWord(method, at + 1)));
                break;
            default:
                // putstatic, putfield, anewarray, checkcast and instanceof
                // load nothing: a class reached only through them is not
                // part of the program.
                break;
            }
        }
        if (Settings().TraceLinker)
            DebugPrint("Linker: checking exceptions for %s.", c.ThisClassName().c_str());
        for (int k = 0; k < c.ExceptionCount(method); ++k) {
            const ExceptionEntry handler = c.ExceptionAt(method, k);
            if (!handler.catchClassName.empty()) // a catch-all names no class
                LoadCatchClass(handler.catchClassName);
        }
    }
}

void CMOXLinker::CollectString(const std::string& text)
{
    for (const StringTableEntry& entry : strings_)
        if (entry.text == text)
            return;
    if (StringCount() >= kMaxStrings)
        throw EError(ecIDE, 31, kMaxStrings);
    StringTableEntry entry;
    entry.text = text;
    entry.ordinal = StringCount();
    strings_.push_back(std::move(entry));
}

void CMOXLinker::LoadReferencedClass(const std::string& name)
{
    try {
        FindOrLoadClass(name);
    } catch (const EError& error) {
        // The cause first, then which reference needed the class.
        error.Print(false);
        throw EError(ecLNK, 3, name);
    }
}

void CMOXLinker::LoadCatchClass(const std::string& name)
{
    try {
        ClassIndexOf(name);
    } catch (const EError& error) {
        error.Print(false);
        throw EError(ecLNK, 3, name);
    }
}
