// Our host's protocol (TSXComm over TCommPortDriver) against the simulated
// module, in memory on a test clock: the module's timing must meet every
// time-out the host keeps, paced at 28,800 baud as well as unpaced.

#include "device/ProgramMap.h"
#include "device/TSXComm.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "platform/EventLoop.h"
#include "serial/TCommPortDriver.h"
#include "sim/SimulatedPort.h"
#include "sim/VmTestSupport.h"
#include "support/ConsoleCapture.h"

#include <gtest/gtest.h>

namespace {

// Names the one exception class of the test program, and gives each pc
// back as its "line" so that the test sees which pc was reported.
class PcAsLine final : public ProgramMap {
public:
    explicit PcAsLine(uint16_t exceptionClass) : exceptionClass_(exceptionClass) {}
    std::string ClassNameAt(int classOffset) const override
    {
        if (classOffset != exceptionClass_)
            throw EError(ecIDE, 29);
        return "java.lang.Exception";
    }
    SourceLine LineOfPc(int pc) const override { return SourceLine{"Main.java", pc}; }

private:
    int exceptionClass_;
};

struct Program {
    std::vector<uint8_t> image;
    uint16_t exceptionClass;
    uint16_t throwPc;
};

// Prints "Hi\n", asks for a key and prints "got <key>\n", then throws an
// exception nothing catches.
Program KeyAndCrashProgram()
{
    TestProgram program;
    MoxAssembler& a = program.assembler;
    int message = a.AddNative(program.mainClass, "tolve/core/CPU", "message", 2);
    int getByte = a.AddNative(program.mainClass, "tolve/core/Terminal", "getByte", 0);
    MoxCode code;
    auto text = [&code](int local, const std::string& bytes) {
        code.Push(static_cast<int>(bytes.size())).Op(tNewarray).U8(1).Op(tIstore0 + local);
        for (size_t i = 0; i < bytes.size(); ++i)
            code.Op(tIload0 + local).Push(static_cast<int>(i)).Push(bytes[i]).Op(tBastore);
    };
    text(0, "Hi\n");
    code.Op(tIload0).Push(3).Call(message);
    text(1, "got ?\n");
    code.Op(tIload1).Push(4).Call(getByte).Op(tBastore);
    code.Op(tIload1).Push(6).Call(message);
    code.Op(tNew).Class(program.exception).Label("throw").Op(tAthrow);
    std::vector<uint8_t> image = program.Build(code, {}, 4);
    return Program{image, a.ClassOffset(program.exception), a.LabelOffset(a.MainMethod, "throw")};
}

struct HostCase {
    const char* name;
    bool paced;
};

TEST(HostAgainstModuleTest, TheHostFindsLoadsAndHearsTheModule)
{
    const HostCase cases[] = {{"unpaced", false}, {"paced at 28,800 baud", true}};
    for (const HostCase& c : cases) {
        InitialiseSettings();
        Settings().PortChosen = true;
        Settings().PortDevice = "simulated";
        FakeClock clock;
        EventLoop loop;
        SimModule::Options options;
        options.paced = c.paced;
        SimulatedLine line(clock, options);
        TCommPortDriver driver(clock, loop, [&line](const std::string& name) { return MakeSimulatedPort(name, line); });
        driver.SetComPortSpeed(br28800);
        driver.SetPacketMode(pmPass);
        driver.SetEnableDTROnOpen(false);
        driver.SetComPortName("simulated");
        TSXComm comm(driver);
        Program program = KeyAndCrashProgram();
        PcAsLine map(program.exceptionClass);
        ConsoleCapture console;

        comm.FindModule(); // probes: RTS and DSR, a reset with a ping, a status query
        ASSERT_TRUE(driver.Connected()) << c.name;
        EXPECT_EQ(line.module.GetMode(), SimModule::Mode::mdLoader) << c.name;

        std::vector<uint8_t> image = program.image;
        int32_t length = static_cast<int32_t>(image.size());
        image.resize(image.size() + 20, 0);
        int64_t start = clock.NowMs();
        comm.DownloadMoxFile(image.data(), length, false);
        int64_t downloadMs = clock.NowMs() - start;
        comm.ResetModule(true);
        EXPECT_EQ(line.module.ProgramLength(), static_cast<uint32_t>((length + 15) / 16 * 16)) << c.name;

        comm.QueueKey('x');
        driver.SetOnReceiveData(
            [&](TCommPortDriver&, const uint8_t* bytes, int32_t size) { comm.ReceiveBytes(bytes, size, &map); });
        for (int poll = 0; poll < 100 && line.module.StatusActivity() != SimModule::acUncaught; ++poll) {
            line.AdvanceTo(clock.NowMs() + driver.ComPortPollingDelay());
            driver.PollStep();
        }
        line.AdvanceTo(clock.NowMs() + 100);
        driver.PollStep();

        std::string text = console.Text();
        EXPECT_NE(text.find("Hi\ngot x\n"), std::string::npos) << c.name << ":\n" << text;
        EXPECT_NE(text.find("Unhandled exception in JVM: java.lang.Exception\nException thrown in file 'Main.java' at line " +
                            std::to_string(program.throwPc) + "\n"),
                  std::string::npos)
            << c.name << ":\n" << text;
        EXPECT_EQ(comm.KeyCount(), 0) << c.name;
        // Each block is 19 bytes out and back (echo) and its answer: at 347 us
        // a byte, a paced line takes that time; unpaced, the module answers at
        // once.
        int blocks = (length + 15) / 16;
        if (c.paced) {
            EXPECT_GE(downloadMs, blocks * 20 * SimModule::kByteTimeUs / 1000) << c.name;
        } else {
            EXPECT_LE(downloadMs, 5) << c.name;
        }
    }
    InitialiseSettings();
}

} // namespace
