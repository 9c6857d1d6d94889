// Commands, the status query, the module search and the resets.

#include "device/DeviceFixture.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kTimeout = "[Error IDE-0022] Error reading from the serial port (timeout).\n";
const std::string kNotFound = "[Error IDE-0046] Morvane not found on serial port.\n";

struct StatusCase {
    const char* name;
    Bytes status;
    bool checksumGiven;
    std::string error;
    int32_t pc, activity, extra;
};

TEST(SXCommandsTest, QueryStatus)
{
    const StatusCase cases[] = {
        {"the example", {0x81, 0x2A, 0x00, 0x05, 0x00}, false, "", 41, 5, 0},
        {"a program counter field of 0", {0x81, 0x00, 0x00, 0x07, 0x09}, false, "", -1, 7, 9},
        {"little-endian", {0x81, 0x34, 0x12, 0xFF, 0xFE}, false, "", 0x1233, 255, 254},
        {"stuffed on the line", {0x81, 0x7E, 0x7D, 0x7E, 0x7D}, false, "", 0x7D7D, 0x7E, 0x7D},
        {"seven bytes", {0x81, 0x00, 0x00, 0x00, 0x00, 0x00}, false,
         "[Error IDE-0010] Error communicating over the serial port (corrupt packet $81).\n", 0, 0, 0},
        {"five bytes", {0x81, 0x00, 0x00, 0x00}, false,
         "[Error IDE-0010] Error communicating over the serial port (corrupt packet $81).\n", 0, 0, 0},
        {"wrong checksum and type: the checksum is told", {0x82, 0x00, 0x00, 0x00, 0x00, 0x00}, true,
         "[Error IDE-0009] Error communicating over the serial port (checksum failed).\n", 0, 0, 0},
        {"wrong type", {0x82, 0x00, 0x00, 0x00, 0x00}, false,
         "[Error IDE-0010] Error communicating over the serial port (corrupt packet $82).\n", 0, 0, 0},
    };
    for (const StatusCase& c : cases) {
        DeviceFixture f;
        ModuleScript script;
        script.status = c.status;
        script.statusChecksumGiven = c.checksumGiven;
        f.Module("COM1", script);
        f.Connect();
        int32_t pc = 0, activity = 0, extra = 0;
        EXPECT_EQ(RaisedLine([&] { f.comm.QueryStatus(pc, activity, extra); }), c.error) << c.name;
        EXPECT_EQ(f.Line().written, Bytes{0x01}) << c.name;
        if (c.error.empty()) {
            EXPECT_EQ(pc, c.pc) << c.name;
            EXPECT_EQ(activity, c.activity) << c.name;
            EXPECT_EQ(extra, c.extra) << c.name;
        }
    }
}

TEST(SXCommandsTest, SimpleCommandAnswersAnInputRequestWhileItWaits)
{
    DeviceFixture f;
    f.Module();
    f.Connect();
    // The module acknowledges 2 ms after the command; its request comes first.
    f.Line().DeliverAfter(1, {0x11});
    f.comm.SendSimpleCommand(0x0C);
    EXPECT_EQ(f.Line().written, (Bytes{0x0C, 0x13}));
    EXPECT_EQ(f.comm.PendingEchoes(), 0) << "the answer's echo was thrown away before the acknowledgement";
    EXPECT_EQ(f.Elapsed(), 2);
    EXPECT_FALSE(f.comm.BytesWaiting());
}

// Probing a port on the fake clock: RTS up and 200 ms, down and 200 ms, a
// 2 ms DTR pulse, kComStartLoad 5 ms later, the ping 50 ms after it, the end
// of start-up 100 ms after kComStartLoad, then ping and status query.
constexpr int64_t kProbeMs = 509;

struct ProbeCase {
    const char* name;
    std::function<void(ModuleScript&)> change;
    int openError;
    std::string error;
    int64_t elapsedMs;
};

ModuleScript Scripted(const std::function<void(ModuleScript&)>& change)
{
    ModuleScript script;
    if (change)
        change(script);
    return script;
}

std::vector<std::pair<int64_t, Bytes>> NoiseFor(int64_t ms)
{
    std::vector<std::pair<int64_t, Bytes>> noise;
    for (int64_t t = 0; t <= ms; t += 1000)
        noise.push_back({t == 0 ? 5 : 1000, {0x33}});
    return noise;
}

const ProbeCase kProbeCases[] = {
    {"a module", nullptr, 0, "", kProbeMs},
    {"bytes before kComStartLoad are dropped",
     [](ModuleScript& s) { s.onReset = {{1, {0x33, 0x81}}, {4, {0x0F}}, {100, {0x55}}}; }, 0, "", kProbeMs},
    {"the end before the ping's answer", [](ModuleScript& s) { s.onReset = {{5, {0x0F}}, {10, {0x5F}}}; }, 0, "",
     459},
    {"the port cannot be opened", nullptr, EBUSY, "[Error IDE-0006] Could not open the serial port: COM1.\n", 0},
    {"DSR stays low", [](ModuleScript& s) { s.dsrFollowsRts = false; }, 0, kNotFound, 200},
    {"DSR stays high",
     [](ModuleScript& s) {
         s.dsrFollowsRts = false;
         s.dsrFixed = true;
     },
     0, kNotFound, 400},
    {"silent after the reset", [](ModuleScript& s) { s.onReset = {}; }, 0, kTimeout, 402 + 10001},
    {"bytes but no kComStartLoad for 10 s", [](ModuleScript& s) { s.onReset = NoiseFor(11000); }, 0,
     "[Error IDE-0043] Morvane did not respond to reset.\n", 10407},
    {"an unknown start-up byte", [](ModuleScript& s) { s.onReset = {{5, {0x0F}}, {100, {0x63}}}; }, 0,
     "[Error IDE-0052] Incompatible firmware revision ($63).\n", 507},
    {"a start-up byte with the high bit", [](ModuleScript& s) { s.onReset = {{5, {0x0F}}, {100, {0xC3}}}; }, 0,
     "[Error IDE-0052] Incompatible firmware revision ($c3).\n", 507},
    {"another device answers the ping", [](ModuleScript& s) { s.pingAnswer = {0x33}; }, 0,
     "[Error IDE-0047] Another device connected to the serial port.\n", 507},
    {"the ping gets nothing back", [](ModuleScript& s) { s.pingSilent = true; }, 0, kNotFound, 507 + 101},
    {"a status reply with a bad checksum",
     [](ModuleScript& s) {
         s.status = {0x81, 0, 0, 0, 0, 1};
         s.statusChecksumGiven = true;
     },
     0, "[Error IDE-0009] Error communicating over the serial port (checksum failed).\n", kProbeMs},
    {"no status reply", [](ModuleScript& s) { s.answerStatus = false; }, 0, kTimeout, 507 + 5001},
};

TEST(SXDiscoveryTest, ChosenPortEachFailureEndsTheSearchAsItIs)
{
    for (const ProbeCase& c : kProbeCases) {
        DeviceFixture f;
        Settings().PortChosen = true;
        Settings().PortIndex = 0;
        f.Module("COM1", Scripted(c.change));
        f.Line().openError = c.openError;
        f.driver.SetEnableDTROnOpen(false);
        f.driver.SetComPort(pnCOM1);
        std::string error = RaisedLine([&] { f.comm.FindModule(); });
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(f.Elapsed(), c.elapsedMs) << c.name;
        EXPECT_EQ(f.driver.Connected(), c.error.empty()) << c.name;
        EXPECT_EQ(f.console.Text(), "") << c.name << ": a chosen port's error is raised, not printed";
        if (c.error.empty()) {
            EXPECT_EQ(f.driver.CharCount(), 0) << c.name;
            EXPECT_EQ(f.comm.PendingEchoes(), 0) << c.name;
            EXPECT_FALSE(f.Line().dtr) << c.name;
        }
    }
}

struct SearchPort {
    int number;
    std::function<void(ModuleScript&)> change; // nullptr with absent: no device behind the number
    bool present = true;
    int openError = 0;
};

struct SearchCase {
    const char* name;
    std::vector<SearchPort> ports;
    std::string output;
    std::string foundOn; // "" when IDE 54 is expected
    std::vector<int> opens; // per port
};

const auto kNoDsr = [](ModuleScript& s) { s.dsrFollowsRts = false; };
const auto kSilent = [](ModuleScript& s) { s.onReset = {}; };

TEST(SXDiscoveryTest, SearchOverThePortsPresent)
{
    const SearchCase cases[] = {
        {"no module on COM1, one on COM3", {{1, kNoDsr}, {3, nullptr}}, "", "COM3", {2, 2}},
        {"a silent board is named and passed", {{1, kSilent}, {2, nullptr}},
         "[Error IDE-0056] Possible Morvane on COM1 did not respond.\n", "COM2", {2, 2}},
        {"another device is named and passed", {{1, [](ModuleScript& s) { s.pingAnswer = {0x41}; }}, {2, nullptr}},
         "[Error IDE-0056] Possible Morvane on COM1 did not respond.\n", "COM2", {2, 2}},
        {"unknown firmware is reported and passed",
         {{1, [](ModuleScript& s) { s.onReset = {{5, {0x0F}}, {100, {0x63}}}; }}, {2, nullptr}},
         "[Error IDE-0052] Incompatible firmware revision ($63).\n", "COM2", {2, 2}},
        {"a port held by another program is passed silently", {{1, nullptr, true, EBUSY}, {2, nullptr}}, "", "COM2",
         {0, 2}},
        {"a number without a device is passed silently", {{1, nullptr, false}, {2, nullptr}}, "", "COM2", {0, 2}},
        {"no kComStartLoad is passed silently", {{1, [](ModuleScript& s) { s.onReset = NoiseFor(11000); }}, {2, nullptr}},
         "", "COM2", {2, 2}},
        {"a bad status reply is passed silently",
         {{1,
           [](ModuleScript& s) {
               s.status = {0x81, 0, 0, 0, 0, 1};
               s.statusChecksumGiven = true;
           }},
          {2, nullptr}},
         "", "COM2", {2, 2}},
        {"the second probe finds a module that missed the first reset",
         {{1, [](ModuleScript& s) { s.resetsIgnored = 1; }}}, "", "COM1", {3}},
        {"no module anywhere", {{1, kNoDsr}, {4, kSilent}},
         "[Error IDE-0056] Possible Morvane on COM4 did not respond.\n", "", {2, 2}},
        {"no ports at all", {}, "", "", {}},
    };
    for (const SearchCase& c : cases) {
        DeviceFixture f;
        RunSettings& settings = Settings();
        for (const SearchPort& port : c.ports) {
            settings.PortNumbers[settings.PortCount++] = port.number;
            std::string name = "COM" + std::to_string(port.number);
            if (!port.present)
                continue;
            f.Module(name, Scripted(port.change));
            f.Line(name).openError = port.openError;
        }
        f.driver.SetEnableDTROnOpen(false);
        std::string error = RaisedLine([&] { f.comm.FindModule(); });
        EXPECT_EQ(error, c.foundOn.empty() ? "[Error IDE-0054] Unable to find a Morvane on any port.\n" : "")
            << c.name;
        EXPECT_EQ(f.console.Text(), c.output) << c.name;
        EXPECT_EQ(f.driver.Connected(), !c.foundOn.empty()) << c.name;
        if (!c.foundOn.empty()) {
            EXPECT_EQ(f.driver.PortName(), c.foundOn) << c.name;
        }
        for (size_t i = 0; i < c.ports.size(); ++i) {
            std::string name = "COM" + std::to_string(c.ports[i].number);
            int opens = f.lines.count(name) ? f.lines[name]->opens : 0;
            EXPECT_EQ(opens, c.opens[i]) << c.name << ": " << name;
        }
    }
}

TEST(SXDiscoveryTest, SearchTellsEachPortItTriesAtLogLevelOne)
{
    DeviceFixture f;
    Settings().LogLevel = 1;
    Settings().PortCount = 2;
    Settings().PortNumbers[0] = 1;
    Settings().PortNumbers[1] = 3;
    f.Module("COM1", Scripted(kNoDsr));
    f.Module("COM3");
    f.comm.FindModule();
    EXPECT_EQ(f.console.Text(), "[Debug] TSXComm::AutoChoosePort"
                                "[Debug] Testing port: COM1"
                                "[Debug] Testing port: COM3"
                                "[Debug] Found connected Morvane Tolve, now testing for power"
                                "[Debug] Resetting"
                                "[Debug] TSXComm::QueryStatus"
                                "[Debug] TSXComm::SendCommand(1)"
                                "[Debug] TSXComm::AutoChoosePort - successful");
}

struct ResetCase {
    const char* name;
    bool quick;
    bool echo;
    std::vector<std::pair<int64_t, Bytes>> onReset;
    std::string error;
    int64_t elapsedMs;
    Bytes hostSent; // after the DTR pulse
    bool byteLeft;  // a byte after the end stays for the next reader
};

TEST(SXDiscoveryTest, ResetModule)
{
    const ResetCase cases[] = {
        {"quick: a stray ping answer, then the end", true, true, {{5, {0x0F, 0x0E, 0x55, 0x77}}}, "", 7, {}, true},
        {"quick: no ping is sent", true, true, {{5, {0x0F}}, {100, {0x50}}}, "", 107, {}, false},
        {"quick: the end is needed", true, true, {{5, {0x0F}}, {100, {0x0E}}}, kTimeout, 107 + 10001, {}, false},
        {"probing: waits for the ping's answer after the end", false, false,
         {{5, {0x0F}}, {50, {0x55}}, {300, {0x0E, 0x77}}}, "", 357, {0x0E}, true},
        {"probing: the ping 50 ms after kComStartLoad", false, true, {{5, {0x0F}}, {100, {0x5A}}}, "", 107, {0x0E},
         false},
        {"probing: a third kind of byte", false, true, {{5, {0x0F}}, {100, {0x00}}},
         "[Error IDE-0052] Incompatible firmware revision ($0).\n", 107, {0x0E}, false},
        {"earlier bytes dropped", true, true, {{1, {0x55, 0x0E, 0x13}}, {4, {0x0F, 0x55}}}, "", 7, {}, false},
    };
    for (const ResetCase& c : cases) {
        DeviceFixture f;
        ModuleScript script;
        script.echo = c.echo;
        script.onReset = c.onReset;
        ScriptedModule& module = f.Module("COM1", script);
        f.Connect();
        std::string error = RaisedLine([&] { f.comm.ResetModule(c.quick); });
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(f.Elapsed(), c.elapsedMs) << c.name;
        EXPECT_EQ(f.Line().written, c.hostSent) << c.name;
        EXPECT_EQ(f.comm.BytesWaiting(), c.byteLeft) << c.name;
        ASSERT_EQ(module.dtrRises.size(), 1u) << c.name;
        ASSERT_EQ(module.dtrFalls.size(), 1u) << c.name;
        EXPECT_EQ(module.dtrFalls[0] - module.dtrRises[0], 2) << c.name << ": the reset pulse";
    }
}

} // namespace
