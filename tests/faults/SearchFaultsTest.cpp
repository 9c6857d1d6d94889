// Our host's port search against the simulated module and its faults, on a
// clock the test advances: the search's two probes of a port and its 10 s
// windows cost no real time, and a port search cannot be run end to end
// (the ports searched are the machine's serial devices).

#include "device/TSXComm.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "platform/EventLoop.h"
#include "serial/FakeSerialPort.h"
#include "serial/TCommPortDriver.h"
#include "sim/SimModule.h"
#include "support/ConsoleCapture.h"

#include <map>
#include <memory>

#include <gtest/gtest.h>

namespace {

// A simulated module behind a fake line: the host's bytes and modem lines go
// in at the clock's time, and what the module answers arrives at once. The
// module catches up with the clock whenever the host does something.
class SimOnLine {
public:
    SimOnLine(FakeLine& line, const SimFaults& faults) : line_(line), module_(OptionsWith(faults))
    {
        module_.SetConnected(true, Now());
        module_.PowerOn(Now());
        line_.onHostByte = [this](uint8_t b) {
            module_.Run(Now());
            module_.ReceiveFromHost(&b, 1, Now());
            Deliver();
        };
        line_.onDtr = [this](bool on) {
            module_.Run(Now());
            module_.SetDtr(on, Now());
            Deliver();
        };
        line_.onRts = [this](bool on) {
            module_.SetRts(on);
            line_.dsr = module_.Dsr();
        };
        line_.dsr = module_.Dsr();
    }

private:
    static SimModule::Options OptionsWith(const SimFaults& faults)
    {
        SimModule::Options options;
        options.faults = faults;
        return options;
    }
    int64_t Now() { return line_.ClockOf().NowMs(); }
    void Deliver()
    {
        std::vector<uint8_t> out = module_.TakeOutput(Now());
        if (!out.empty())
            line_.Deliver(out);
        if (module_.TakeHangUp())
            line_.broken = true;
    }

    FakeLine& line_;
    SimModule module_;
};

struct SearchFixture {
    SearchFixture() { InitialiseSettings(); }
    ~SearchFixture() { InitialiseSettings(); }
    SearchFixture(const SearchFixture&) = delete;
    SearchFixture& operator=(const SearchFixture&) = delete;

    void AddPort(int number, const SimFaults& faults)
    {
        std::string name = "COM" + std::to_string(number);
        lines[name] = std::make_unique<FakeLine>(clock);
        modules[name] = std::make_unique<SimOnLine>(*lines[name], faults);
        RunSettings& settings = Settings();
        settings.PortNumbers[settings.PortCount++] = number;
    }

    FakeClock clock;
    EventLoop loop;
    std::map<std::string, std::unique_ptr<FakeLine>> lines;
    std::map<std::string, std::unique_ptr<SimOnLine>> modules;
    TCommPortDriver driver{clock, loop, [this](const std::string& name) -> std::unique_ptr<SerialPort> {
                               auto it = lines.find(name);
                               return it == lines.end() ? nullptr : MakeFakeSerialPort(name, *it->second);
                           }};
    TSXComm comm{driver};
    ConsoleCapture console;
};

SimFaults Fault(void (*set)(SimFaults&))
{
    SimFaults faults;
    set(faults);
    return faults;
}

const std::string kNotResponding = "[Error IDE-0056] Possible Morvane on COM1 did not respond.\n";

struct SearchCase {
    const char* name;
    SimFaults faults; // of the module on COM1; COM2 has a sound one
    std::string printed;
    std::string foundOn;
    int64_t atLeastMs; // what the search must have waited before it moved on
};

TEST(SearchFaultsTest, EachFaultIsPassedOverAsTheSearchReportsIt)
{
    const SearchCase cases[] = {
        {"DSR stuck low: no module, silently", Fault([](SimFaults& f) { f.dsr = SimFaults::Dsr::dsLow; }), "", "COM2",
         2 * 200},
        {"DSR stuck high: no module, silently", Fault([](SimFaults& f) { f.dsr = SimFaults::Dsr::dsHigh; }), "",
         "COM2", 2 * 400},
        {"another device answers the ping (IDE 47): named", Fault([](SimFaults& f) { f.pingAnswer = 0x33; }),
         kNotResponding, "COM2", 2 * 450},
        {"status type byte lost (IDE 10): silently", Fault([](SimFaults& f) { f.corruptStatusByte = 0; }), "", "COM2",
         2 * 450},
        {"status checksum wrong (IDE 9): silently", Fault([](SimFaults& f) { f.corruptStatusByte = 5; }), "", "COM2",
         2 * 450},
        {"status never ends (IDE 22): named", Fault([](SimFaults& f) { f.corruptStatusByte = 6; }), kNotResponding,
         "COM2", 2 * (450 + 1000)},
        {"silent after the start-up, no ping answer (IDE 46): silently",
         Fault([](SimFaults& f) { f.silentAfterBytes = 3; }), "", "COM2", 2 * (450 + 100)},
        {"silent from the first byte (IDE 22 after the whole window): named",
         Fault([](SimFaults& f) { f.silentAfterBytes = 0; }), kNotResponding, "COM2", 2 * (400 + 10000)},
        {"noise before the start-up byte: the module is found", Fault([](SimFaults& f) { f.garbageBeforeStartUp = 700; }),
         "", "COM1", 450},
    };
    for (const SearchCase& c : cases) {
        SearchFixture f;
        f.AddPort(1, c.faults);
        f.AddPort(2, SimFaults{});
        int64_t start = f.clock.NowMs();
        try {
            f.comm.FindModule();
        } catch (const EError& error) {
            ADD_FAILURE() << c.name << ": " << error.Message();
        }
        EXPECT_EQ(f.console.Text(), c.printed) << c.name;
        EXPECT_TRUE(f.driver.Connected()) << c.name;
        EXPECT_EQ(f.driver.PortName(), c.foundOn) << c.name;
        if (c.foundOn == "COM2") {
            EXPECT_EQ(f.lines["COM1"]->opens, 2) << c.name << ": two probes of the faulty port";
        }
        EXPECT_GE(f.clock.NowMs() - start, c.atLeastMs) << c.name;
    }
}

TEST(SearchFaultsTest, AChosenPortEndsAtTheFirstError)
{
    const std::pair<SimFaults, std::string> cases[] = {
        {Fault([](SimFaults& f) { f.dsr = SimFaults::Dsr::dsLow; }), "[Error IDE-0046] Morvane not found on serial port.\n"},
        {Fault([](SimFaults& f) { f.pingAnswer = 0x33; }), "[Error IDE-0047] Another device connected to the serial port.\n"},
        {Fault([](SimFaults& f) { f.silentAfterBytes = 0; }), "[Error IDE-0022] Error reading from the serial port (timeout).\n"},
    };
    for (const auto& [faults, line] : cases) {
        SearchFixture f;
        f.AddPort(1, faults);
        Settings().PortChosen = true;
        f.driver.SetComPort(pnCOM1);
        std::string raised;
        try {
            f.comm.FindModule();
        } catch (const EError& error) {
            raised = error.Message();
        }
        EXPECT_EQ(raised, line);
        EXPECT_EQ(f.lines["COM1"]->opens, 1) << line << ": no second probe of a chosen port";
        EXPECT_EQ(f.console.Text(), "") << line;
    }
}

} // namespace
