#include "classfile/JavaClass.h"

// Everything the queries, the linker and the image writer later reach
// through an index stored in the file is checked once here; a class that
// fails is refused whole with JVM 20 (Corrupt). The checks are those a
// well-formed class file always passes, so they never change how a good
// class loads. Operands inside the code are not checked here: the queries
// that read them check each index as it is used.
void CJavaClass::Validate() const
{
    const auto utf8 = [&](uint32_t index) { Utf8Text(static_cast<int>(index)); };
    const auto classEntry = [&](uint32_t index) { ClassNameOf(static_cast<int>(index)); };

    for (int index = 1; index < ConstantPoolCount(); ++index) {
        const ConstantPoolEntry& entry = constantPool_[index];
        switch (entry.tag) {
        case ctClass:
        case ctString:
            utf8(entry.firstValue);
            break;
        case ctFieldref:
        case ctMethodref:
        case ctInterfaceMethodref:
            classEntry(entry.firstValue);
            Entry(entry.secondValue, ctNameAndType);
            break;
        case ctNameAndType:
            utf8(entry.firstValue);
            utf8(entry.secondValue);
            break;
        default:
            break;
        }
    }

    classEntry(thisClass_);
    if (superClass_ != 0)
        classEntry(superClass_);

    for (const FieldInfo& field : fields_) {
        utf8(field.nameIndex);
        if (Utf8Text(field.descriptorIndex).empty())
            Corrupt();
        if (field.constantValueIndex != 0) {
            const uint8_t tag = Constant(field.constantValueIndex).tag;
            if (tag != ctInteger && tag != ctFloat && tag != ctLong && tag != ctDouble && tag != ctString)
                Corrupt();
        }
    }

    for (const MethodInfo& method : methods_) {
        utf8(method.nameIndex);
        const std::string& descriptor = Utf8Text(method.descriptorIndex);
        if (descriptor.empty() || descriptor[0] != '(')
            Corrupt();
        const uint64_t codeLength = method.code.size();
        for (const ExceptionTableEntry& entry : method.exceptionTable) {
            if (entry.startPc >= entry.endPc || entry.endPc > codeLength || entry.handlerPc >= codeLength)
                Corrupt();
            if (entry.catchType != 0)
                classEntry(entry.catchType);
        }
        for (const LineNumberEntry& entry : method.lineNumbers)
            if (entry.startPc >= codeLength)
                Corrupt();
        for (const LocalVariableEntry& entry : method.localVariables) {
            if (uint64_t{entry.startPc} + entry.length > codeLength)
                Corrupt();
            utf8(entry.nameIndex);
            utf8(entry.descriptorIndex);
        }
        for (uint16_t index : method.declaredExceptions)
            classEntry(index);
    }
}
