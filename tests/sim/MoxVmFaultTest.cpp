// Bad images: the image in EEPROM is untrusted, so whatever it holds, the
// machine stops with a fault and a report; the simulator never fails.

#include "sim/VmTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

struct FaultCase {
    const char* name;
    // Writes main (and whatever else) and returns the image.
    std::function<std::vector<uint8_t>(TestProgram&)> build;
    VmFaultCode fault;
    int reportedOpcode = -1; // the kind-1 message's byte, when one is due
    uint32_t ramBytes = MoxVm::kDefaultRamBytes;
};

std::vector<uint8_t> Main(TestProgram& program, std::function<void(MoxCode&)> write, int locals = 4)
{
    MoxCode code;
    write(code);
    code.Op(tReturn);
    return program.Build(code, {}, locals);
}

std::vector<uint8_t> Patched(TestProgram& program, std::function<void(std::vector<uint8_t>&)> patch)
{
    std::vector<uint8_t> image = Main(program, [](MoxCode& c) { c.Push(1).Store(2); });
    patch(image);
    return image;
}

TEST(MoxVmFaultTest, BadImagesStopTheMachineWithAReport)
{
    const FaultCase cases[] = {
        {"no run marker", [](TestProgram& p) { return Patched(p, [](auto& i) { i[0] = 0; }); }, VmFaultCode::vfBadHeader},
        {"another version", [](TestProgram& p) { return Patched(p, [](auto& i) { i[2] = 2; }); }, VmFaultCode::vfBadHeader},
        {"stack base inside the image", [](TestProgram& p) { return Patched(p, [](auto& i) { i[18] = 0, i[19] = 0x20; }); },
         VmFaultCode::vfBadHeader},
        {"main slot in the header", [](TestProgram& p) { return Patched(p, [](auto& i) { i[4] = 0, i[5] = 4; }); },
         VmFaultCode::vfBadHeader},
        {"no room for the stack", [](TestProgram& p) { return Patched(p, [](auto&) {}); }, VmFaultCode::vfImageTooLarge, -1,
         2048},
        {"the largest image: its stack base at 64 KiB, read as 0",
         [](TestProgram& p) { return Patched(p, [](auto& i) { i.resize(0xFFF8), i[18] = 0, i[19] = 0; }); },
         VmFaultCode::vfImageTooLarge},
        {"a byte that is no opcode", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Byte(52); }); },
         VmFaultCode::vfUnknownOpcode, 52},
        {"invokeinterface", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tInvokeinterface).U16(0).U8(1).U8(0); }); },
         VmFaultCode::vfUnknownOpcode, 69},
        {"ldc2_w", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tLdc2W).U16(1); }); },
         VmFaultCode::vfUnknownOpcode, 105},
        {"wide iadd", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tWide).Op(tIadd).U16(0); }); },
         VmFaultCode::vfUnknownOpcode, 49},
        {"a jump out of the program", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tGoto).U16(0x7000); }); },
         VmFaultCode::vfCodeOutOfRange},
        {"a jump backwards out of the program", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tGoto).U16(0x8000); }); },
         VmFaultCode::vfCodeOutOfRange},
        {"a placeholder native",
         [](TestProgram& p) {
             int native = p.assembler.AddNative(p.mainClass, "tolve/core/CPU", "carry", 0);
             std::vector<uint8_t> image = Main(p, [&](MoxCode& c) { c.Call(native).Op(tPop); });
             uint16_t slot = p.assembler.SlotOffset(native);
             image[slot + 3u] = 0, image[slot + 4u] = 5;
             return image;
         },
         VmFaultCode::vfBadNative},
        {"a native with other arguments",
         [](TestProgram& p) {
             int native = p.assembler.AddNative(p.mainClass, "tolve/core/CPU", "delay", 2);
             return Main(p, [&](MoxCode& c) { c.Push(1).Push(2).Call(native); });
         },
         VmFaultCode::vfBadNative},
        {"a static field beyond the count", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tGetstatic).Static(8).Op(tPop); }); },
         VmFaultCode::vfBadStaticField},
        {"a local beyond the frame", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tIload).U8(4).Op(tPop); }); },
         VmFaultCode::vfBadLocal},
        {"popping the caller's operands", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tPop); }); },
         VmFaultCode::vfOperandStack},
        {"a string number beyond the table", [](TestProgram& p) { return Main(p, [](MoxCode& c) { c.Op(tLdc).U8(9).Op(tPop); }); },
         VmFaultCode::vfBadString},
        {"a write into the program",
         [](TestProgram& p) {
             p.assembler.StringClass = p.assembler.AddClass("java/lang/String", p.object, 2);
             p.assembler.AddString("text");
             return Main(p, [](MoxCode& c) { c.Op(tLdc).U8(0).Push(1).Op(tPutfield).Field(0); });
         },
         VmFaultCode::vfWriteOutOfRange},
        {"a class that is its own superclass",
         [](TestProgram& p) {
             int loop = p.assembler.AddClass("Loop", p.object);
             std::vector<uint8_t> image =
                 Main(p, [&](MoxCode& c) { c.Op(tNew).Class(loop).Op(tInstanceof).Class(p.exception).Op(tPop); });
             uint16_t record = p.assembler.ClassOffset(loop);
             image[record] = static_cast<uint8_t>(record >> 8), image[record + 1u] = static_cast<uint8_t>(record);
             return image;
         },
         VmFaultCode::vfBadClass},
    };
    for (const FaultCase& c : cases) {
        TestProgram program;
        Machine machine(c.build(program), c.ramBytes);
        EXPECT_EQ(machine.Run(), MoxVm::State::vsFaulted) << c.name;
        EXPECT_EQ(machine.vm->Fault().code, c.fault) << c.name;
        const RecordingLink::Message* report = machine.link.Find(2);
        ASSERT_NE(report, nullptr) << c.name;
        EXPECT_EQ(report->bytes.at(0), static_cast<uint8_t>(c.fault)) << c.name;
        const RecordingLink::Message* opcode = machine.link.Find(1);
        if (c.reportedOpcode < 0) {
            EXPECT_EQ(opcode, nullptr) << c.name;
        } else {
            ASSERT_NE(opcode, nullptr) << c.name;
            EXPECT_EQ(opcode->bytes, std::vector<uint8_t>{static_cast<uint8_t>(c.reportedOpcode)}) << c.name;
        }
        EXPECT_EQ(machine.vm->Pc(), -1) << c.name;
    }
}

TEST(MoxVmFaultTest, DamagedImagesNeverTakeTheSimulatorDown)
{
    // A program using calls, fields, arrays, strings, switches and handlers,
    // damaged a few bytes at a time. Each run must end in a state the module
    // can report, within its instruction budget; the sanitizer builds check
    // that no access strays.
    TestProgram program;
    MoxAssembler& a = program.assembler;
    a.StringClass = a.AddClass("java/lang/String", program.object, 2);
    a.AddString("damaged");
    int box = a.AddClass("Box", program.object, 2);
    MoxCode get;
    get.Op(tIload0).Op(tGetfield).Field(1).Op(tIreturn);
    a.AddMethod(box, 1, 0, get);
    int message = a.AddNative(program.mainClass, "tolve/core/CPU", "message", 2);
    MoxCode code;
    code.Label("start").Push(10).Op(tIstore0);
    code.Label("loop").Op(tNew).Class(box).Op(tDup).Op(tIload0).Op(tPutfield).Field(1);
    code.Op(tInvokevirtual).Virtual(1, 0).Op(tIload0).TableSwitch(0, {"zero", "one"}, "other");
    code.Label("zero").Label("one").Label("other").Op(tPop);
    code.Op(tLdc).U8(0).Op(tGetfield).Field(1).Push(3).Call(message);
    code.Push(11).Op(tNewarray).U8(1).Op(tIload0).Op(tBaload).Op(tPop);
    code.Op(tIinc).U8(0).U8(0xFF).Op(tIload0).Op(tIfge).Branch("loop").Label("end").Op(tReturn);
    code.Label("caught").Op(tPop).Push(1).Store(2).Op(tReturn);
    const std::vector<uint8_t> good = program.Build(code, {{"start", "end", "caught", program.throwable}});
    {
        Machine machine(good);
        ASSERT_EQ(machine.Run(), MoxVm::State::vsEnded) << "the undamaged program runs";
        std::string expected;
        for (int i = 0; i < 11; ++i)
            expected += "dam";
        EXPECT_EQ(machine.link.Text(), expected);
        EXPECT_EQ(machine.Static(2), 0) << "no handler ran";
    }
    std::mt19937 random(2468);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> image = good;
        int changes = 1 + round % 3;
        for (int i = 0; i < changes; ++i)
            image[random() % image.size()] = static_cast<uint8_t>(random());
        Machine machine(image, round % 2 ? MoxVm::kDefaultRamBytes : MoxVm::kMinRamBytes);
        MoxVm::State state = machine.Run(20000);
        if (state == MoxVm::State::vsWaitingForKey)
            continue;
        EXPECT_TRUE(state == MoxVm::State::vsRunning || machine.vm->Stopped()) << "round " << round;
    }
}

} // namespace
