#pragma once

#include "classfile/CObject.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Constant-pool tags of the class file format.
enum ConstantPoolTag : uint8_t {
    ctUnused = 0, // entry 0 and the second slot of a Long or Double
    ctUtf8 = 1,
    ctInteger = 3,
    ctFloat = 4,
    ctLong = 5,
    ctDouble = 6,
    ctClass = 7,
    ctString = 8,
    ctFieldref = 9,
    ctMethodref = 10,
    ctInterfaceMethodref = 11,
    ctNameAndType = 12,
};

enum AccessFlag : uint16_t {
    afStatic = 0x0008,
    afFinal = 0x0010,
    afNative = 0x0100,
};

struct ConstantPoolEntry {
    uint8_t tag = ctUnused;
    // Utf8: byte length; Integer: value; Float: bit pattern; Long/Double: high
    // word; Class: name index; String: Utf8 index; refs: class index;
    // NameAndType: name index.
    uint32_t firstValue = 0;
    // refs: name-and-type index; NameAndType: descriptor index.
    uint16_t secondValue = 0;
    uint32_t lowWord = 0;  // Long/Double
    std::string text;      // Utf8: the bytes as stored, not decoded
};

struct FieldInfo {
    uint16_t accessFlags = 0;
    uint16_t nameIndex = 0;
    uint16_t descriptorIndex = 0;
    uint16_t attributeCount = 0;
    uint16_t constantValueIndex = 0; // 0: no ConstantValue attribute
    // Instance field: its number among the class's non-constant instance
    // fields. Static field: its number among the class's static fields until
    // the linker replaces it with the program-wide index. Unused for constants.
    uint16_t slot = 0;
};

struct ExceptionTableEntry {
    uint16_t startPc = 0;
    uint16_t endPc = 0;
    uint16_t handlerPc = 0;
    uint16_t catchType = 0; // 0 catches everything
};

struct LineNumberEntry {
    uint16_t startPc = 0;
    uint16_t lineNumber = 0;
};

struct LocalVariableEntry {
    uint16_t startPc = 0;
    uint16_t length = 0;
    uint16_t nameIndex = 0;
    uint16_t descriptorIndex = 0;
    uint16_t slot = 0;
};

struct MethodInfo {
    uint16_t accessFlags = 0;
    uint16_t nameIndex = 0;
    uint16_t descriptorIndex = 0;
    uint16_t maxStack = 0;
    uint16_t maxLocals = 0;
    std::vector<uint8_t> code; // empty for a native or abstract method
    std::vector<ExceptionTableEntry> exceptionTable;
    std::vector<LocalVariableEntry> localVariables;
    std::vector<LineNumberEntry> lineNumbers; // ascending by line number
    std::vector<uint16_t> declaredExceptions; // Class entries
    int32_t codeOffset = 0;                   // image offset of the code
};

class CJavaClass;
class ClassFileCursor;

// One slot of an object's instance fields, inherited ones first.
struct FieldTableEntry {
    std::string ownerClassName;
    std::string fieldName;
    std::string descriptor;
    uint16_t slot = 0;
    uint16_t wordOffset = 0; // in 16-bit words from the object's first field
    uint16_t size = 0;       // in words: 2 for long and double
};

// One entry of the dispatch table: inherited entries keep their position in
// every subclass, an override takes the position of what it overrides.
struct MethodTableEntry {
    std::string implementingClassName;
    std::string methodName;
    std::string descriptor;
    uint16_t imageOffset = 0;
    uint16_t classRelativeOffset = 0;
    CJavaClass* definingClass = nullptr; // supplies the code
    uint16_t methodIndex = 0;            // in the defining class's methods
};

// One handler of a method as the linker and image writer see it.
struct ExceptionEntry {
    uint16_t startPc = 0;
    uint16_t endPc = 0;
    uint16_t handlerPc = 0;
    std::string catchClassName; // empty when the handler catches everything
};

// One Java class file in memory: what the reader found in the file and the
// tables the linker adds. Every query checks its index: constant-pool indexes
// come from the class file and a bad one raises JVM 20 naming the class; code
// positions raise JVM 23; field, method and table indexes come from the
// linker's own loops and a bad one is an internal error (IDE 48).
class CJavaClass : public CObject {
public:
    // Longest text a listing or constant text holds, terminator included.
    static constexpr size_t kListingBufferSize = 256;

    CJavaClass(const std::string& requestedName, const std::string& classPath);
    ~CJavaClass() override;
    CJavaClass(const CJavaClass&) = delete;
    CJavaClass& operator=(const CJavaClass&) = delete;

    // Finds the class file along the class path and reads it. Any error leaves
    // the class unloaded and empty, with its file closed, and propagates.
    void load();
    bool IsLoaded() const { return loaded_; }

    const std::string& RequestedName() const { return requestedName_; }
    const std::string& DottedName() const { return dottedName_; }
    const std::string& ClassPath() const { return classPath_; }
    const std::string& FilePath() const { return filePath_; }
    // The class file path with the part from the last '$' of its file name,
    // or else its ".class", replaced by ".java"; empty before the load.
    const std::string& SourceFileName();

    // Constant pool.
    int ConstantPoolCount() const { return static_cast<int>(constantPool_.size()); }
    const ConstantPoolEntry& Constant(int index) const;
    uint8_t ConstantTag(int index) const;
    const std::string& Utf8Text(int index) const;
    uint16_t ClassNameIndex(int index) const;          // of a Class entry
    const std::string& ClassNameOf(int index) const;   // of a Class entry
    uint16_t RefClassIndex(int index) const;           // of a field, method or interface ref
    uint16_t RefNameIndex(int index) const;
    uint16_t RefDescriptorIndex(int index) const;
    const std::string& RefClassName(int index) const;
    const std::string& RefName(int index) const;
    const std::string& RefDescriptor(int index) const;
    uint16_t StringIndex(int index) const;             // of a String entry
    const std::string& StringText(int index) const;
    bool IsStringConstant(int index) const;            // false also for an index outside the pool

    // Class header.
    uint16_t AccessFlags() const { return accessFlags_; }
    uint16_t ThisClassIndex() const { return thisClass_; }
    uint16_t SuperClassIndex() const { return superClass_; }
    const std::string& ThisClassName() const;
    bool HasSuperClass() const { return superClass_ != 0; }
    const std::string& SuperClassName() const; // empty without a super class
    uint16_t InterfaceCount() const { return interfaceCount_; }

    // Fields.
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    const FieldInfo& Field(int i) const;
    const std::string& FieldName(int i) const;
    const std::string& FieldDescriptor(int i) const;
    uint16_t FieldSlot(int i) const;
    void SetFieldSlot(int i, uint16_t slot);
    bool FieldIsStatic(int i) const;
    bool FieldIsConstant(int i) const;
    int FieldSize(int i) const;
    int InstanceFieldCount() const;
    int FieldIndex(const std::string& name) const; // JVM 14 when absent

    // Methods.
    int MethodCount() const { return static_cast<int>(methods_.size()); }
    const MethodInfo& Method(int i) const;
    const std::string& MethodName(int i) const;
    const std::string& MethodDescriptor(int i) const;
    bool MethodIsStatic(int i) const;
    bool MethodIsNative(int i) const;
    uint32_t CodeLength(int i) const;
    uint8_t CodeByte(int i, uint32_t pc) const;
    int CodeWord(int i, uint32_t pc) const; // big-endian, unsigned
    int32_t CodeOffset(int i) const;
    void SetCodeOffset(int i, int32_t offset);
    int ExceptionCount(int i) const;
    ExceptionEntry ExceptionAt(int i, int k) const;
    int MethodIndex(const std::string& name, const std::string& descriptor) const; // JVM 14 when absent

    // Argument words of method i, the receiver included for an instance method.
    int ParameterCount(int i) const;
    // Bytes of the instruction at pc, operands and switch table included.
    uint32_t InstructionLength(int i, uint32_t pc) const;
    // The opcode at pc; pc moves to the next instruction.
    int NextInstruction(int i, uint32_t& pc) const;
    // Source line of an image position inside method i (JVM 26 without lines).
    int LineOfPc(int i, int64_t imagePc) const;
    // Adds amount to every line entry of method i that does not start at pc 0.
    void ShiftLineNumbers(int i, int amount);

    // Listing (ClassListing.cpp). Texts are cut to bufferSize - 1 characters.
    std::string ConstantText(int index, size_t bufferSize = kListingBufferSize) const;
    // The text of the instruction at pc, or the empty text at an operand byte
    // of the instruction listed before (then the result is false).
    bool ListInstruction(int method, uint32_t pc, std::string& text, size_t bufferSize = kListingBufferSize);

    // Linker tables.
    bool TablesBuilt() const { return tablesBuilt_; }
    void SetTables(std::vector<FieldTableEntry> fieldTable, std::vector<MethodTableEntry> methodTable);
    const std::vector<FieldTableEntry>& FieldTable() const { return fieldTable_; }
    const std::vector<MethodTableEntry>& MethodTable() const { return methodTable_; }
    int FieldTableCount() const { return static_cast<int>(fieldTable_.size()); }
    int MethodTableCount() const { return static_cast<int>(methodTable_.size()); }
    CJavaClass* MethodTableDefiningClass(int k) const;
    uint16_t MethodTableMethodIndex(int k) const;
    void SetMethodTableImageOffset(int k, uint16_t offset);
    void SetMethodTableClassOffset(int k, uint16_t offset);
    // Dispatch-table lookups, from the last entry backwards (JVM 31 when absent).
    uint16_t MethodTableImageOffset(const std::string& name, const std::string& descriptor) const;
    uint16_t MethodTableClassOffset(const std::string& name, const std::string& descriptor) const;
    int MethodTableIndex(const std::string& name, const std::string& descriptor) const;
    // Word offset of a field in an object of this class (JVM 28 when absent).
    uint16_t FieldTableWordOffset(const std::string& className, const std::string& fieldName,
                                  const std::string& descriptor) const;

private:
    struct FileCloser {
        void operator()(FILE* file) const { std::fclose(file); }
    };

    // ClassSearch.cpp
    void OpenClassFile();
    // ClassReader.cpp
    void ReadClassFile();
    void ReadConstantPool(ClassFileCursor& in);
    void ReadFields(ClassFileCursor& in);
    void ReadMethods(ClassFileCursor& in);
    void ReadCode(ClassFileCursor& in, MethodInfo& method);
    void ReleaseContents();
    // ClassValidation.cpp
    void Validate() const;

    [[noreturn]] void Corrupt() const;
    const ConstantPoolEntry& Entry(int index, uint8_t tag) const;
    const ConstantPoolEntry& RefEntry(int index) const;
    const ConstantPoolEntry& NameAndTypeOfRef(int index) const;
    const MethodInfo& MethodAt(int i) const;
    MethodInfo& MethodAt(int i);
    int MethodTableFind(const std::string& name, const std::string& descriptor) const;
    void FormatInstruction(const MethodInfo& method, uint32_t pc, std::string& text, size_t bufferSize) const;

    bool loaded_ = false;
    std::unique_ptr<FILE, FileCloser> openFile_;
    std::string requestedName_;
    std::string dottedName_;
    std::string classPath_;
    std::string filePath_;
    std::string sourceFileName_;
    bool sourceFileNameMade_ = false;

    std::vector<ConstantPoolEntry> constantPool_;
    uint16_t accessFlags_ = 0;
    uint16_t thisClass_ = 0;
    uint16_t superClass_ = 0;
    uint16_t interfaceCount_ = 0;
    std::vector<FieldInfo> fields_;
    std::vector<MethodInfo> methods_;

    // Listing state: where the last listed instruction was and how many of
    // its operand bytes are still to be answered with an empty text.
    int64_t lastListedPc_ = -1;
    int32_t lastListedMethod_ = -1;
    int64_t operandBytesPending_ = 0;

    std::vector<MethodTableEntry> methodTable_;
    std::vector<FieldTableEntry> fieldTable_;
    bool tablesBuilt_ = false;
};
