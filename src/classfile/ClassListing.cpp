#include "classfile/JavaClass.h"

#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"

#include <bit>
#include <cstdarg>

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// The text as a buffer of bufferSize bytes would hold it, terminator included.
std::string Cut(std::string text, size_t bufferSize)
{
    if (text.size() >= bufferSize)
        text.resize(bufferSize > 0 ? bufferSize - 1 : 0);
    return text;
}

int32_t Signed32(const uint8_t* bytes)
{
    return static_cast<int32_t>((uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
                                uint32_t{bytes[3]});
}

int Unsigned16(const uint8_t* bytes) { return bytes[0] * 256 + bytes[1]; }

int Signed16(const uint8_t* bytes) { return static_cast<int16_t>(Unsigned16(bytes)); }

const char* ArrayTypeName(int type)
{
    switch (type) {
    case 4: return "boolean";
    case 5: return "char";
    case 6: return "float";
    case 7: return "double";
    case 8: return "byte";
    case 9: return "short";
    case 10: return "int";
    case 11: return "long";
    default: return "**unknown**";
    }
}

bool HasConstantIndex16(int opcode)
{
    return opcode == opLdcW || opcode == opLdc2W || (opcode >= opGetstatic && opcode <= opInvokestatic) ||
           opcode == opNew || opcode == opAnewarray || opcode == opInstanceof;
}

// The loads, stores and ret that name a local variable in one byte.
bool HasLocalIndex(int opcode) { return (opcode >= 21 && opcode <= 25) || (opcode >= 54 && opcode <= 58) || opcode == opRet; }

bool IsBranch16(int opcode) { return (opcode >= 153 && opcode <= 168) || opcode == 198 || opcode == 199; }

} // namespace

std::string CJavaClass::ConstantText(int index, size_t bufferSize) const
{
    const ConstantPoolEntry& entry = Constant(index);
    // Texts are shown as C strings would be: up to a zero byte, if any.
    const auto text = [](const std::string& s) { return s.c_str(); };
    std::string result;
    switch (entry.tag) {
    case ctInteger:
        result = Format("Integer %d", static_cast<int32_t>(entry.firstValue));
        break;
    case ctFloat:
        result = Format("Float %f", static_cast<double>(std::bit_cast<float>(entry.firstValue)));
        break;
    case ctLong:
        result = Format("Long %d %d", static_cast<int32_t>(entry.firstValue), static_cast<int32_t>(entry.lowWord));
        break;
    case ctDouble:
        result = Format("Double %d %d", static_cast<int32_t>(entry.firstValue), static_cast<int32_t>(entry.lowWord));
        break;
    case ctClass:
        result = Format("Class %s", text(ClassNameOf(index)));
        break;
    case ctString:
        result = Format("\"%s\"", text(StringText(index)));
        break;
    case ctUtf8:
        result = Format("\"%s\"", text(entry.text));
        break;
    case ctFieldref:
        result = Format("Field %s.%s", text(RefClassName(index)), text(RefName(index)));
        break;
    case ctMethodref:
        result = Format("Method %s.%s", text(RefClassName(index)), text(RefName(index)));
        break;
    case ctInterfaceMethodref:
        result = Format("Interface %s.%s", text(RefClassName(index)), text(RefName(index)));
        break;
    case ctNameAndType:
        result = Format("NameAndType %s %s", text(Utf8Text(static_cast<int>(entry.firstValue))),
                        text(Utf8Text(entry.secondValue)));
        break;
    default:
        // An unused slot has no text; code that names one is corrupt.
        Corrupt();
    }
    return Cut(std::move(result), bufferSize);
}

bool CJavaClass::ListInstruction(int method, uint32_t pc, std::string& text, size_t bufferSize)
{
    const MethodInfo& info = Method(method);
    if (method != lastListedMethod_ || int64_t{pc} != lastListedPc_ + 1) {
        lastListedMethod_ = method;
        operandBytesPending_ = 0;
    }
    lastListedPc_ = pc;
    if (pc >= info.code.size())
        throw EError(ecJVM, 23);
    if (operandBytesPending_ > 0) {
        text.clear();
        --operandBytesPending_;
        return false;
    }
    // Every instruction is listed with its true length, so that the empty
    // texts cover exactly its operands and the next text is the next opcode.
    const uint32_t length = InstructionLength(method, pc);
    FormatInstruction(info, pc, text, bufferSize);
    operandBytesPending_ = length - 1;
    return true;
}

void CJavaClass::FormatInstruction(const MethodInfo& method, uint32_t pc, std::string& text, size_t bufferSize) const
{
    // The caller has made sure that the whole instruction lies in the code.
    const uint8_t* at = method.code.data() + pc;
    const int opcode = at[0];
    const char* mnemonic = JavaMnemonic(opcode) ? JavaMnemonic(opcode) : "**unknown**";
    const long long here = pc;
    if (opcode == opBipush || HasLocalIndex(opcode)) {
        text = Format("%4lld %s %d", here, mnemonic, at[1]);
    } else if (opcode == opSipush) {
        text = Format("%4lld %s %d", here, mnemonic, Signed16(at + 1));
    } else if (opcode == opLdc) {
        text = Format("%4lld %s #%d <%s>", here, mnemonic, at[1], ConstantText(at[1], bufferSize).c_str());
    } else if (HasConstantIndex16(opcode)) {
        const int index = Unsigned16(at + 1);
        text = Format("%4lld %s #%d <%s>", here, mnemonic, index, ConstantText(index, bufferSize).c_str());
    } else if (opcode == opIinc) {
        text = Format("%4lld %s %d %d", here, mnemonic, at[1], static_cast<int8_t>(at[2]));
    } else if (IsBranch16(opcode)) {
        text = Format("%4lld %s %lld", here, mnemonic, here + Signed16(at + 1));
    } else if (opcode == opTableswitch || opcode == opLookupswitch) {
        const uint32_t aligned = ((pc + 4) & ~uint32_t{3}) - pc; // table start, from the opcode
        const long long defaultTarget = here + Signed32(at + aligned);
        const auto addCase = [&](long long value, long long target) {
            const std::string line = Format("\n      %lld: %lld", value, target);
            if (text.size() + line.size() >= bufferSize)
                return false;
            text += line;
            return true;
        };
        if (opcode == opTableswitch) {
            const int32_t low = Signed32(at + aligned + 4);
            const int32_t high = Signed32(at + aligned + 8);
            text = Format("%4lld %s %d to %d: default=%lld", here, mnemonic, low, high, defaultTarget);
            for (long long value = low, k = 0; value <= high; ++value, ++k)
                if (!addCase(value, here + Signed32(at + aligned + 12 + 4 * k)))
                    break;
        } else {
            const int32_t pairs = Signed32(at + aligned + 4);
            text = Format("%4lld %s %d pairs default=%lld", here, mnemonic, pairs, defaultTarget);
            for (long long k = 0; k < pairs; ++k)
                if (!addCase(Signed32(at + aligned + 8 + 8 * k), here + Signed32(at + aligned + 12 + 8 * k)))
                    break;
        }
    } else if (opcode == opNewarray) {
        text = Format("%4lld %s %s", here, mnemonic, ArrayTypeName(at[1]));
    } else if (opcode == opCheckcast) {
        text = Format("%4lld %s ????", here, mnemonic);
    } else {
        text = Format("%4lld %s ", here, mnemonic);
    }
    text = Cut(std::move(text), bufferSize);
}
