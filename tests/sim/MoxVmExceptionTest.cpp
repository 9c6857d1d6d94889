// Exception tables, unwinding, VM errors raised through
// Throwable.throwVMException, and how an exception nothing catches is
// reported.

#include "sim/VmTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

Machine RunMain(TestProgram& program, MoxCode code, std::vector<MoxHandler> handlers = {}, int locals = 4)
{
    code.Op(tReturn);
    Machine machine(program.Build(code, std::move(handlers), locals));
    machine.Run();
    return machine;
}

// The kind-4 report: class record offset, then pc + 1, both big-endian.
void ExpectUncaught(const Machine& machine, uint16_t classOffset, uint16_t pc, const char* name)
{
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsUncaught) << name;
    const RecordingLink::Message* report = machine.link.Find(4);
    ASSERT_NE(report, nullptr) << name;
    uint16_t reported = static_cast<uint16_t>(pc + 1);
    EXPECT_EQ(report->bytes, (std::vector<uint8_t>{static_cast<uint8_t>(classOffset >> 8), static_cast<uint8_t>(classOffset),
                                                   static_cast<uint8_t>(reported >> 8), static_cast<uint8_t>(reported)}))
        << name;
    EXPECT_EQ(machine.link.messages.back().kind, 5) << name << ": the program's end follows";
}

struct HandlerCase {
    const char* name;
    bool throwInsideRange;
    int catchClass; // 1 Throwable, 2 Error, 3 Exception
    bool caught;
};

TEST(MoxVmExceptionTest, HandlersCoverTheirRangeAndClass)
{
    const HandlerCase cases[] = {
        {"inside, exact class", true, 3, true},
        {"inside, superclass", true, 1, true},
        {"inside, unrelated class", true, 2, false},
        {"the instruction at the range's end", false, 3, false},
    };
    for (const HandlerCase& c : cases) {
        TestProgram program;
        MoxCode code;
        code.Label("start").Op(tNop).Push(1).Push(0);
        // The range ends just before the division, or just after it.
        if (!c.throwInsideRange)
            code.Label("end");
        code.Label("divide").Op(tIdiv).Op(tPop);
        if (c.throwInsideRange)
            code.Label("end");
        code.Op(tReturn);
        code.Label("caught").Op(tPop).Push(1).Store(2);
        Machine machine = RunMain(program, code, {{"start", "end", "caught", c.catchClass}});
        EXPECT_EQ(machine.Static(0), 1) << c.name << ": division by zero is VM error 1";
        if (c.caught) {
            EXPECT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded) << c.name;
            EXPECT_EQ(machine.Static(2), 1) << c.name;
        } else {
            const MoxAssembler& a = program.assembler;
            ExpectUncaught(machine, a.ClassOffset(program.exception), a.LabelOffset(a.MainMethod, "divide"), c.name);
        }
    }
}

TEST(MoxVmExceptionTest, AnExceptionUnwindsToTheCallersHandlerWithAFreshOperandStack)
{
    TestProgram program;
    MoxAssembler& a = program.assembler;
    MoxCode divide;
    divide.Op(tIload0).Push(0).Op(tIdiv).Op(tIreturn);
    int callee = a.AddMethod(program.mainClass, 1, 0, divide);
    MoxCode code;
    code.Push(77).Label("start").Push(5).Call(callee).Op(tPop).Label("end").Op(tPop).Op(tReturn);
    code.Label("caught").Store(2).Push(1).Store(3);
    Machine machine = RunMain(program, code, {{"start", "end", "caught", program.throwable}});
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded);
    EXPECT_EQ(machine.Static(3), 1);
    // The handler found the exception alone on its stack, not the 77.
    uint16_t thrown = static_cast<uint16_t>(machine.Static(2));
    EXPECT_EQ(machine.vm->Memory()->Read16(thrown), a.ClassOffset(program.exception));
}

TEST(MoxVmExceptionTest, UncaughtExceptionsAreReportedWhereFirstThrown)
{
    // Thrown in a callee, caught by a catch-all in main and thrown again, as
    // a finally block does: the report names the first throw, as a desktop
    // JVM's stack trace does.
    TestProgram program;
    MoxAssembler& a = program.assembler;
    int thrower = a.NextMethod();
    MoxCode throws;
    throws.Op(tNew).Class(program.error).Label("throw").Op(tAthrow);
    a.AddMethod(program.mainClass, 0, 0, throws);
    MoxCode code;
    code.Label("start").Call(thrower).Label("end").Op(tReturn);
    code.Label("finally").Op(tIstore0).Push(1).Store(2).Op(tIload0).Op(tAthrow);
    Machine machine = RunMain(program, code, {{"start", "end", "finally", program.throwable}});
    EXPECT_EQ(machine.Static(2), 1);
    ExpectUncaught(machine, a.ClassOffset(program.error), a.LabelOffset(thrower, "throw"), "rethrown");

    // A VM error is placed at the instruction that failed, not in the
    // library method that threw it.
    TestProgram second;
    MoxCode divide;
    divide.Push(1).Push(0).Label("divide").Op(tIdiv).Op(tPop);
    Machine failed = RunMain(second, divide);
    const MoxAssembler& b = second.assembler;
    ExpectUncaught(failed, b.ClassOffset(second.exception), b.LabelOffset(b.MainMethod, "divide"), "VM error");
}

TEST(MoxVmExceptionTest, AFullHeapThrowsThePreallocatedError)
{
    TestProgram program;
    MoxCode code;
    code.Op(tNew).Class(program.error).Store(1); // as Throwable's static initializer does
    code.Push(0).Op(tIstore0);
    code.Label("start").Label("more").Push(100).Op(tAnewarray).U8(0).U8(0);
    code.Op(tDup).Push(0).Op(tIload0).Op(tIastore).Op(tIstore0).Op(tGoto).Branch("more");
    code.Label("end").Label("caught").Store(3).Push(0).Op(tIstore0).Push(1).Store(2);
    Machine machine = RunMain(program, code, {{"start", "end", "caught", program.error}});
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded);
    EXPECT_EQ(machine.Static(0), 6);
    EXPECT_EQ(machine.Static(2), 1);
    EXPECT_EQ(machine.Static(3), machine.Static(1)) << "the same instance, made in advance";
}

struct CollectionCase {
    const char* name;
    std::function<void(TestProgram&, MoxCode&)> write;
    uint32_t ramBytes;
    int static2; // expected, or -1 when it holds a reference
    uint32_t liveAtTheEnd;
};

TEST(MoxVmExceptionTest, CollectionsFreeGarbageAndKeepWhatTheMachineHolds)
{
    const CollectionCase cases[] = {
        // 2000 arrays of 200 bytes, none kept: 25 times the heap.
        {"garbage is collected instead of running out",
         [](TestProgram&, MoxCode& code) {
             code.Push(2000).Op(tIstore0);
             code.Label("more").Push(100).Op(tNewarray).U8(0).Store(2);
             code.Op(tIinc).U8(0).U8(0xFF).Op(tIload0).Op(tIfgt).Branch("more");
         },
         MoxVm::kDefaultRamBytes, -1, 1},
        // A box first in a heap of about 1000 bytes, then 812 bytes of
        // garbage; the array of 306 that collects would take the box's place
        // if the operand stack's top word were not a root.
        {"the operand stack's top word is a root",
         [](TestProgram& program, MoxCode& code) {
             int box = program.assembler.AddClass("Box", program.object, 1);
             code.Op(tNew).Class(box).Op(tDup).Push(7).Op(tPutfield).Field(0);
             code.Push(200).Op(tNewarray).U8(0).Op(tPop).Push(200).Op(tNewarray).U8(0).Op(tPop);
             code.Push(150).Op(tNewarray).U8(0).Op(tPop);
             code.Op(tGetfield).Field(0).Store(2);
         },
         4096, 7, 0},
    };
    for (const CollectionCase& c : cases) {
        TestProgram program;
        MoxCode code;
        c.write(program, code);
        code.Op(tReturn);
        Machine machine(program.Build(code), c.ramBytes);
        machine.Run();
        ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded) << c.name;
        EXPECT_EQ(machine.Static(0), 0) << c.name << ": no VM error";
        if (c.static2 >= 0) {
            EXPECT_EQ(machine.Static(2), c.static2) << c.name;
        }
        machine.vm->CollectGarbage();
        EXPECT_EQ(machine.vm->Heap()->LiveObjects(), c.liveAtTheEnd) << c.name << ": only what a static holds";
    }
}

TEST(MoxVmExceptionTest, EndlessRecursionRaisesVmError7AndTheProgramGoesOn)
{
    TestProgram program;
    MoxAssembler& a = program.assembler;
    int recurse = a.NextMethod();
    MoxCode deeper;
    deeper.Op(tIload0).Push(1).Op(tIadd).Call(recurse).Op(tIreturn);
    a.AddMethod(program.mainClass, 1, 3, deeper);
    MoxCode twice;
    twice.Op(tIload0).Push(2).Op(tImul).Op(tIreturn);
    int doubler = a.AddMethod(program.mainClass, 1, 0, twice);
    MoxCode code;
    code.Label("start").Push(0).Call(recurse).Op(tPop).Label("end").Op(tReturn);
    // Unwound: the stack is whole again for further calls.
    code.Label("caught").Op(tPop).Push(1).Store(2).Push(21).Call(doubler).Store(3);
    Machine machine = RunMain(program, code, {{"start", "end", "caught", program.throwable}});
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsEnded);
    EXPECT_EQ(machine.Static(0), 7);
    EXPECT_EQ(machine.Static(2), 1);
    EXPECT_EQ(machine.Static(3), 42);
}

TEST(MoxVmExceptionTest, ErrorsWhileRaisingErrorsStopTheMachine)
{
    // No error made in advance: code 6 throws null, which raises code 2,
    // whose new Exception finds no room, which raises code 6 again... until
    // the reserve below the stack's end is used up.
    TestProgram program;
    MoxCode code;
    // Small objects fill the heap to its last few bytes.
    code.Label("more").Op(tNew).Class(program.exception).Op(tDup).Op(tIload0).Op(tPutfield).Field(0);
    code.Op(tIstore0).Op(tGoto).Branch("more");
    Machine machine = RunMain(program, code);
    ASSERT_EQ(machine.vm->GetState(), MoxVm::State::vsFaulted);
    EXPECT_EQ(machine.vm->Fault().code, VmFaultCode::vfStackOverflow);
    ASSERT_NE(machine.link.Find(2), nullptr);
    EXPECT_EQ(machine.link.Find(2)->bytes[0], static_cast<uint8_t>(VmFaultCode::vfStackOverflow));
}

TEST(MoxVmExceptionTest, AThrowVmExceptionThatReturnsIsAFault)
{
    MoxAssembler a;
    int object = a.AddClass("java/lang/Object", -1);
    int main = a.AddClass("Main", object);
    MoxCode returns;
    returns.Op(tReturn);
    a.ThrowVmMethod = a.AddMethod(main, 1, 0, returns);
    MoxCode code;
    code.Push(1).Push(0).Op(tIdiv).Op(tReturn);
    a.MainMethod = a.AddMethod(main, 0, 0, code);
    Machine machine(a.Build());
    EXPECT_EQ(machine.Run(), MoxVm::State::vsFaulted);
    EXPECT_EQ(machine.vm->Fault().code, VmFaultCode::vfVmErrorReturned);
}

} // namespace
