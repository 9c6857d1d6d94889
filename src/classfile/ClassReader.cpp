#include "classfile/JavaClass.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

#include <algorithm>

namespace {

constexpr uint32_t kMagic = 0xCAFEBABE;
constexpr uint16_t kMajorVersion = 45;
constexpr uint16_t kHighestMinorVersion = 3;

// Blocks are read in pieces of this size, so that a corrupt length costs no
// more memory than the file actually holds.
constexpr uint32_t kReadPiece = 64 * 1024;

bool Tracing() { return Settings().TraceClassReader; }

} // namespace

uint8_t CJavaClass::ReadU1()
{
    uint8_t byte;
    if (std::fread(&byte, 1, 1, openFile_.get()) != 1)
        Corrupt();
    return byte;
}

uint16_t CJavaClass::ReadU2()
{
    uint8_t bytes[2];
    if (std::fread(bytes, 1, 2, openFile_.get()) != 2)
        Corrupt();
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t CJavaClass::ReadU4()
{
    uint8_t bytes[4];
    if (std::fread(bytes, 1, 4, openFile_.get()) != 4)
        Corrupt();
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
}

void CJavaClass::ReadBytes(uint32_t count, std::vector<uint8_t>& block)
{
    block.clear();
    while (block.size() < count) {
        const size_t done = block.size();
        const size_t piece = std::min<size_t>(count - done, kReadPiece);
        block.resize(done + piece);
        if (std::fread(block.data() + done, 1, piece, openFile_.get()) != piece)
            Corrupt();
    }
}

void CJavaClass::SkipBytes(uint32_t count)
{
    uint8_t scratch[4096];
    while (count > 0) {
        const size_t piece = std::min<size_t>(count, sizeof scratch);
        if (std::fread(scratch, 1, piece, openFile_.get()) != piece)
            Corrupt();
        count -= static_cast<uint32_t>(piece);
    }
}

void CJavaClass::ReadClassFile()
{
    if (ReadU4() != kMagic)
        throw EError(ecJVM, 18, requestedName_);
    const uint16_t minor = ReadU2();
    const uint16_t major = ReadU2();
    if (Tracing())
        DebugPrint("ClassLoader: class file version %d.%d\n", major, minor);
    if (major != kMajorVersion || minor > kHighestMinorVersion)
        throw EError(ecJVM, 19, requestedName_);

    ReadConstantPool();

    accessFlags_ = ReadU2();
    thisClass_ = ReadU2();
    superClass_ = ReadU2();

    interfaceCount_ = ReadU2();
    if (Tracing())
        DebugPrint("ClassLoader: %d interfaces\n", interfaceCount_);
    if (interfaceCount_ != 0)
        throw EError(ecJVM, 32);

    ReadFields();
    ReadMethods();

    // Class attributes (the source file name among them) are not needed: the
    // source file is derived from the class file's path.
    if (Tracing())
        DebugPrint("ClassLoader: ignoring any class attributes\n");
}

void CJavaClass::ReadConstantPool()
{
    const uint16_t count = ReadU2();
    if (Tracing())
        DebugPrint("ClassLoader: %d entries in constant pool\n", count);
    constantPool_.assign(count, ConstantPoolEntry{});
    std::vector<uint8_t> bytes;
    for (uint32_t index = 1; index < count; ++index) {
        ConstantPoolEntry& entry = constantPool_[index];
        entry.tag = ReadU1();
        switch (entry.tag) {
        case ctUtf8: {
            const uint16_t length = ReadU2();
            ReadBytes(length, bytes);
            entry.firstValue = length;
            entry.text.assign(bytes.begin(), bytes.end());
            break;
        }
        case ctInteger:
        case ctFloat:
            entry.firstValue = ReadU4();
            break;
        case ctLong:
        case ctDouble:
            entry.firstValue = ReadU4();
            entry.lowWord = ReadU4();
            ++index; // the slot after a long or double stays unused
            break;
        case ctClass:
        case ctString:
            entry.firstValue = ReadU2();
            break;
        case ctFieldref:
        case ctMethodref:
        case ctInterfaceMethodref:
        case ctNameAndType:
            entry.firstValue = ReadU2();
            entry.secondValue = ReadU2();
            break;
        default:
            throw EError(ecJVM, 21, entry.tag, requestedName_);
        }
    }
}

void CJavaClass::ReadFields()
{
    const uint16_t count = ReadU2();
    fields_.clear();
    if (count == 0)
        return;
    if (Tracing())
        DebugPrint("ClassLoader: %d fields\n", count);
    fields_.resize(count);
    uint16_t staticFields = 0;
    uint16_t instanceFields = 0;
    for (int i = 0; i < count; ++i) {
        FieldInfo& field = fields_[i];
        field.accessFlags = ReadU2();
        field.nameIndex = ReadU2();
        field.descriptorIndex = ReadU2();
        field.attributeCount = ReadU2();
        field.constantValueIndex = 0;
        if (Tracing())
            DebugPrint("ClassLoader: field: `%s' of type %s\n", FieldName(i).c_str(), FieldDescriptor(i).c_str());
        for (int a = 0; a < field.attributeCount; ++a) {
            const std::string& name = Utf8Text(ReadU2());
            const uint32_t length = ReadU4();
            if (name == "ConstantValue") {
                field.constantValueIndex = ReadU2();
            } else {
                if (Tracing())
                    DebugPrint("ClassLoader: skipping unknown attribute `%s'\n", name.c_str());
                SkipBytes(length);
            }
        }
        // Numbered after the attributes: whether a field is a constant
        // depends on its ConstantValue.
        if (!FieldIsConstant(i))
            field.slot = (field.accessFlags & afStatic) ? staticFields++ : instanceFields++;
    }
}

void CJavaClass::ReadMethods()
{
    const uint16_t count = ReadU2();
    if (Tracing())
        DebugPrint("ClassLoader: %d methods\n", count);
    methods_.clear();
    methods_.resize(count);
    for (int i = 0; i < count; ++i) {
        MethodInfo& method = methods_[i];
        method.accessFlags = ReadU2();
        method.nameIndex = ReadU2();
        method.descriptorIndex = ReadU2();
        const uint16_t attributes = ReadU2();
        if (Tracing())
            DebugPrint("ClassLoader: method: `%s' of type %s\n", MethodName(i).c_str(), MethodDescriptor(i).c_str());
        for (int a = 0; a < attributes; ++a) {
            const std::string& name = Utf8Text(ReadU2());
            const uint32_t length = ReadU4();
            if (name == "Code") {
                ReadCode(method);
            } else if (name == "Exceptions") {
                const uint16_t declared = ReadU2();
                method.declaredExceptions.resize(declared);
                for (uint16_t& index : method.declaredExceptions)
                    index = ReadU2();
            } else {
                if (Tracing())
                    DebugPrint("ClassLoader: skipping unknown attribute `%s'\n", name.c_str());
                SkipBytes(length);
            }
        }
    }
}

void CJavaClass::ReadCode(MethodInfo& method)
{
    method.maxStack = ReadU2();
    method.maxLocals = ReadU2();
    const uint32_t codeLength = ReadU4();
    method.localVariables.clear();
    method.lineNumbers.clear();
    method.exceptionTable.clear();
    ReadBytes(codeLength, method.code);

    method.exceptionTable.resize(ReadU2());
    for (ExceptionTableEntry& entry : method.exceptionTable) {
        entry.startPc = ReadU2();
        entry.endPc = ReadU2();
        entry.handlerPc = ReadU2();
        entry.catchType = ReadU2();
    }

    const uint16_t subAttributes = ReadU2();
    for (int a = 0; a < subAttributes; ++a) {
        const std::string& name = Utf8Text(ReadU2());
        const uint32_t length = ReadU4();
        if (name == "LocalVariableTable") {
            method.localVariables.resize(ReadU2());
            for (LocalVariableEntry& entry : method.localVariables) {
                entry.startPc = ReadU2();
                entry.length = ReadU2();
                entry.nameIndex = ReadU2();
                entry.descriptorIndex = ReadU2();
                entry.slot = ReadU2();
            }
        } else if (name == "LineNumberTable") {
            method.lineNumbers.resize(ReadU2());
            for (LineNumberEntry& entry : method.lineNumbers) {
                entry.startPc = ReadU2();
                entry.lineNumber = ReadU2();
            }
            // Sorted by line, not by pc: the line lookup relies on the last
            // entry holding the method's greatest line.
            std::stable_sort(method.lineNumbers.begin(), method.lineNumbers.end(),
                             [](const LineNumberEntry& x, const LineNumberEntry& y) { return x.lineNumber < y.lineNumber; });
        } else {
            if (Tracing())
                DebugPrint("ClassLoader: skipping unknown Code attribute `%s' of length %d\n", name.c_str(),
                           static_cast<int>(length));
            SkipBytes(length);
        }
    }
}
