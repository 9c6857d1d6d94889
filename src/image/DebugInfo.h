#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

class CMOXLinker;

// What a source-level debugger needs to know about a linked image, taken from
// the linker that wrote it: every class with its record, fields and methods,
// every method with its code range, line table and local variables, in the
// image's own terms (class record offsets, method-table slots, code indices
// counted from the method's first byte in the image, prologue included).
// It lives beside the image, like the map exception reports use, because the
// line translation and the layout are this subsystem's; the image itself is
// not changed by it.

struct DebugLine {
    uint32_t codeIndex = 0;
    uint32_t line = 0;
};

struct DebugLocal {
    std::string name, signature;
    uint32_t start = 0;  // code index where it becomes visible
    uint32_t length = 0; // code bytes it stays visible
    uint16_t slot = 0;
};

struct DebugMethod {
    uint32_t slot = 0; // its method-table slot in its own class's record
    std::string name, signature;
    uint16_t modifiers = 0;
    bool hasCode = false;
    uint32_t codeOffset = 0; // image offset of its first byte (the prologue's, for main)
    uint32_t codeLength = 0; // prologue and code
    uint16_t argumentWords = 0; // `this` included
    std::vector<DebugLine> lines; // ascending code index
    std::vector<DebugLocal> locals;

    // The line of `codeIndex`, or -1 outside the code or without lines.
    int32_t LineAt(uint32_t codeIndex) const;
};

struct DebugField {
    std::string name, signature;
    uint16_t modifiers = 0;
    bool isStatic = false;
    bool isConstant = false;  // a static final the compiler folded: no storage
    int32_t constantValue = 0;
    uint32_t staticOffset = 0; // static: byte offset from the static area's start
    uint32_t objectOffset = 0; // instance: byte offset from the object's start
};

struct DebugClass {
    std::string name;      // internal form: pkg/Name
    std::string signature; // Lpkg/Name;
    std::string sourceFile; // file name only; empty when unknown
    uint16_t modifiers = 0;
    uint32_t record = 0;       // class record offset
    int32_t superIndex = -1;   // in ProgramDebugInfo::classes
    std::vector<DebugField> fields;
    std::vector<DebugMethod> methods;
};

struct DebugMethodRef {
    int32_t classIndex = -1;
    int32_t methodIndex = -1;
};

class ProgramDebugInfo {
public:
    std::vector<DebugClass> classes;

    const DebugClass* ClassAtRecord(uint32_t record) const;
    int32_t ClassIndexAtRecord(uint32_t record) const;
    int32_t ClassIndexByName(const std::string& name) const;
    // Any slot of a method-table entry, inherited ones included, leads to the
    // method that supplies the code.
    DebugMethodRef MethodAtSlot(uint32_t slot) const;
    // The method whose code holds image offset `pc`.
    DebugMethodRef MethodAtPc(uint32_t pc) const;
    const DebugMethod* Method(DebugMethodRef ref) const;
    // `classIndex` is `ancestor` or one of its subclasses.
    bool IsSubclass(int32_t classIndex, int32_t ancestor) const;

    // Filled by BuildDebugInfo.
    void AddSlot(uint32_t slot, DebugMethodRef ref) { bySlot_[slot] = ref; }
    void Index();

private:
    std::unordered_map<uint32_t, int32_t> byRecord_;
    std::unordered_map<std::string, int32_t> byName_;
    std::unordered_map<uint32_t, DebugMethodRef> bySlot_;
    std::map<uint32_t, DebugMethodRef> byCodeOffset_;
};

// From the linker that has just written the image. Classes the layout did
// not place have no record and are left out.
ProgramDebugInfo BuildDebugInfo(const CMOXLinker& linker);
