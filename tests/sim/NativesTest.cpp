// The class library's natives on a module with nothing attached
// (runtime/README.md): results, the simulated time they take, and the
// board's state they keep.

#include "sim/VmTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

// A program that calls natives by "Class.method": main is written by the test.
class NativeProgram {
public:
    int Native(const std::string& name, int arguments)
    {
        auto it = natives_.find(name);
        if (it != natives_.end())
            return it->second;
        size_t dot = name.find('.');
        int method = program.assembler.AddNative(program.mainClass, "tolve/core/" + name.substr(0, dot),
                                                 name.substr(dot + 1), arguments);
        natives_[name] = method;
        return method;
    }
    // Pushes `args` and calls the native.
    MoxCode& Call(MoxCode& code, const std::string& name, std::vector<int> args)
    {
        int method = Native(name, static_cast<int>(args.size()));
        for (int arg : args)
            code.Push(arg);
        return code.Call(method);
    }

    TestProgram program;

private:
    std::map<std::string, int> natives_;
};

struct CallCase {
    const char* name;
    const char* native;
    std::vector<int> args;
    bool returnsValue;
    int result;
    int64_t takesUs;
};

TEST(NativesTest, ResultsAndTimeOfSingleCalls)
{
    const CallCase cases[] = {
        {"register out of range", "CPU.readRegister", {300}, true, -1, 0},
        {"registers start at zero", "CPU.readRegister", {5}, true, 0, 0},
        {"last SRAM byte", "CPU.readSRAM", {8191}, true, 0, 0},
        {"SRAM out of range", "CPU.readSRAM", {8192}, true, -1, 0},
        {"negative SRAM address", "CPU.readSRAM", {-1}, true, -1, 0},
        {"erased EEPROM", "EEPROM.eeRead", {0}, true, 255, 0},
        {"EEPROM out of range", "EEPROM.eeRead", {2048}, true, -1, 0},
        {"an EEPROM write takes 5 ms", "EEPROM.eeWrite", {2047, 7}, true, 1, 5000},
        {"a write out of range takes nothing", "EEPROM.eeWrite", {2048, 7}, true, 0, 0},
        {"delay counts 100 us units", "CPU.delay", {25}, false, 0, 2500},
        {"a negative delay is none", "CPU.delay", {-5}, false, 0, 0},
        {"count takes its window", "CPU.count", {3, 10, 1}, true, 0, 1000},
        {"rcTime on a pin at the state", "CPU.rcTime", {3, 100, 0}, true, -1, 1000},
        {"rcTime on a pin at the other level", "CPU.rcTime", {3, 100, 1}, true, 0, 0},
        {"pulseIn sees no pulse", "CPU.pulseIn", {2, 50, 1}, true, -1, 500},
        {"pulseOut takes its length", "CPU.pulseOut", {2, 30}, false, 0, 300},
        {"shiftIn of a low pin", "CPU.shiftIn", {1, 2, 8, 0}, true, 0, 160},
        {"shiftIn clamps to 16 bits", "CPU.shiftIn", {1, 2, 20, 0}, true, 0, 320},
        {"the shortest nap", "CPU.nap", {0}, false, 0, 18000},
        {"the longest nap", "CPU.nap", {9}, false, 0, 18000 * 128},
        {"a pin out of range reads low", "CPU.readPin", {99}, true, 0, 0},
        {"no second result yet", "Callback.returnTwo", {}, true, 0, 0},
        {"the timer before init", "Timer.latch", {}, true, 0, 0},
        {"the first slot", "CPU.install", {0}, true, 0, 0},
        {"nothing is ever received", "Uart.rxRead", {0}, true, -1, 0},
    };
    for (const CallCase& c : cases) {
        NativeProgram natives;
        MoxCode code;
        natives.Call(code, c.native, c.args);
        if (c.returnsValue)
            code.Store(2);
        code.Op(tReturn);
        Machine machine(natives.program.Build(code));
        ASSERT_EQ(machine.Run(), MoxVm::State::vsEnded) << c.name;
        if (c.returnsValue) {
            EXPECT_EQ(machine.Static(2), c.result) << c.name;
        }
        int64_t instructionsUs = static_cast<int64_t>(machine.vm->Instructions()) * MoxVm::kInstructionUs;
        EXPECT_EQ(machine.vm->NowUs() - instructionsUs, c.takesUs) << c.name;
    }
}

// The same natives with a bench's world on the pins: results come from the
// levels over the call's whole window, put in before the machine gets there.
// The same natives with a bench's world on the pins: results come from the
// levels over the call's whole window, put in before the machine gets there.
// The world is given relative to the call (`t`: when it is made).
struct WorldCase {
    const char* name;
    const char* native;
    std::vector<int> args;
    std::function<void(PinStimulus&, int64_t t)> world;
    int result;
    int64_t takesUs;
};

TEST(NativesTest, TheWorldOnThePins)
{
    using W = PinStimulus;
    const WorldCase cases[] = {
        {"a pin held high reads high", "CPU.readPin", {8}, [](W& w, int64_t t) { w.SetLevel(8, t, true); }, 1, 0},
        {"a level set later is not seen yet", "CPU.readPin", {8}, [](W& w, int64_t t) { w.SetLevel(8, t + 1, true); }, 0, 0},
        {"rising edges of a 1 kHz wave in 10 ms", "CPU.count", {4, 100, 1},
         [](W& w, int64_t t) { w.Wave(4, t + 1, 1000, 300); }, 10, 10000},
        {"falling edges too", "CPU.count", {4, 100, 0}, [](W& w, int64_t t) { w.Wave(4, t + 1, 1000, 300); }, 10, 10000},
        {"pulseIn measures a pulse that comes later", "CPU.pulseIn", {3, 1000, 1},
         [](W& w, int64_t t) { w.Pulse(3, t + 2000, true, 1500); }, 150, 3500},
        {"pulseIn misses a pulse that ends after its time-out", "CPU.pulseIn", {3, 300, 1},
         [](W& w, int64_t t) { w.Pulse(3, t + 2000, true, 1500); }, -1, 3000},
        {"pulseIn waits for the change to the state", "CPU.pulseIn", {3, 1000, 1},
         [](W& w, int64_t t) { w.Pulse(3, t - 5, true, 400); }, -1, 10000},
        {"rcTime takes the bench's time", "CPU.rcTime", {5, 1000, 0}, [](W& w, int64_t) { w.Rc(5, 0, 1200); }, 120, 1200},
        {"rcTime longer than its time-out", "CPU.rcTime", {5, 100, 0}, [](W& w, int64_t) { w.Rc(5, 0, 1200); }, -1, 1000},
        {"rcTime until the pin leaves the state", "CPU.rcTime", {5, 1000, 0},
         [](W& w, int64_t t) { w.SetLevel(5, t + 700, true); }, 70, 700},
        {"a frame's start bit reads low", "CPU.readPin", {7},
         [](W& w, int64_t t) { w.Uart(7, t - 110, 9600, {0x55}); }, 0, 0},
        {"its first data bit high", "CPU.readPin", {7},
         [](W& w, int64_t t) { w.Uart(7, t - 210, 9600, {0x55}); }, 1, 0},
    };
    for (const WorldCase& c : cases) {
        NativeProgram natives;
        MoxCode code;
        natives.Call(code, c.native, c.args);
        code.Store(2);
        code.Op(tReturn);
        Machine machine(natives.program.Build(code));
        PinStimulus world;
        // The arguments' pushes and the call come first.
        c.world(world, static_cast<int64_t>(c.args.size() + 1) * MoxVm::kInstructionUs);
        machine.vm->AttachStimulus(&world);
        ASSERT_EQ(machine.Run(), MoxVm::State::vsEnded) << c.name;
        EXPECT_EQ(machine.Static(2), c.result) << c.name;
        int64_t instructionsUs = static_cast<int64_t>(machine.vm->Instructions()) * MoxVm::kInstructionUs;
        EXPECT_EQ(machine.vm->NowUs() - instructionsUs, c.takesUs) << c.name;
    }
}

TEST(NativesTest, TheTimerCountsTicksOfTheSimulatedClock)
{
    NativeProgram n;
    MoxCode code;
    n.Call(code, "Timer.init", {});
    n.Call(code, "CPU.delay", {32767});
    n.Call(code, "CPU.delay", {32767});
    n.Call(code, "Timer.latch", {}).Store(2);
    n.Call(code, "Callback.returnTwo", {}).Store(3);
    n.Call(code, "Timer.init", {}); // a second init changes nothing
    n.Call(code, "Timer.latch", {}).Store(4);
    code.Op(tReturn);
    Machine machine(n.program.Build(code));
    ASSERT_EQ(machine.Run(), MoxVm::State::vsEnded);
    int ticks = machine.Static(2) + machine.Static(3) * 32768;
    EXPECT_GE(ticks, 65534);
    EXPECT_LT(ticks, 65534 + 5) << "a few ticks of instructions";
    EXPECT_EQ(machine.Static(3), 1);
    EXPECT_GE(machine.Static(4), machine.Static(2));
}

TEST(NativesTest, WavesAndLevelsFollowTheModulesClock)
{
    // (The board's plain state is compared with a desktop JVM by the
    // differential program BoardState; its waves only the module has.)
    NativeProgram n;
    MoxCode code;
    // A wave of 100 us high and 300 us low on pin 6, in slot 0.
    n.Call(code, "CPU.install", {0}).Op(tPop);
    n.Call(code, "PWM.install", {0, 6, 10, 30});
    n.Call(code, "CPU.readPin", {6}).Store(2);
    n.Call(code, "CPU.delay", {2});
    n.Call(code, "CPU.readPin", {6}).Store(3);
    // From the next period (400 us after the start) 10 ms high and 30 ms
    // low: 25 ms later the pin is low (a wave of 10 and 10 ms would be high).
    n.Call(code, "PWM.updateInternal", {0, 1000, 3000});
    n.Call(code, "CPU.delay", {250});
    n.Call(code, "CPU.readPin", {6}).Store(6);
    // An analog output in slot 1 whose level the program writes.
    int dac = n.Native("DAC.install", 3);
    n.Call(code, "CPU.install", {0}).Op(tPop);
    code.Push(1).Push(7).Push(1).Op(tNewarray).U8(1).Op(tDup).Op(tIstore0).Call(dac);
    code.Op(tIload0).Push(0).Push(200).Op(tBastore);
    n.Call(code, "CPU.readPin", {7}).Store(4);
    code.Op(tIload0).Push(0).Push(10).Op(tBastore);
    n.Call(code, "CPU.readPin", {7}).Store(5);
    code.Op(tReturn);
    Machine machine(n.program.Build(code));
    ASSERT_EQ(machine.Run(), MoxVm::State::vsEnded);
    EXPECT_EQ(machine.Static(2), 1) << "the wave starts high";
    EXPECT_EQ(machine.Static(3), 0) << "and is low 200 us later";
    EXPECT_EQ(machine.Static(6), 0) << "an update's low time";
    EXPECT_EQ(machine.Static(4), 1) << "a level of 200 of 256 reads high";
    EXPECT_EQ(machine.Static(5), 0);
}

struct MessageCase {
    const char* name;
    int arrayLength; // -1: null
    int length;
    std::string text;
    int vmError;
};

TEST(NativesTest, MessagesSendTheArraysBytes)
{
    const MessageCase cases[] = {
        {"whole array", 3, 3, "abc", 0},
        {"length clamped to the array", 3, 10, "abc", 0},
        {"negative length sends an empty message", 3, -1, "", 0},
        {"a null array", -1, 1, "", 2},
    };
    for (const MessageCase& c : cases) {
        NativeProgram n;
        int message = n.Native("CPU.message", 2);
        MoxCode code;
        code.Label("start");
        if (c.arrayLength < 0) {
            code.Push(0);
        } else {
            code.Push(c.arrayLength).Op(tNewarray).U8(1).Op(tIstore0);
            for (int i = 0; i < c.arrayLength; ++i)
                code.Op(tIload0).Push(i).Push('a' + i).Op(tBastore);
            code.Op(tIload0);
        }
        code.Push(c.length).Call(message).Label("end").Op(tReturn);
        code.Label("caught").Op(tPop).Op(tReturn);
        Machine machine(n.program.Build(code, {{"start", "end", "caught", n.program.throwable}}));
        ASSERT_EQ(machine.Run(), MoxVm::State::vsEnded) << c.name;
        EXPECT_EQ(machine.Static(0), c.vmError) << c.name;
        EXPECT_EQ(machine.link.Text(), c.text) << c.name;
        EXPECT_EQ(machine.link.Find(3) != nullptr, c.vmError == 0) << c.name << ": one message per call";
    }
}

TEST(NativesTest, GetByteAsksTheHostOrAnswersNoKeyAtOnce)
{
    for (bool connected : {true, false}) {
        NativeProgram n;
        MoxCode code;
        n.Call(code, "Terminal.getByte", {}).Store(2);
        code.Op(tReturn);
        Machine machine(n.program.Build(code));
        machine.link.hostConnected = connected;
        MoxVm::State state = machine.Run();
        EXPECT_EQ(machine.link.keyRequests, 1);
        if (connected) {
            ASSERT_EQ(state, MoxVm::State::vsWaitingForKey);
            uint64_t before = machine.vm->Instructions();
            EXPECT_EQ(machine.Run(), MoxVm::State::vsWaitingForKey) << "it waits, running nothing";
            EXPECT_EQ(machine.vm->Instructions(), before);
            machine.vm->ProvideKey(200);
            EXPECT_EQ(machine.Run(), MoxVm::State::vsEnded);
            EXPECT_EQ(machine.Static(2), 200);
        } else {
            EXPECT_EQ(state, MoxVm::State::vsEnded);
            EXPECT_EQ(machine.Static(2), -1);
        }
    }
}

} // namespace
