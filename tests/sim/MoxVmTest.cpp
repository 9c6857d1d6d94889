// The interpreter, one opcode family at a time, on hand-assembled images.

#include "sim/VmTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs main and returns the machine; main ends with `return`.
Machine RunMain(TestProgram& program, MoxCode code, std::vector<MoxHandler> handlers = {}, int locals = 4)
{
    code.Op(tReturn);
    Machine machine(program.Build(code, std::move(handlers), locals));
    machine.Run();
    return machine;
}

struct ArithmeticCase {
    const char* name;
    int op;
    int a, b; // b unused by the unary operations
    int expected;
    int carry; // -1: not looked at
};

TEST(MoxVmTest, ArithmeticWrapsAtSixteenBits)
{
    const ArithmeticCase cases[] = {
        {"iadd overflows to the minimum", tIadd, 32767, 1, -32768, 0},
        {"iadd of -1 and 1 carries", tIadd, -1, 1, 0, 1},
        {"isub borrows below zero", tIsub, 0, 1, -1, 1},
        {"isub without borrow", tIsub, 5, 3, 2, 0},
        {"imul keeps the low 16 bits", tImul, 300, 300, 24464, -1},
        {"imul of signs", tImul, -2, 3, -6, -1},
        {"idiv truncates towards zero", tIdiv, 7, -2, -3, -1},
        {"idiv of the minimum by -1 wraps", tIdiv, -32768, -1, -32768, -1},
        {"irem takes the dividend's sign", tIrem, -7, 2, -1, -1},
        {"irem of the minimum by -1", tIrem, -32768, -1, 0, -1},
        {"ineg of the minimum", tIneg, -32768, 0, -32768, -1},
        {"ishl into the sign bit", tIshl, 1, 15, -32768, -1},
        {"ishl out of the word", tIshl, 1, 16, 0, -1},
        {"ishr keeps the sign", tIshr, -32768, 15, -1, -1},
        {"iushr fills with zeros at 16 bits", tIushr, -1, 12, 15, -1},
        {"iushr masks the count with 31", tIushr, -32768, 47, 1, -1},
        {"iand", tIand, 0x0FF0, 0x00FF, 0x00F0, -1},
        {"ior", tIor, 0x0F00, 0x00F0, 0x0FF0, -1},
        {"ixor", tIxor, -1, 0x0F0F, -3856, -1},
        {"i2b keeps the low byte unsigned", tI2b, -1, 0, 255, -1},
        {"i2c is i2b", tI2c, 0x1E9, 0, 0xE9, -1},
        {"i2s changes nothing", tI2s, -300, 0, -300, -1},
    };
    for (const ArithmeticCase& c : cases) {
        TestProgram program;
        int carry = program.assembler.AddNative(program.mainClass, "tolve/core/CPU", "carry", 0);
        MoxCode code;
        code.Push(c.a);
        bool unary = c.op == tIneg || c.op == tI2b || c.op == tI2c || c.op == tI2s;
        if (!unary)
            code.Push(c.b);
        code.Op(c.op).Store(2).Call(carry).Store(3);
        Machine machine = RunMain(program, code);
        ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded) << c.name;
        EXPECT_EQ(machine.Static(2), c.expected) << c.name;
        if (c.carry >= 0) {
            EXPECT_EQ(machine.Static(3), c.carry) << c.name;
        }
    }
}

struct BranchCase {
    const char* name;
    int op;
    int a, b;
    bool taken;
};

TEST(MoxVmTest, ConditionalBranchesCompareSignedWords)
{
    const BranchCase cases[] = {
        {"ifeq on 0", tIfeq, 0, 0, true},          {"ifeq on 1", tIfeq, 1, 0, false},
        {"ifne on -1", tIfne, -1, 0, true},        {"iflt on -1", tIflt, -1, 0, true},
        {"iflt on 0", tIflt, 0, 0, false},         {"ifge on 0", tIfge, 0, 0, true},
        {"ifgt on the minimum", tIfgt, -32768, 0, false}, {"ifle on 0", tIfle, 0, 0, true},
        {"if_icmplt is signed", tIfIcmplt, -1, 1, true}, {"if_icmpgt is signed", tIfIcmpgt, -1, 1, false},
        {"if_icmpge on equals", tIfIcmpge, 7, 7, true}, {"if_icmple", tIfIcmple, 8, 7, false},
        {"if_icmpeq", tIfIcmpeq, -5, -5, true},      {"if_icmpne", tIfIcmpne, -5, -5, false},
        {"if_acmpeq", tIfAcmpeq, 300, 300, true},   {"if_acmpne", tIfAcmpne, 300, 301, true},
    };
    for (const BranchCase& c : cases) {
        TestProgram program;
        MoxCode code;
        code.Push(c.a);
        if (c.op >= tIfIcmpeq)
            code.Push(c.b);
        code.Op(c.op).Branch("taken").Push(0).Store(2).Op(tReturn);
        code.Label("taken").Push(1).Store(2);
        Machine machine = RunMain(program, code);
        EXPECT_EQ(machine.Static(2), c.taken ? 1 : 0) << c.name;
    }
}

struct StackCase {
    const char* name;
    int op;
    std::vector<int> topFirst; // the stack after 1, 2, 3, 4 and the operation
};

TEST(MoxVmTest, StackOperationsOnWords)
{
    const StackCase cases[] = {
        {"pop", tPop, {3, 2, 1}},
        {"pop2", tPop2, {2, 1}},
        {"dup", tDup, {4, 4, 3, 2, 1}},
        {"dup_x1", tDupX1, {4, 3, 4, 2, 1}},
        {"dup_x2", tDupX2, {4, 3, 2, 4, 1}},
        {"dup2", tDup2, {4, 3, 4, 3, 2, 1}},
        {"dup2_x1", tDup2X1, {4, 3, 2, 4, 3, 1}},
        {"dup2_x2", tDup2X2, {4, 3, 2, 1, 4, 3}},
        {"swap", tSwap, {3, 4, 2, 1}},
    };
    for (const StackCase& c : cases) {
        TestProgram program;
        MoxCode code;
        code.Push(1).Push(2).Push(3).Push(4).Op(c.op);
        // Six statics hold what is left; the rest is dropped.
        for (size_t i = 0; i < c.topFirst.size(); ++i) {
            if (i < 6)
                code.Store(2 + static_cast<int>(i));
            else
                code.Op(tPop);
        }
        Machine machine = RunMain(program, code);
        ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded) << c.name;
        for (size_t i = 0; i < c.topFirst.size() && i < 6; ++i)
            EXPECT_EQ(machine.Static(2 + static_cast<int>(i)), c.topFirst[i]) << c.name << " at " << i;
    }
}

TEST(MoxVmTest, LocalsWideFormsAndIinc)
{
    TestProgram program;
    int carry = program.assembler.AddNative(program.mainClass, "tolve/core/CPU", "carry", 0);
    MoxCode code;
    // Local 100 exists (main has 120 locals) and is reached only widened.
    code.Push(1234).Op(tWide).Op(tIstore).U16(100);
    code.Op(tWide).Op(tIinc).U16(100).U16(1000);
    code.Op(tWide).Op(tIload).U16(100).Store(2);
    // iinc adds its constant as a 16-bit word: -1 on 5 carries.
    code.Push(5).Op(tIstore1).Op(tIinc).U8(1).U8(0xFF);
    code.Op(tIload1).Store(3).Call(carry).Store(4);
    code.Push(7).Op(tIstore).U8(119).Op(tIload).U8(119).Store(5);
    Machine machine = RunMain(program, code, {}, 120);
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded);
    EXPECT_EQ(machine.Static(2), 2234);
    EXPECT_EQ(machine.Static(3), 4);
    EXPECT_EQ(machine.Static(4), 1);
    EXPECT_EQ(machine.Static(5), 7);
}

TEST(MoxVmTest, StringLiteralsAreObjectsInTheImage)
{
    TestProgram program;
    MoxAssembler& a = program.assembler;
    a.StringClass = a.AddClass("java/lang/String", program.object, 2);
    a.AddString("abc");
    int second = a.AddString("h\xE9llo");
    MoxCode code;
    code.Op(tLdcW).U16(second).Op(tGetfield).Field(0).Store(2);                  // count
    code.Op(tLdc).U8(second).Op(tGetfield).Field(1).Push(1).Op(tBaload).Store(3); // value[1], unsigned
    code.Op(tLdc).U8(0).Op(tGetfield).Field(1).Op(tArraylength).Store(4);
    Machine machine = RunMain(program, code);
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded);
    EXPECT_EQ(machine.Static(2), 5);
    EXPECT_EQ(machine.Static(3), 0xE9);
    EXPECT_EQ(machine.Static(4), 3);
}

struct ArrayCase {
    const char* name;
    bool bytes;
    int length;
    int index;
    int stored;
    int expected;  // the value read back, when no error
    int vmError;   // 0: none
};

TEST(MoxVmTest, ArraysCheckTheirBoundsAndElementSize)
{
    const ArrayCase cases[] = {
        {"byte elements keep 8 bits", true, 3, 2, 300, 44, 0},
        {"byte elements read unsigned", true, 3, 0, -23, 233, 0},
        {"word elements keep 16 bits", false, 3, 1, -5, -5, 0},
        {"index equal to the length", false, 3, 3, 1, 0, 3},
        {"negative index", true, 3, -1, 1, 0, 3},
        {"empty array", false, 0, 0, 1, 0, 3},
        {"negative size", false, -1, 0, 1, 0, 4},
    };
    for (const ArrayCase& c : cases) {
        TestProgram again;
        MoxCode guarded;
        guarded.Label("start");
        guarded.Push(c.length).Op(tNewarray).U8(c.bytes ? 1 : 0).Op(tIstore0);
        guarded.Op(tIload0).Push(c.index).Push(c.stored).Op(c.bytes ? tBastore : tIastore);
        guarded.Op(tIload0).Push(c.index).Op(c.bytes ? tBaload : tIaload).Store(2);
        guarded.Op(tIload0).Op(tArraylength).Store(3).Label("end").Op(tReturn);
        guarded.Label("caught").Op(tPop);
        Machine run = RunMain(again, guarded, {{"start", "end", "caught", again.throwable}});
        ASSERT_EQ(run.vm->GetState(), MoxVm::State::vsEnded) << c.name;
        EXPECT_EQ(run.Static(0), c.vmError) << c.name;
        if (c.vmError == 0) {
            EXPECT_EQ(run.Static(2), c.expected) << c.name;
            EXPECT_EQ(run.Static(3), c.length) << c.name;
        }
    }
}

struct NullCase {
    const char* name;
    std::function<void(MoxCode&, TestProgram&)> use;
};

TEST(MoxVmTest, NullReferencesRaiseVmError2)
{
    const NullCase cases[] = {
        {"getfield", [](MoxCode& c, TestProgram&) { c.Push(0).Op(tGetfield).Field(0).Op(tPop); }},
        {"putfield", [](MoxCode& c, TestProgram&) { c.Push(0).Push(1).Op(tPutfield).Field(0); }},
        {"arraylength", [](MoxCode& c, TestProgram&) { c.Push(0).Op(tArraylength).Op(tPop); }},
        {"iaload", [](MoxCode& c, TestProgram&) { c.Push(0).Push(0).Op(tIaload).Op(tPop); }},
        {"athrow", [](MoxCode& c, TestProgram&) { c.Push(0).Op(tAthrow); }},
        {"invokevirtual", [](MoxCode& c, TestProgram&) { c.Push(0).Op(tInvokevirtual).Virtual(1, 0).Op(tPop); }},
    };
    for (const NullCase& c : cases) {
        TestProgram program;
        MoxCode code;
        code.Label("start");
        c.use(code, program);
        code.Label("end").Op(tReturn).Label("caught").Op(tPop);
        Machine machine = RunMain(program, code, {{"start", "end", "caught", program.exception}});
        ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded) << c.name;
        EXPECT_EQ(machine.Static(0), 2) << c.name;
    }
}

TEST(MoxVmTest, CheckcastWithoutAClassChecksNothing)
{
    TestProgram program;
    MoxCode code;
    code.Label("start");
    // As the linker writes it: no class, so any reference passes.
    code.Op(tNew).Class(program.object).Op(tCheckcast).U16(0).Store(2);
    // A class written there is checked.
    code.Op(tNew).Class(program.object).Op(tCheckcast).Class(program.error).Store(3);
    code.Label("end").Op(tReturn).Label("caught").Op(tPop);
    Machine machine = RunMain(program, code, {{"start", "end", "caught", program.throwable}});
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded);
    EXPECT_NE(machine.Static(2), 0);
    EXPECT_EQ(machine.Static(0), 5);
}

} // namespace
