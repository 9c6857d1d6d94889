#include "linker/CMOXLinker.h"

#include "classfile/JavaOpcodes.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "linker/CodeWalk.h"
#include "linker/ModuleText.h"

#include <vector>

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

const std::string kStringClass = "java/lang/String";

// A method-table slot keeps the argument words and the further locals each
// doubled in one byte, the first beside a flag bit. Beyond these the image
// would hold a wrapped count and the module would halt at the call, with
// nothing shown on the host; so such a method is refused here.
constexpr int kMaxArgumentWords = 63;
constexpr int kMaxFurtherLocals = 127;

void CheckFrameSize(const CMOXLinker& linker, const CJavaClass& c, int method)
{
    const int arguments = c.ParameterCount(method);
    if (arguments > kMaxArgumentWords)
        linker.PassLimit(EError(ecJVM, 10), c.ThisClassName() + "." + c.MethodName(method));
    if (c.Method(method).code.empty())
        return;
    const int further = c.Method(method).maxLocals - arguments;
    if (further < 0) // no compiler leaves the arguments without room
        throw EError(ecJVM, 20, c.ThisClassName());
    if (further > kMaxFurtherLocals)
        linker.PassLimit(EError(ecJVM, 27), c.ThisClassName() + "." + c.MethodName(method));
}

} // namespace

void CMOXLinker::ResolveClass(CJavaClass* javaClass) { ResolveCode(*javaClass, nullptr); }

void CMOXLinker::ResolveCode(CJavaClass& c, std::vector<uint16_t>* stringUses)
{
    if (Settings().TraceLinker)
        DebugPrint("Linker: resolving class %s.", c.ThisClassName().c_str());
    // Class constants, and member references, whose class is in the list
    // under the name they give: looking such a name up again finds the same
    // class and loads nothing, so each is looked up once. A name the list
    // does not answer (a file declaring another name) is looked up, and
    // loaded, at every use. A constant is marked only after its queries
    // have passed, so a marked one needs no checking again.
    std::vector<uint8_t> listed(static_cast<size_t>(c.ConstantPoolCount()));
    const auto isListed = [&](int constant) { return constant < c.ConstantPoolCount() && listed[constant] != 0; };
    bool stringListed = false;
    const auto loadClassOf = [&](int classConstant) {
        if (isListed(classConstant))
            return;
        const std::string& name = c.ClassNameOf(classConstant);
        // The list answers `name` with the class found or loaded exactly
        // when that class declares the name.
        listed[classConstant] = LoadReferencedClass(name)->ThisClassName() == name;
    };
    const auto loadOwnerOf = [&](int ref) {
        if (isListed(ref))
            return;
        const int classConstant = c.RefClassIndex(ref);
        loadClassOf(classConstant);
        listed[ref] = listed[classConstant];
    };
    for (int method = 0; method < c.MethodCount(); ++method) {
        CheckFrameSize(*this, c, method);
        CodeWalk walk(c, method);
        const uint8_t* code = walk.Code();
        // The walk has checked that each instruction's operands are there.
        const auto operand16 = [code](uint32_t at) { return code[at + 1] * 256 + code[at + 2]; };
        uint32_t at;
        int opcode;
        uint32_t size;
        while (walk.Next(at, opcode, size)) {
            if (IsLongOrDoubleOperation(opcode))
                throw EError(ecLNK, 10, opcode);
            switch (opcode) {
            case opLdc:
            case opLdcW: {
                const int index = opcode == opLdc ? code[at + 1] : operand16(at);
                if (!c.IsStringConstant(index))
                    throw EError(ecJVM, 29, c.ThisClassName(), c.MethodName(method),
                                 c.ConstantText(index, kConstantTextLimit + 1));
                CollectString(LiteralText(c, method, index));
                if (stringUses != nullptr)
                    stringUses->push_back(static_cast<uint16_t>(index));
                if (!stringListed)
                    stringListed = LoadReferencedClass(kStringClass)->ThisClassName() == kStringClass;
                break;
            }
            case opGetstatic:
            case opGetfield:
            case opInvokevirtual:
            case opInvokespecial:
            case opInvokestatic:
                loadOwnerOf(operand16(at));
                break;
            case opInvokeinterface:
                throw EError(ecJVM, 32);
            case opNew:
                loadClassOf(operand16(at));
                break;
            default:
                // putstatic, putfield, anewarray, checkcast and instanceof
                // load nothing: a class reached only through them is not
                // part of the program. The translation refuses an
                // instanceof of an array type, in every class it writes.
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

std::string CMOXLinker::LiteralText(const CJavaClass& c, int method, int constant)
{
    std::string text;
    switch (ModuleLiteralText(c.StringText(constant), text)) {
    case LiteralStatus::Ok:
        break;
    case LiteralStatus::OutOfRange:
        throw EError(ecJVM, 29, c.ThisClassName(), c.MethodName(method),
                     c.ConstantText(constant, kConstantTextLimit + 1));
    case LiteralStatus::Malformed:
        throw EError(ecJVM, 20, c.ThisClassName());
    }
    return text;
}

void CMOXLinker::CheckInstanceofType(const CJavaClass& c, int method, int classConstant)
{
    // An array's class record is Object's, so it carries no element type
    // for the module to test; the class path cannot hold such a class
    // either, and searching it would only send the user after a file that
    // cannot exist.
    const std::string& name = c.ClassNameOf(classConstant);
    if (name.empty() || name[0] != '[')
        return;
    ConsolePrint("Method %s::%s uses `instanceof %s', which the module cannot answer: its arrays keep no element "
                 "type.\n",
                 c.ThisClassName().c_str(), c.MethodName(method).c_str(), JavaArrayTypeName(name).c_str());
    throw EError(ecJVM, 30, static_cast<int>(opInstanceof));
}

void CMOXLinker::CollectString(const std::string& text)
{
    if (stringNumbers_.contains(text))
        return;
    if (StringCount() >= kMaxStrings)
        PassLimit(EError(ecIDE, 31, kMaxStrings), std::string());
    StringTableEntry entry;
    entry.text = text;
    entry.ordinal = StringCount();
    AddString(std::move(entry));
}

CJavaClass* CMOXLinker::LoadReferencedClass(const std::string& name)
{
    try {
        return FindOrLoadClass(name);
    } catch (const EError& error) {
        // The cause first, then which reference needed the class.
        PrintCause(error);
        throw EError(ecLNK, 3, name);
    }
}

void CMOXLinker::LoadCatchClass(const std::string& name)
{
    try {
        ClassIndexOf(name);
    } catch (const EError& error) {
        PrintCause(error);
        throw EError(ecLNK, 3, name);
    }
}
