#pragma once

#include "classfile/JavaClass.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Writes small class files whose every byte the test chooses: the constant
// pool in the order the entries are asked for, then the class as described.
// Indexes in fields, methods and handlers are taken as given, so a test can
// point one at the wrong kind of entry on purpose.
class ClassFileBuilder {
public:
    using Attribute = std::pair<std::string, std::vector<uint8_t>>;

    struct Field {
        uint16_t accessFlags = 0;
        std::string name;
        std::string descriptor;
        std::optional<uint16_t> constantValue; // a ConstantValue attribute
        std::vector<Attribute> extraAttributes;
        std::optional<uint16_t> nameIndex;       // instead of an entry for name
        std::optional<uint16_t> descriptorIndex; // instead of an entry for descriptor
    };

    struct Method {
        uint16_t accessFlags = afStatic;
        std::string name = "run";
        std::string descriptor = "()V";
        bool hasCode = true;
        std::vector<uint8_t> code = {0xB1}; // return
        uint16_t maxStack = 2;
        uint16_t maxLocals = 2;
        std::vector<ExceptionTableEntry> handlers;
        std::vector<LineNumberEntry> lines;
        std::vector<LocalVariableEntry> locals;
        std::vector<Attribute> extraCodeAttributes; // written before the tables
        std::vector<Attribute> extraAttributes;     // written before Code
        std::vector<uint16_t> declaredExceptions;
        std::optional<uint16_t> nameIndex;       // instead of an entry for name
        std::optional<uint16_t> descriptorIndex; // instead of an entry for descriptor
    };

    explicit ClassFileBuilder(const std::string& thisName, const std::string& superName = "java/lang/Object");

    uint16_t Utf8(const std::string& text);
    uint16_t Class(const std::string& name);
    uint16_t String(const std::string& text);
    uint16_t Integer(int32_t value);
    uint16_t Float(uint32_t bits);
    uint16_t Long(uint32_t high, uint32_t low);
    uint16_t Double(uint32_t high, uint32_t low);
    uint16_t NameAndType(const std::string& name, const std::string& descriptor);
    uint16_t Fieldref(const std::string& owner, const std::string& name, const std::string& descriptor);
    uint16_t Methodref(const std::string& owner, const std::string& name, const std::string& descriptor);
    uint16_t InterfaceMethodref(const std::string& owner, const std::string& name, const std::string& descriptor);
    // An entry of any tag with the given u2 values, unchecked.
    uint16_t RawEntry(uint8_t tag, const std::vector<uint16_t>& values);
    // The index the next entry will get.
    uint16_t NextIndex() const { return static_cast<uint16_t>(nextIndex_); }

    void AddField(const Field& field);
    void AddMethod(const Method& method);
    void AddInterface(const std::string& name);
    void AddClassAttribute(const Attribute& attribute) { classAttributes_.push_back(attribute); }

    uint16_t minorVersion = 3;
    uint16_t majorVersion = 45;
    uint16_t thisClass;
    uint16_t superClass; // 0 for none

    std::vector<uint8_t> Build() const;

private:
    struct Entry {
        std::vector<uint8_t> bytes;
        int slots;
    };
    uint16_t Add(std::vector<uint8_t> bytes, int slots = 1);
    uint16_t Ref(uint8_t tag, const std::string& owner, const std::string& name, const std::string& descriptor);

    std::vector<Entry> pool_;
    int nextIndex_ = 1;
    std::vector<uint16_t> interfaces_;
    std::vector<std::vector<uint8_t>> fields_;
    std::vector<std::vector<uint8_t>> methods_;
    std::vector<Attribute> classAttributes_;
};

// Offset where the class attributes of a well-formed class file begin: the
// end of the part the reader parses. Walks the structure without keeping it.
size_t EndOfMethods(const std::vector<uint8_t>& classFile);
