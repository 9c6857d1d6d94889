#include "device/DeviceFixture.h"
#include "device/ProgramMap.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

// A linked program with one exception class at 0x40 whose code line 12 of
// Prog.java holds pc 57.
class FakeProgram final : public ProgramMap {
public:
    std::string ClassNameAt(int classOffset) const override
    {
        if (classOffset != 0x40)
            throw EError(ecIDE, 29);
        return "java.lang.ArithmeticException";
    }
    SourceLine LineOfPc(int pc) const override
    {
        if (pc != 57)
            throw EError(ecIDE, 16, pc);
        return {"Prog.java", 12};
    }
    std::string MethodNameAt(int pc) const override
    {
        if (pc != 57)
            throw EError(ecIDE, 16, pc);
        return "Prog.run";
    }
};

struct ListenCase {
    const char* name;
    std::vector<Bytes> chunks;
    Bytes sentBefore; // bytes the host sent earlier, whose echoes are due
    Bytes keys;
    bool linked;
    std::string output;
    Bytes answers; // what the listener sent
};

Bytes Text(uint8_t kind, const std::string& text)
{
    Bytes message{0x05, kind};
    for (char c : text)
        message.push_back(static_cast<uint8_t>(c));
    message.push_back(0x7E);
    return message;
}

const std::string kUnknown = "[Debug] Unknown message from Morvane";

TEST(SXListenerTest, Messages)
{
    const ListenCase cases[] = {
        {"text split across chunks", {{0x05, 0x03, 0x48}, {0x69, 0x7E}}, {}, {}, false, "Hi", {}},
        {"an escaped flag in text", {{0x05, 0x03, 0x7D, 0x5E, 0x0A, 0x7E}}, {}, {}, false, "~\n", {}},
        {"an escape split from its byte", {{0x05, 0x03, 0x7D}, {0x5D, 0x7E}}, {}, {}, false, "}", {}},
        {"0x05 inside a message is data", {{0x05, 0x03, 0x05, 0x41, 0x7E}}, {}, {}, false, "\x05" "A", {}},
        {"text is not a format", {Text(3, "100%s %d\n")}, {}, {}, false, "100%s %d\n", {}},
        {"text stops at a zero byte", {{0x05, 0x03, 'a', 0x00, 'b', 0x7E}}, {}, {}, false, "a", {}},
        {"an echo opens the chunk", {{0x41, 0x05, 0x03, 0x41, 0x7E}}, {0x41}, {}, false, "A", {}},
        {"echoes across chunks", {{0x12}, {0x61, 0x05, 0x03, 0x42, 0x7E}}, {0x12, 0x61}, {}, false, "B", {}},
        {"an input request with two keys queued", {{0x11}}, {}, {'a', 'b'}, false, "", {0x12, 'a'}},
        {"an input request with none", {{0x11}}, {}, {}, false, "", {0x13}},
        {"two input requests", {{0x11, 0x11}}, {}, {'a'}, false, "", {0x12, 'a', 0x13}},
        {"kind 1 names the opcode", {{0x05, 0x01, 0x00, 0x7E}}, {}, {}, false,
         "[Error IDE-0024] Unknown bytecode in the MOX file (nop).\n", {}},
        {"kind 1 at the end of the table", {{0x05, 0x01, 0x77, 0x7E}}, {}, {}, false,
         "[Error IDE-0024] Unknown bytecode in the MOX file (lookupswitch).\n", {}},
        {"kind 1 beyond the table", {{0x05, 0x01, 0xC8, 0x7E}}, {}, {}, false,
         "[Error IDE-0024] Unknown bytecode in the MOX file (200).\n", {}},
        {"a short kind-1 message", {{0x05, 0x01, 0x7E}}, {}, {}, false, kUnknown, {}},
        {"an exception in the linked program", {{0x05, 0x04, 0x00, 0x40, 0x00, 0x3A, 0x7E}}, {}, {}, true,
         "[Error IDE-0028] Unhandled exception in JVM: java.lang.ArithmeticException\n"
         "Exception thrown in file 'Prog.java' at line 12\n",
         {}},
        {"an exception after text without a line end starts a line",
         {Text(3, "count: 3"), {0x05, 0x04, 0x00, 0x40, 0x00, 0x3A, 0x7E}}, {}, {}, true,
         "count: 3\n[Error IDE-0028] Unhandled exception in JVM: java.lang.ArithmeticException\n"
         "Exception thrown in file 'Prog.java' at line 12\n",
         {}},
        {"an exception after a whole line adds none", {Text(3, "a\n"), {0x05, 0x04, 0x00, 0x40, 0x00, 0x3A, 0x7E}},
         {}, {}, false,
         "a\n[Error IDE-0028] Unhandled exception in JVM: 64\n"
         "Exception thrown at pc = 57; no line can be given without the linked program\n",
         {}},
        {"an exception split across chunks", {{0x05, 0x04, 0x00}, {0x40, 0x00}, {0x3A, 0x7E}}, {}, {}, true,
         "[Error IDE-0028] Unhandled exception in JVM: java.lang.ArithmeticException\n"
         "Exception thrown in file 'Prog.java' at line 12\n",
         {}},
        {"an exception class that is no class", {{0x05, 0x04, 0x01, 0x23, 0x00, 0x3A, 0x7E}}, {}, {}, true,
         "[Error IDE-0042] Unknown unhandled exception in JVM (291).\n", {}},
        {"an exception at a pc without a line", {{0x05, 0x04, 0x00, 0x40, 0x00, 0x01, 0x7E}}, {}, {}, true,
         "[Error IDE-0042] Unknown unhandled exception in JVM (64).\n", {}},
        {"an exception without the linked program", {{0x05, 0x04, 0x00, 0x40, 0x00, 0x3A, 0x7E}}, {}, {}, false,
         "[Error IDE-0028] Unhandled exception in JVM: 64\n"
         "Exception thrown at pc = 57; no line can be given without the linked program\n",
         {}},
        {"a short exception report", {{0x05, 0x04, 0x00, 0x40, 0x00, 0x7E}}, {}, {}, true, kUnknown, {}},
        {"an empty message", {{0x05, 0x7E}}, {}, {}, false, kUnknown, {}},
        {"kind 7", {Text(7, "xyz")}, {}, {}, false, kUnknown, {}},
        {"kinds 0, 2 and 5 are quiet", {Text(0, "a"), Text(2, "b"), Text(5, "c")}, {}, {}, false, "", {}},
        {"single bytes outside messages", {{0x0E, 0x81, 0x8B, 0x0F, 0x55, 0x7E, 0x7D, 0x13}}, {}, {}, false, "", {}},
        {"an error drops the rest of its chunk", {{0x05, 0x01, 0x00, 0x7E, 0x11, 0x05, 0x03, 'x', 0x7E}, Text(3, "y")},
         {}, {}, false, "[Error IDE-0024] Unknown bytecode in the MOX file (nop).\ny", {}},
    };
    FakeProgram program;
    for (const ListenCase& c : cases) {
        DeviceFixture f;
        f.Connect();
        for (uint8_t b : c.sentBefore)
            f.comm.TransmitByte(b);
        for (uint8_t key : c.keys)
            f.comm.QueueKey(key);
        for (const Bytes& chunk : c.chunks)
            f.comm.ReceiveBytes(chunk.data(), static_cast<int>(chunk.size()), c.linked ? &program : nullptr);
        EXPECT_EQ(f.console.Text(), c.output) << c.name;
        Bytes sent(f.Line().written.begin() + static_cast<long>(c.sentBefore.size()), f.Line().written.end());
        EXPECT_EQ(sent, c.answers) << c.name;
        EXPECT_FALSE(f.comm.InMessage()) << c.name;
        EXPECT_EQ(f.comm.PendingEchoes(), static_cast<int>(c.answers.size())) << c.name;
    }
}

TEST(SXListenerTest, AMessageLongerThanTheBufferKeepsItsStart)
{
    DeviceFixture f;
    f.Connect();
    Bytes message{0x05, 0x03};
    for (int i = 0; i < 3049; ++i)
        message.push_back(static_cast<uint8_t>('a' + i % 26));
    message.push_back(0x7E);
    // 3050 message bytes with the kind: two too many.
    f.comm.ReceiveBytes(message.data(), static_cast<int>(message.size()), nullptr);
    std::string expected = "[Debug] Message buffer length exceeded[Debug] Message buffer length exceeded";
    expected.append(message.begin() + 2, message.begin() + 2 + 3047);
    EXPECT_EQ(f.console.Text(), expected);
}

TEST(SXListenerTest, AnErrorInAMessageBegunEarlierReachesTheCaller)
{
    DeviceFixture f;
    f.Connect();
    const Bytes first{0x05, 0x01};
    const Bytes second{0x00, 0x7E, 0x05, 0x03, 'z', 0x7E};
    f.comm.ReceiveBytes(first.data(), 2, nullptr);
    EXPECT_TRUE(f.comm.InMessage());
    EXPECT_EQ(RaisedLine([&] { f.comm.ReceiveBytes(second.data(), 6, nullptr); }),
              "[Error IDE-0024] Unknown bytecode in the MOX file (nop).\n");
    EXPECT_EQ(f.console.Text(), "") << "raised to the caller, not printed here";
    EXPECT_FALSE(f.comm.InMessage());
}

TEST(SXListenerTest, KeyQueueHoldsFiveHundred)
{
    DeviceFixture f;
    for (int i = 0; i < TSXComm::kKeyQueueSize; ++i)
        f.comm.QueueKey(static_cast<uint8_t>(i));
    EXPECT_EQ(RaisedLine([&] { f.comm.QueueKey('x'); }), "[Error IDE-0053] Terminal window queue overflowed.\n");
    EXPECT_EQ(f.comm.KeyCount(), TSXComm::kKeyQueueSize);
    // Keys leave oldest first.
    f.Connect();
    const Bytes request{0x11, 0x11};
    f.comm.ReceiveBytes(request.data(), 2, nullptr);
    EXPECT_EQ(f.Line().written, (Bytes{0x12, 0x00, 0x12, 0x01}));
    EXPECT_EQ(f.comm.KeyCount(), TSXComm::kKeyQueueSize - 2);
}

// The status query of a listening run being stopped: one line when the
// module answers with a place in the program, nothing otherwise, and never
// an error.
struct WhereCase {
    const char* name;
    Bytes status;      // the reply's payload, checksum added
    bool answers;      // false: the module stays silent
    bool linked;
    std::string output;
    Bytes sent;
    int64_t atLeastMs; // the wait the silence costs
};

TEST(SXListenerTest, WhereTheProgramWas)
{
    const WhereCase cases[] = {
        {"in the program", {0x81, 58, 0x00, 0x05, 0x00}, true, true, "Program was at Prog.run (Prog.java:12)\n",
         {0x01}, 0},
        {"program ended", {0x81, 0x00, 0x00, 0x03, 0x00}, true, true, "", {0x01}, 0},
        {"outside the program", {0x81, 0x10, 0x27, 0x05, 0x00}, true, true, "", {0x01}, 0},
        {"garbled reply", {0x82, 58, 0x00, 0x05, 0x00}, true, true, "", {0x01}, 0},
        {"silent module", {}, false, true, "", {0x01}, 1000},
        {"stored image: not asked", {0x81, 58, 0x00, 0x05, 0x00}, true, false, "", {}, 0},
    };
    for (const WhereCase& c : cases) {
        DeviceFixture f;
        ModuleScript script;
        script.status = c.status;
        script.answerStatus = c.answers;
        f.Module("COM1", script);
        f.Connect();
        FakeProgram program;
        EXPECT_EQ(RaisedLine([&] { f.comm.ReportWhereProgramIs(c.linked ? &program : nullptr); }), "") << c.name;
        EXPECT_EQ(f.console.Text(), c.output) << c.name;
        EXPECT_EQ(f.Line().written, c.sent) << c.name;
        EXPECT_GE(f.Elapsed(), c.atLeastMs) << c.name;
    }
}

} // namespace
