#include "classfile/JavaClass.h"

#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"
#include "platform/FileNames.h"

#include <limits>

namespace {

[[noreturn]] void InternalError() { throw EError(ecIDE, 48); }

[[noreturn]] void CodeIndexOutOfRange() { throw EError(ecJVM, 23); }

bool IsWideType(char c) { return c == 'J' || c == 'D'; }

} // namespace

// --- Constant pool -------------------------------------------------------

const ConstantPoolEntry& CJavaClass::Constant(int index) const
{
    if (index < 0 || index >= ConstantPoolCount())
        Corrupt();
    return constantPool_[index];
}

uint8_t CJavaClass::ConstantTag(int index) const { return Constant(index).tag; }

const ConstantPoolEntry& CJavaClass::Entry(int index, uint8_t tag) const
{
    const ConstantPoolEntry& entry = Constant(index);
    if (entry.tag != tag)
        Corrupt();
    return entry;
}

const ConstantPoolEntry& CJavaClass::RefEntry(int index) const
{
    const ConstantPoolEntry& entry = Constant(index);
    if (entry.tag != ctFieldref && entry.tag != ctMethodref && entry.tag != ctInterfaceMethodref)
        Corrupt();
    return entry;
}

const ConstantPoolEntry& CJavaClass::NameAndTypeOfRef(int index) const
{
    return Entry(RefEntry(index).secondValue, ctNameAndType);
}

const std::string& CJavaClass::Utf8Text(int index) const { return Entry(index, ctUtf8).text; }

uint16_t CJavaClass::ClassNameIndex(int index) const
{
    return static_cast<uint16_t>(Entry(index, ctClass).firstValue);
}

const std::string& CJavaClass::ClassNameOf(int index) const { return Utf8Text(ClassNameIndex(index)); }

uint16_t CJavaClass::RefClassIndex(int index) const { return static_cast<uint16_t>(RefEntry(index).firstValue); }

uint16_t CJavaClass::RefNameIndex(int index) const
{
    return static_cast<uint16_t>(NameAndTypeOfRef(index).firstValue);
}

uint16_t CJavaClass::RefDescriptorIndex(int index) const { return NameAndTypeOfRef(index).secondValue; }

const std::string& CJavaClass::RefClassName(int index) const { return ClassNameOf(RefClassIndex(index)); }

const std::string& CJavaClass::RefName(int index) const { return Utf8Text(RefNameIndex(index)); }

const std::string& CJavaClass::RefDescriptor(int index) const { return Utf8Text(RefDescriptorIndex(index)); }

uint16_t CJavaClass::StringIndex(int index) const
{
    return static_cast<uint16_t>(Entry(index, ctString).firstValue);
}

const std::string& CJavaClass::StringText(int index) const { return Utf8Text(StringIndex(index)); }

bool CJavaClass::IsStringConstant(int index) const
{
    return index >= 0 && index < ConstantPoolCount() && constantPool_[index].tag == ctString;
}

const std::string& CJavaClass::ThisClassName() const { return ClassNameOf(thisClass_); }

const std::string& CJavaClass::SuperClassName() const
{
    static const std::string none;
    return superClass_ == 0 ? none : ClassNameOf(superClass_);
}

// --- Fields --------------------------------------------------------------

const FieldInfo& CJavaClass::Field(int i) const
{
    if (i < 0 || i >= FieldCount())
        InternalError();
    return fields_[i];
}

const std::string& CJavaClass::FieldName(int i) const { return Utf8Text(Field(i).nameIndex); }

const std::string& CJavaClass::FieldDescriptor(int i) const { return Utf8Text(Field(i).descriptorIndex); }

uint16_t CJavaClass::FieldSlot(int i) const { return Field(i).slot; }

void CJavaClass::SetFieldSlot(int i, uint16_t slot)
{
    Field(i);
    fields_[i].slot = slot;
}

bool CJavaClass::FieldIsStatic(int i) const { return (Field(i).accessFlags & afStatic) != 0; }

// Only a field whose value the compiler has put into every use can do
// without a place in memory: a static final of a primitive type that carries
// its value in the class file. A final instance field is still stored by its
// constructor, and a static final assigned by a static initializer is still
// read from its slot, so both keep one.
bool CJavaClass::FieldIsConstant(int i) const
{
    const FieldInfo& field = Field(i);
    if ((field.accessFlags & afFinal) == 0 || (field.accessFlags & afStatic) == 0 || field.constantValueIndex == 0)
        return false;
    const std::string& descriptor = FieldDescriptor(i);
    return descriptor.empty() || (descriptor[0] != 'L' && descriptor[0] != '[');
}

int CJavaClass::FieldSize(int i) const
{
    const std::string& descriptor = FieldDescriptor(i);
    return !descriptor.empty() && IsWideType(descriptor[0]) ? 2 : 1;
}

int CJavaClass::InstanceFieldCount() const
{
    int count = 0;
    for (int i = 0; i < FieldCount(); ++i)
        if (!FieldIsStatic(i) && !FieldIsConstant(i))
            ++count;
    return count;
}

int CJavaClass::FieldIndex(const std::string& name) const
{
    for (int i = 0; i < FieldCount(); ++i)
        if (FieldName(i) == name)
            return i;
    throw EError(ecJVM, 14, name);
}

// --- Methods -------------------------------------------------------------

const MethodInfo& CJavaClass::MethodAt(int i) const
{
    if (i < 0 || i >= MethodCount())
        InternalError();
    return methods_[i];
}

MethodInfo& CJavaClass::MethodAt(int i)
{
    if (i < 0 || i >= MethodCount())
        InternalError();
    return methods_[i];
}

const MethodInfo& CJavaClass::Method(int i) const { return MethodAt(i); }

const std::string& CJavaClass::MethodName(int i) const { return Utf8Text(MethodAt(i).nameIndex); }

const std::string& CJavaClass::MethodDescriptor(int i) const { return Utf8Text(MethodAt(i).descriptorIndex); }

bool CJavaClass::MethodIsStatic(int i) const { return (MethodAt(i).accessFlags & afStatic) != 0; }

bool CJavaClass::MethodIsNative(int i) const { return (MethodAt(i).accessFlags & afNative) != 0; }

uint32_t CJavaClass::CodeLength(int i) const { return static_cast<uint32_t>(MethodAt(i).code.size()); }

uint8_t CJavaClass::CodeByte(int i, uint32_t pc) const
{
    const MethodInfo& method = MethodAt(i);
    if (pc >= method.code.size())
        CodeIndexOutOfRange();
    return method.code[pc];
}

int CJavaClass::CodeWord(int i, uint32_t pc) const
{
    const MethodInfo& method = MethodAt(i);
    if (uint64_t{pc} + 2 > method.code.size())
        CodeIndexOutOfRange();
    return method.code[pc] * 256 + method.code[pc + 1];
}

int32_t CJavaClass::CodeOffset(int i) const { return MethodAt(i).codeOffset; }

void CJavaClass::SetCodeOffset(int i, int32_t offset) { MethodAt(i).codeOffset = offset; }

int CJavaClass::ExceptionCount(int i) const { return static_cast<int>(MethodAt(i).exceptionTable.size()); }

ExceptionEntry CJavaClass::ExceptionAt(int i, int k) const
{
    const MethodInfo& method = MethodAt(i);
    if (k < 0 || k >= static_cast<int>(method.exceptionTable.size()))
        InternalError();
    const ExceptionTableEntry& entry = method.exceptionTable[k];
    ExceptionEntry result{entry.startPc, entry.endPc, entry.handlerPc, {}};
    if (entry.catchType != 0)
        result.catchClassName = ClassNameOf(entry.catchType);
    return result;
}

int CJavaClass::MethodIndex(const std::string& name, const std::string& descriptor) const
{
    for (int i = 0; i < MethodCount(); ++i)
        if (MethodName(i) == name && MethodDescriptor(i) == descriptor)
            return i;
    throw EError(ecJVM, 14, name);
}

int CJavaClass::ParameterCount(int i) const
{
    const std::string& descriptor = MethodDescriptor(i);
    const auto unknown = [&](char c) { return EError(ecJVM, 22, c, MethodName(i)); };
    const auto isOneWord = [](char c) {
        return c == 'B' || c == 'C' || c == 'F' || c == 'I' || c == 'S' || c == 'Z';
    };
    int count = 0;
    size_t at = 1; // after the opening '('
    while (at < descriptor.size()) {
        const char c = descriptor[at++];
        if (c == ')')
            return MethodIsStatic(i) ? count : count + 1;
        if (isOneWord(c)) {
            count += 1;
        } else if (IsWideType(c)) {
            count += 2;
        } else if (c == 'L') {
            at = descriptor.find(';', at);
            at = at == std::string::npos ? descriptor.size() : at + 1;
            count += 1;
        } else if (c == '[') {
            // An array is one reference, whatever its element type.
            while (at < descriptor.size() && descriptor[at] == '[')
                ++at;
            if (at < descriptor.size()) {
                const char element = descriptor[at++];
                if (element == 'L') {
                    at = descriptor.find(';', at);
                    at = at == std::string::npos ? descriptor.size() : at + 1;
                } else if (!isOneWord(element) && !IsWideType(element)) {
                    throw unknown(element);
                }
            }
            count += 1;
        } else {
            throw unknown(c);
        }
    }
    return count;
}

// --- Code scanning ---------------------------------------------------------

uint32_t CJavaClass::InstructionLength(int i, uint32_t pc) const
{
    const MethodInfo& method = MethodAt(i);
    const uint32_t length = JavaInstructionLength(method.code.data(), static_cast<uint32_t>(method.code.size()), pc);
    if (length == 0)
        CodeIndexOutOfRange();
    return length;
}

int CJavaClass::NextInstruction(int i, uint32_t& pc) const
{
    const uint32_t length = InstructionLength(i, pc);
    const int opcode = methods_[i].code[pc];
    pc += length;
    return opcode;
}

// --- Line numbers ----------------------------------------------------------

int CJavaClass::LineOfPc(int i, int64_t imagePc) const
{
    const MethodInfo& method = MethodAt(i);
    if (method.lineNumbers.empty())
        throw EError(ecJVM, 26, dottedName_);
    const int64_t relative = imagePc - method.codeOffset;
    int line = method.lineNumbers.back().lineNumber;
    int64_t best = -1;
    for (const LineNumberEntry& entry : method.lineNumbers) {
        if (entry.startPc <= relative && entry.startPc > best) {
            best = entry.startPc;
            line = entry.lineNumber;
        }
    }
    return line;
}

void CJavaClass::ShiftLineNumbers(int i, int amount)
{
    MethodInfo& method = MethodAt(i);
    for (const LineNumberEntry& entry : method.lineNumbers) {
        const int64_t moved = int64_t{entry.startPc} + amount;
        if (entry.startPc != 0 && (moved < 0 || moved > std::numeric_limits<uint16_t>::max()))
            CodeIndexOutOfRange();
    }
    for (LineNumberEntry& entry : method.lineNumbers)
        if (entry.startPc != 0)
            entry.startPc = static_cast<uint16_t>(entry.startPc + amount);
}

// --- Names -----------------------------------------------------------------

const std::string& CJavaClass::SourceFileName()
{
    if (filePath_.empty() || sourceFileNameMade_)
        return sourceFileName_;
    sourceFileName_ = filePath_;
    // Only the file name is searched for '$': a '$' in a directory name says
    // nothing about nesting.
    size_t nameStart = sourceFileName_.size();
    while (nameStart > 0 && !IsDirectorySeparator(sourceFileName_[nameStart - 1]))
        --nameStart;
    const size_t dollar = sourceFileName_.rfind('$');
    if (dollar != std::string::npos && dollar >= nameStart)
        sourceFileName_.resize(dollar);
    else
        sourceFileName_.resize(sourceFileName_.size() >= 6 ? sourceFileName_.size() - 6 : 0);
    sourceFileName_ += ".java";
    sourceFileNameMade_ = true;
    return sourceFileName_;
}

// --- Linker tables -----------------------------------------------------------

void CJavaClass::SetTables(std::vector<FieldTableEntry> fieldTable, std::vector<MethodTableEntry> methodTable)
{
    fieldTable_ = std::move(fieldTable);
    methodTable_ = std::move(methodTable);
    tablesBuilt_ = true;
}

CJavaClass* CJavaClass::MethodTableDefiningClass(int k) const
{
    if (k < 0 || k >= MethodTableCount())
        InternalError();
    return methodTable_[k].definingClass;
}

uint16_t CJavaClass::MethodTableMethodIndex(int k) const
{
    if (k < 0 || k >= MethodTableCount())
        InternalError();
    return methodTable_[k].methodIndex;
}

void CJavaClass::SetMethodTableImageOffset(int k, uint16_t offset)
{
    if (k < 0 || k >= MethodTableCount())
        InternalError();
    methodTable_[k].imageOffset = offset;
}

void CJavaClass::SetMethodTableClassOffset(int k, uint16_t offset)
{
    if (k < 0 || k >= MethodTableCount())
        InternalError();
    methodTable_[k].classRelativeOffset = offset;
}

int CJavaClass::MethodTableFind(const std::string& name, const std::string& descriptor) const
{
    // From the last entry: a subclass's own entries come after the ones it inherits.
    for (int k = MethodTableCount() - 1; k >= 0; --k)
        if (methodTable_[k].methodName == name && methodTable_[k].descriptor == descriptor)
            return k;
    throw EError(ecJVM, 31, ThisClassName(), name);
}

uint16_t CJavaClass::MethodTableImageOffset(const std::string& name, const std::string& descriptor) const
{
    return methodTable_[MethodTableFind(name, descriptor)].imageOffset;
}

uint16_t CJavaClass::MethodTableClassOffset(const std::string& name, const std::string& descriptor) const
{
    return methodTable_[MethodTableFind(name, descriptor)].classRelativeOffset;
}

int CJavaClass::MethodTableIndex(const std::string& name, const std::string& descriptor) const
{
    return MethodTableFind(name, descriptor);
}

uint16_t CJavaClass::FieldTableWordOffset(const std::string& className, const std::string& fieldName,
                                          const std::string& descriptor) const
{
    for (int k = FieldTableCount() - 1; k >= 0; --k)
        if (fieldTable_[k].fieldName == fieldName && fieldTable_[k].descriptor == descriptor)
            return fieldTable_[k].wordOffset;
    throw EError(ecJVM, 28, className, fieldName);
}
