// The debug server's protocol state over a real linked program: a table of
// packets, well-formed, malformed and hostile, each with the error code its
// reply carries or the connection closed, and the machine running on after.

#include "driver/Stages.h"
#include "image/DebugInfo.h"
#include "jdwp/JdwpSession.h"
#include "sim/Board.h"
#include "sim/MoxVm.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

using namespace jdwp;

class NullLink final : public VmLink {
public:
    void SendMessage(uint8_t, const uint8_t*, size_t) override {}
    bool RequestKey() override { return false; }
};

std::vector<uint8_t> Eeprom(const RunImage& image, uint32_t& length)
{
    std::vector<uint8_t> eeprom(image.bytes.begin(), image.bytes.begin() + image.length);
    eeprom[0] = MoxHeader::kRunMarker;
    eeprom.resize((eeprom.size() + 15) / 16 * 16, 0);
    length = static_cast<uint32_t>(eeprom.size());
    return eeprom;
}

struct Program {
    Program()
        : image(LinkProgram("Debugee", std::string(MORVANE_FIXTURE_DIR) + "/jdwp;" + MORVANE_LIB_DIR)),
          info(*LinkedDebugInfo()), eeprom(Eeprom(image, length)), vm(eeprom, length, MoxVm::kDefaultRamBytes, board, link),
          session(vm, info)
    {
        session.Receive(reinterpret_cast<const uint8_t*>(kHandshake), kHandshakeBytes);
        session.VmStarted();
        session.Output().clear();
    }

    const DebugClass& Class(const std::string& name) const
    {
        return info.classes[static_cast<size_t>(info.ClassIndexByName(name))];
    }
    const DebugMethod& Method(const std::string& className, const std::string& name) const
    {
        for (const DebugMethod& m : Class(className).methods)
            if (m.name == name)
                return m;
        throw std::runtime_error("no method " + name);
    }

    RunImage image;
    const ProgramDebugInfo& info;
    uint32_t length = 0;
    std::vector<uint8_t> eeprom;
    Board board;
    NullLink link;
    MoxVm vm;
    JdwpSession session;
};

std::vector<uint8_t> Command(uint8_t set, uint8_t command, const PacketWriter& data, uint32_t id = 7)
{
    std::vector<uint8_t> packet;
    AppendCommand(packet, id, set, command, data);
    return packet;
}

// The reply's error code, or nothing when the connection closed.
std::optional<uint16_t> Send(JdwpSession& session, const std::vector<uint8_t>& packet)
{
    session.Output().clear();
    if (!session.Receive(packet.data(), packet.size()))
        return std::nullopt;
    const std::vector<uint8_t>& out = session.Output();
    EXPECT_GE(out.size(), kHeaderBytes);
    if (out.size() < kHeaderBytes)
        return uint16_t{0xFFFF};
    EXPECT_EQ(out[8], kReplyFlag);
    return static_cast<uint16_t>(out[9] << 8 | out[10]);
}

struct Row {
    const char* name;
    std::function<std::vector<uint8_t>(const Program&)> packet;
    std::optional<uint16_t> error; // nullopt: the connection closes
};

PacketWriter Ids(std::initializer_list<uint64_t> ids)
{
    PacketWriter data;
    for (uint64_t id : ids)
        data.Id(id);
    return data;
}

TEST(JdwpSession, PacketTable)
{
    const Row rows[] = {
        {"version", [](const Program&) { return Command(1, 1, {}); }, erNone},
        {"classes by signature",
         [](const Program&) {
             PacketWriter data;
             data.String("LDebugee;");
             return Command(1, 2, data);
         },
         erNone},
        {"an unknown command set", [](const Program&) { return Command(99, 1, {}); }, erNotImplemented},
        {"an unknown command of a known set", [](const Program&) { return Command(1, 200, {}); }, erNotImplemented},
        {"redefining classes", [](const Program&) { return Command(1, 18, {}); }, erNotImplemented},
        {"the signature of no class", [](const Program&) { return Command(2, 1, Ids({12345})); }, erInvalidClass},
        {"the fields of Debugee",
         [](const Program& p) { return Command(2, 4, Ids({p.Class("Debugee").record})); }, erNone},
        {"the line table of a method of another class",
         [](const Program& p) {
             return Command(6, 1, Ids({p.Class("java/lang/Object").record, p.Method("Debugee", "twice").slot}));
         },
         erInvalidMethodId},
        {"the variables of main",
         [](const Program& p) {
             return Command(6, 2, Ids({p.Class("Debugee").record, p.Method("Debugee", "main").slot}));
         },
         erNone},
        {"an object that is no object", [](const Program&) { return Command(9, 1, Ids({3})); }, erInvalidObject},
        {"the text of null", [](const Program&) { return Command(10, 1, Ids({0})); }, erInvalidObject},
        {"frames of another thread",
         [](const Program&) {
             PacketWriter data = Ids({5});
             data.I32(0);
             data.I32(-1);
             return Command(11, 6, data);
         },
         erInvalidThread},
        {"frames of main", [](const Program&) {
             PacketWriter data = Ids({kThreadId});
             data.I32(0);
             data.I32(-1);
             return Command(11, 6, data);
         }, erNone},
        {"a local beyond the frame",
         [](const Program&) {
             PacketWriter data = Ids({kThreadId, 1});
             data.I32(1);
             data.I32(40);
             data.U8('I');
             return Command(16, 1, data);
         },
         erInvalidSlot},
        {"an unknown frame",
         [](const Program&) {
             PacketWriter data = Ids({kThreadId, 77});
             data.I32(0);
             return Command(16, 1, data);
         },
         erInvalidFrameId},
        {"a breakpoint past the method's code",
         [](const Program& p) {
             PacketWriter data;
             data.U8(ekBreakpoint);
             data.U8(spAll);
             data.I32(1);
             data.U8(7);
             data.U8(ttClass);
             data.Id(p.Class("Debugee").record);
             data.Id(p.Method("Debugee", "twice").slot);
             data.U64(5000);
             return Command(15, 1, data);
         },
         erInvalidLocation},
        {"an event kind the server does not report",
         [](const Program&) {
             PacketWriter data;
             data.U8(43); // monitor contended enter
             data.U8(spNone);
             data.I32(0);
             return Command(15, 1, data);
         },
         erInvalidEventType},
        {"a modifier of unknown kind",
         [](const Program&) {
             PacketWriter data;
             data.U8(ekBreakpoint);
             data.U8(spNone);
             data.I32(1);
             data.U8(99);
             return Command(15, 1, data);
         },
         erNotImplemented},
        {"a packet shorter than its fields",
         [](const Program&) {
             PacketWriter data;
             data.U8(1);
             data.U8(2);
             return Command(2, 1, data);
         },
         std::nullopt},
        {"a string longer than its packet",
         [](const Program&) {
             PacketWriter data;
             data.U32(1000);
             data.U8('L');
             return Command(1, 2, data);
         },
         std::nullopt},
        {"a modifier count that lies",
         [](const Program&) {
             PacketWriter data;
             data.U8(ekException);
             data.U8(spNone);
             data.I32(0x7FFFFFFF);
             data.U8(1);
             data.I32(1);
             return Command(15, 1, data);
         },
         std::nullopt},
        {"a length below the header", [](const Program&) { return std::vector<uint8_t>{0, 0, 0, 4, 0, 0, 0, 1, 0, 1, 1}; },
         std::nullopt},
        {"a length of a gigabyte",
         [](const Program&) { return std::vector<uint8_t>{0x40, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1}; }, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Program program;
        std::optional<uint16_t> error = Send(program.session, row.packet(program));
        EXPECT_EQ(error, row.error);
        // Whatever the debugger sent, the program runs on to its end.
        program.session.ResumeAll();
        program.vm.Run(1'000'000, 1'000'000'000);
        EXPECT_EQ(program.vm.GetState(), MoxVm::State::vsEnded);
    }
}

TEST(JdwpSession, WrongHandshakeCloses)
{
    Program program;
    JdwpSession fresh(program.vm, program.info);
    const char text[] = "JDWP-Handshock";
    EXPECT_FALSE(fresh.Receive(reinterpret_cast<const uint8_t*>(text), sizeof text - 1));
}

// Stops the machine where the session says, reading a local meanwhile.
class Hook final : public VmDebugHook {
public:
    explicit Hook(JdwpSession& session) : session_(session) {}
    void AtInstruction(uint32_t pc) override
    {
        if (session_.AtInstruction(pc)) {
            ++stops;
            onStop();
            session_.ResumeAll();
        }
    }
    void ExceptionThrown(uint16_t, uint32_t, uint32_t) override {}
    int stops = 0;
    std::function<void()> onStop;

private:
    JdwpSession& session_;
};

TEST(JdwpSession, BreakpointShowsArgumentAndField)
{
    Program program;
    const DebugMethod& twice = program.Method("Debugee", "twice");
    PacketWriter data;
    data.U8(ekBreakpoint);
    data.U8(spAll);
    data.I32(1);
    data.U8(7);
    data.U8(ttClass);
    data.Id(program.Class("Debugee").record);
    data.Id(twice.slot);
    data.U64(0);
    ASSERT_EQ(Send(program.session, Command(15, 1, data)), erNone);
    ASSERT_EQ(Send(program.session, Command(1, 9, {})), erNone); // resume

    Hook hook(program.session);
    std::vector<uint8_t> local;
    hook.onStop = [&] {
        // Frame ids count from the bottom: twice is the second frame.
        PacketWriter get = Ids({kThreadId, 2});
        get.I32(1);
        get.I32(1);
        get.U8('I');
        ASSERT_EQ(Send(program.session, Command(16, 1, get)), erNone);
        local = program.session.Output();
    };
    program.vm.SetDebugHook(&hook);
    program.session.SyncMachine();
    program.vm.RunWatched(1'000'000, 1'000'000'000);
    EXPECT_EQ(hook.stops, 1);
    ASSERT_EQ(local.size(), kHeaderBytes + 4 + 1 + 4);
    EXPECT_EQ(local[kHeaderBytes + 4], 'I');
    EXPECT_EQ(local.back(), 2); // numbers[1]
    EXPECT_EQ(program.vm.GetState(), MoxVm::State::vsEnded);
    // twice returned 2 * 2 + size 5 into the static field.
    const DebugClass& debugee = program.Class("Debugee");
    uint32_t counter = debugee.fields[0].staticOffset;
    EXPECT_EQ(program.vm.Memory()->Read16(program.vm.StaticsBase() + counter), 9);
}

} // namespace
