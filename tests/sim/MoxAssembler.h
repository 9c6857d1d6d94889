#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Hand-assembled Mox images for the simulator's tests: classes with their
// method tables, method bodies written instruction by instruction with
// labels, exception tables and string literals, laid out as the linker lays
// them out (header, class records, code, string tables), so that a test says
// exactly which bytes the virtual machine meets.

// Java opcodes the tests write (the assembler writes their Mox numbers).
enum TestOpcode : int {
    tNop = 0, tIconstM1 = 2, tIconst0 = 3, tIconst1 = 4, tIconst2 = 5, tIconst3 = 6, tIconst4 = 7, tIconst5 = 8,
    tBipush = 16, tSipush = 17, tLdc = 18, tLdcW = 19, tLdc2W = 20, tIload = 21, tIload0 = 26, tIload1 = 27,
    tIload2 = 28, tIload3 = 29, tIaload = 46, tBaload = 51, tIstore = 54, tIstore0 = 59, tIstore1 = 60,
    tIstore2 = 61, tIstore3 = 62, tIastore = 79, tBastore = 84, tPop = 87, tPop2 = 88, tDup = 89, tDupX1 = 90,
    tDupX2 = 91, tDup2 = 92, tDup2X1 = 93, tDup2X2 = 94, tSwap = 95, tIadd = 96, tIsub = 100, tImul = 104,
    tIdiv = 108, tIrem = 112, tIneg = 116, tIshl = 120, tIshr = 122, tIushr = 124, tIand = 126, tIor = 128,
    tIxor = 130, tIinc = 132, tI2b = 145, tI2c = 146, tI2s = 147, tIfeq = 153, tIfne = 154, tIflt = 155,
    tIfge = 156, tIfgt = 157, tIfle = 158, tIfIcmpeq = 159, tIfIcmpne = 160, tIfIcmplt = 161, tIfIcmpge = 162,
    tIfIcmpgt = 163, tIfIcmple = 164, tIfAcmpeq = 165, tIfAcmpne = 166, tGoto = 167, tJsr = 168, tRet = 169,
    tTableswitch = 170, tLookupswitch = 171, tIreturn = 172, tReturn = 177, tGetstatic = 178, tPutstatic = 179,
    tGetfield = 180, tPutfield = 181, tInvokevirtual = 182, tInvokestatic = 184, tInvokeinterface = 185,
    tNew = 187, tNewarray = 188, tAnewarray = 189, tArraylength = 190, tAthrow = 191, tCheckcast = 192,
    tInstanceof = 193, tWide = 196,
};

class MoxCode {
public:
    // An instruction's opcode (its Mox number is written).
    MoxCode& Op(int javaOpcode);
    // A raw byte, for bytes that are no Mox opcode.
    MoxCode& Byte(int value);
    MoxCode& U8(int value) { return Byte(value); }
    MoxCode& U16(int value);
    // A branch offset to `label`, relative to the last opcode (2 bytes).
    MoxCode& Branch(const std::string& label);
    // The 2-byte method-table slot offset of a method (invokestatic).
    MoxCode& Slot(int method);
    // invokevirtual's two bytes: argument words × 2 and the slot's position
    // in its class record.
    MoxCode& Virtual(int arguments, int tablePosition);
    // The 2-byte class record offset of a class (new, instanceof).
    MoxCode& Class(int classIndex);
    // getstatic/putstatic of static field `index`; getfield/putfield of
    // field `index` (word offset × 2 + 2).
    MoxCode& Static(int index) { return U16(index * 2); }
    MoxCode& Field(int index) { return U16(index * 2 + 2); }
    MoxCode& Label(const std::string& name);
    // A switch as the linker writes it (offsets one below Java's, counted
    // from the switch's opcode).
    MoxCode& TableSwitch(int low, const std::vector<std::string>& targets, const std::string& fallback);

    // Common sequences.
    MoxCode& Push(int value);             // iconst, bipush or sipush
    MoxCode& Call(int method);            // invokestatic
    MoxCode& Store(int staticIndex) { return Op(tPutstatic).Static(staticIndex); }

    size_t Size() const { return bytes_.size(); }

private:
    friend class MoxAssembler;
    struct Fixup {
        enum Kind { fxBranch, fxSlot, fxClass, fxSwitch } kind;
        size_t at;      // where the 2 bytes go
        size_t opcode;  // the instruction's opcode position (branches)
        int target;     // method or class
        std::string label;
    };
    std::vector<uint8_t> bytes_;
    std::vector<Fixup> fixups_;
    std::map<std::string, size_t> labels_;
    size_t lastOpcode_ = 0;
};

struct MoxHandler {
    std::string start, end, handler;
    int catchClass;
};

class MoxAssembler {
public:
    // A class with `fields` instance fields; `superclass` -1 for none.
    int AddClass(const std::string& name, int superclass, int fields = 0);
    // A method declared by `owner`, appended to its method table. `arguments`
    // counts words (this included); `locals` the further local words.
    int AddMethod(int owner, int arguments, int locals, const MoxCode& code, std::vector<MoxHandler> handlers = {});
    // A native method of the class library by its class and method name.
    int AddNative(int owner, const std::string& className, const std::string& methodName, int arguments);
    // Appends to `owner`'s method table an entry for a method declared
    // elsewhere (an inherited method keeps its code).
    void AddTableEntry(int owner, int method);
    int AddString(const std::string& text);
    // The index the next method added will get (for a method that calls
    // itself).
    int NextMethod() const { return static_cast<int>(methods_.size()); }

    int StaticFields = 0;
    int ObjectClass = 0, StringClass = -1, OutOfMemoryClass = 0;
    int MainMethod = -1, ThrowVmMethod = -1;

    std::vector<uint8_t> Build();

    // After Build: where things landed.
    uint16_t ClassOffset(int classIndex) const { return classOffsets_.at(static_cast<size_t>(classIndex)); }
    uint16_t SlotOffset(int method) const;
    uint16_t CodeOffset(int method) const { return codeOffsets_.at(static_cast<size_t>(method)); }
    // Image offset of `label` in `method`'s code.
    uint16_t LabelOffset(int method, const std::string& label) const;
    uint16_t StackBase() const { return stackBase_; }

private:
    struct ClassInfo {
        std::string name;
        int superclass;
        int fields;
        std::vector<int> table; // methods, in table order
    };
    struct MethodInfo {
        int owner;
        int arguments;
        int locals;
        bool native;
        int nativeIndex;
        MoxCode code;
        std::vector<MoxHandler> handlers;
    };
    std::vector<ClassInfo> classes_;
    std::vector<MethodInfo> methods_;
    std::vector<std::string> strings_;
    std::vector<uint16_t> classOffsets_;
    std::vector<uint16_t> codeOffsets_;
    std::map<int, uint16_t> slotOffsets_;
    uint16_t stackBase_ = 0;
};

// A small world most tests start from: java/lang/Object (class 0),
// Throwable (1) whose throwVMException stores its code in static field 0 and
// throws a new Throwable, Error (2) and Exception (3), both subclasses of
// Throwable, and a main class (4) whose main is `main` (static fields: 0 the
// last VM error code, 1.. free for the test).
struct TestProgram {
    MoxAssembler assembler;
    int object = 0, throwable = 1, error = 2, exception = 3, mainClass = 4;
    int throwVm = -1;

    TestProgram();
    // Adds main with `code` (and its handlers) and builds the image.
    std::vector<uint8_t> Build(const MoxCode& mainCode, std::vector<MoxHandler> handlers = {}, int mainLocals = 4);
};
