#include "classfile/JavaClass.h"

#include "classfile/ClassFileCursor.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

#include <algorithm>

namespace {

constexpr uint32_t kMagic = 0xCAFEBABE;
constexpr uint16_t kMajorVersion = 45;
constexpr uint16_t kHighestMinorVersion = 3;

bool Tracing() { return Settings().TraceClassReader; }

bool ByLine(const LineNumberEntry& x, const LineNumberEntry& y) { return x.lineNumber < y.lineNumber; }

} // namespace

void CJavaClass::ReadClassFile()
{
    ClassFileCursor in(openFile_.get(), requestedName_);
    if (in.U4() != kMagic)
        throw EError(ecJVM, 18, requestedName_);
    const uint16_t minor = in.U2();
    const uint16_t major = in.U2();
    if (Tracing())
        DebugPrint("ClassLoader: class file version %d.%d\n", major, minor);
    if (major != kMajorVersion || minor > kHighestMinorVersion)
        throw EError(ecJVM, 19, requestedName_);

    ReadConstantPool(in);

    accessFlags_ = in.U2();
    thisClass_ = in.U2();
    superClass_ = in.U2();

    interfaceCount_ = in.U2();
    if (Tracing())
        DebugPrint("ClassLoader: %d interfaces\n", interfaceCount_);
    if (interfaceCount_ != 0)
        throw EError(ecJVM, 32);

    ReadFields(in);
    ReadMethods(in);

    // Class attributes (the source file name among them) are not needed: the
    // source file is derived from the class file's path.
    if (Tracing())
        DebugPrint("ClassLoader: ignoring any class attributes\n");
}

void CJavaClass::ReadConstantPool(ClassFileCursor& in)
{
    const uint16_t count = in.U2();
    if (Tracing())
        DebugPrint("ClassLoader: %d entries in constant pool\n", count);
    constantPool_.assign(count, ConstantPoolEntry{});
    for (uint32_t index = 1; index < count; ++index) {
        ConstantPoolEntry& entry = constantPool_[index];
        entry.tag = in.U1();
        switch (entry.tag) {
        case ctUtf8: {
            const uint16_t length = in.U2();
            in.Bytes(length, entry.text);
            entry.firstValue = length;
            break;
        }
        case ctInteger:
        case ctFloat:
            entry.firstValue = in.U4();
            break;
        case ctLong:
        case ctDouble:
            entry.firstValue = in.U4();
            entry.lowWord = in.U4();
            ++index; // the slot after a long or double stays unused
            break;
        case ctClass:
        case ctString:
            entry.firstValue = in.U2();
            break;
        case ctFieldref:
        case ctMethodref:
        case ctInterfaceMethodref:
        case ctNameAndType:
            entry.firstValue = in.U2();
            entry.secondValue = in.U2();
            break;
        default:
            throw EError(ecJVM, 21, entry.tag, requestedName_);
        }
    }
}

void CJavaClass::ReadFields(ClassFileCursor& in)
{
    const uint16_t count = in.U2();
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
        field.accessFlags = in.U2();
        field.nameIndex = in.U2();
        field.descriptorIndex = in.U2();
        field.attributeCount = in.U2();
        field.constantValueIndex = 0;
        if (Tracing())
            DebugPrint("ClassLoader: field: `%s' of type %s\n", FieldName(i).c_str(), FieldDescriptor(i).c_str());
        for (int a = 0; a < field.attributeCount; ++a) {
            const std::string& name = Utf8Text(in.U2());
            const uint32_t length = in.U4();
            if (name == "ConstantValue") {
                field.constantValueIndex = in.U2();
            } else {
                if (Tracing())
                    DebugPrint("ClassLoader: skipping unknown attribute `%s'\n", name.c_str());
                in.Skip(length);
            }
        }
        // Numbered after the attributes: whether a field is a constant
        // depends on its ConstantValue.
        if (!FieldIsConstant(i))
            field.slot = (field.accessFlags & afStatic) ? staticFields++ : instanceFields++;
    }
}

void CJavaClass::ReadMethods(ClassFileCursor& in)
{
    const uint16_t count = in.U2();
    if (Tracing())
        DebugPrint("ClassLoader: %d methods\n", count);
    methods_.clear();
    methods_.resize(count);
    for (int i = 0; i < count; ++i) {
        MethodInfo& method = methods_[i];
        method.accessFlags = in.U2();
        method.nameIndex = in.U2();
        method.descriptorIndex = in.U2();
        const uint16_t attributes = in.U2();
        if (Tracing())
            DebugPrint("ClassLoader: method: `%s' of type %s\n", MethodName(i).c_str(), MethodDescriptor(i).c_str());
        for (int a = 0; a < attributes; ++a) {
            const std::string& name = Utf8Text(in.U2());
            const uint32_t length = in.U4();
            if (name == "Code") {
                ReadCode(in, method);
            } else if (name == "Exceptions") {
                const uint16_t declared = in.U2();
                method.declaredExceptions.resize(declared);
                for (uint16_t& index : method.declaredExceptions)
                    index = in.U2();
            } else {
                if (Tracing())
                    DebugPrint("ClassLoader: skipping unknown attribute `%s'\n", name.c_str());
                in.Skip(length);
            }
        }
    }
}

void CJavaClass::ReadCode(ClassFileCursor& in, MethodInfo& method)
{
    method.maxStack = in.U2();
    method.maxLocals = in.U2();
    const uint32_t codeLength = in.U4();
    method.localVariables.clear();
    method.lineNumbers.clear();
    method.exceptionTable.clear();
    in.Bytes(codeLength, method.code);

    method.exceptionTable.resize(in.U2());
    for (ExceptionTableEntry& entry : method.exceptionTable) {
        entry.startPc = in.U2();
        entry.endPc = in.U2();
        entry.handlerPc = in.U2();
        entry.catchType = in.U2();
    }

    const uint16_t subAttributes = in.U2();
    for (int a = 0; a < subAttributes; ++a) {
        const std::string& name = Utf8Text(in.U2());
        const uint32_t length = in.U4();
        if (name == "LocalVariableTable") {
            method.localVariables.resize(in.U2());
            for (LocalVariableEntry& entry : method.localVariables) {
                entry.startPc = in.U2();
                entry.length = in.U2();
                entry.nameIndex = in.U2();
                entry.descriptorIndex = in.U2();
                entry.slot = in.U2();
            }
        } else if (name == "LineNumberTable") {
            method.lineNumbers.resize(in.U2());
            for (LineNumberEntry& entry : method.lineNumbers) {
                entry.startPc = in.U2();
                entry.lineNumber = in.U2();
            }
            // Sorted by line, not by pc: the line lookup relies on the last
            // entry holding the method's greatest line. Most tables already
            // are, and checking spares the sort its scratch buffer.
            if (!std::is_sorted(method.lineNumbers.begin(), method.lineNumbers.end(), ByLine))
                std::stable_sort(method.lineNumbers.begin(), method.lineNumbers.end(), ByLine);
        } else {
            if (Tracing())
                DebugPrint("ClassLoader: skipping unknown Code attribute `%s' of length %d\n", name.c_str(),
                           static_cast<int>(length));
            in.Skip(length);
        }
    }
}
