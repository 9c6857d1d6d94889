#include "run/RunEngine.h"

#include "bench/BenchRunner.h"
#include "bench/BenchSession.h"
#include "device/ProgramMap.h"
#include "device/TSXComm.h"
#include "driver/Console.h"
#include "driver/Stages.h"
#include "errors/EError.h"
#include "jdwp/JdwpServer.h"
#include "platform/ConsoleKeys.h"
#include "platform/Files.h"
#include "run/JUnitReport.h"
#include "serial/TCommPortDriver.h"
#include "sim/Board.h"
#include "sim/MoxHeader.h"
#include "sim/MoxVm.h"
#include "sim/PinStimulus.h"
#include "sim/SimModule.h"
#include "sim/VcdTrace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>

namespace {

constexpr size_t kMaxKeysFileBytes = 1 << 20;
constexpr size_t kBlockData = 16;
// Short slices: a text or a pin a step waits for is looked at within a
// millisecond of module time (natives that wait jump the clock, so the
// instructions alone do not bound it).
constexpr uint64_t kSliceInstructions = 100;
constexpr int64_t kSliceUs = 1000;
// Framing of a module message, as the module puts it on the line.
constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;

void Notice(const std::string& text) { std::fprintf(stderr, "morvane-run: %s\n", text.c_str()); }

// The machine's messages go through the listener of a listening run, framed
// as the module sends them, so that text and exception reports look exactly
// as there. The listener's driver never opens a port: only requests for
// keys would use it, and those are answered here.
class ListenerLink final : public VmLink {
public:
    explicit ListenerLink(const ProgramMap* program) : comm_(driver_), program_(program) {}

    void SendMessage(uint8_t kind, const uint8_t* bytes, size_t size) override
    {
        std::vector<uint8_t> framed{kComMessage};
        auto stuff = [&framed](uint8_t byte) {
            if (byte == kFlag || byte == kEscape) {
                framed.push_back(kEscape);
                framed.push_back(static_cast<uint8_t>(byte ^ kEscapeXor));
            } else {
                framed.push_back(byte);
            }
        };
        stuff(kind);
        for (size_t i = 0; i < size; ++i)
            stuff(bytes[i]);
        framed.push_back(kFlag);
        comm_.ReceiveBytes(framed.data(), static_cast<int>(framed.size()), program_);
        if (kind == 3) {
            // The listener shows text up to its first zero byte.
            const uint8_t* end = std::find(bytes, bytes + size, 0);
            text_.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
        }
    }
    bool RequestKey() override { return true; }

    const std::string& Text() const { return text_; }

private:
    TCommPortDriver driver_;
    TSXComm comm_;
    const ProgramMap* program_;
    std::string text_;
};

// Keys for Terminal.getByte: a keys file's bytes, else standard input's
// (read only when the program asks, so that a pipe nobody closes cannot
// hold the run), then the bench's key steps as they come due.
class KeySource {
public:
    bool Open(const std::string& keysFile)
    {
        if (keysFile.empty()) {
            console_ = std::make_unique<ConsoleKeys>(0);
            return true;
        }
        std::vector<uint8_t> bytes;
        int error = ReadWholeFile(keysFile, kMaxKeysFileBytes, bytes);
        if (error == 0 && bytes.size() > kMaxKeysFileBytes)
            error = EFBIG;
        if (error != 0) {
            Notice(keysFile + ": " + SystemErrorText(error));
            return false;
        }
        keys_.assign(bytes.begin(), bytes.end());
        return true;
    }

    int Next(BenchRunner& bench)
    {
        if (!keys_.empty()) {
            int key = keys_.front();
            keys_.pop_front();
            return key;
        }
        if (console_ && !consoleEnded_ && console_->KeyWaiting()) {
            int key = console_->ReadKey();
            if (key >= 0)
                return key;
            consoleEnded_ = true;
        }
        return bench.TakeKey();
    }

private:
    std::deque<uint8_t> keys_;
    std::unique_ptr<ConsoleKeys> console_;
    bool consoleEnded_ = false;
};

std::vector<uint8_t> ProgramEeprom(const RunImage& image, uint32_t& length)
{
    // As a download leaves it: the run marker set, whole blocks, the rest
    // of the EEPROM erased.
    std::vector<uint8_t> eeprom(SimModule::kProgramEepromBytes, 0xFF);
    size_t size = std::min<size_t>(static_cast<size_t>(image.length), eeprom.size());
    std::copy_n(image.bytes.begin(), size, eeprom.begin());
    if (size > 0)
        eeprom[0] = MoxHeader::kRunMarker;
    size_t padded = std::min((size + kBlockData - 1) / kBlockData * kBlockData, eeprom.size());
    std::fill(eeprom.begin() + static_cast<long>(size), eeprom.begin() + static_cast<long>(padded), 0);
    length = static_cast<uint32_t>(padded);
    return eeprom;
}

std::string ExceptionText(const MoxVm& vm, const ProgramMap* program)
{
    std::string text = "uncaught exception";
    try {
        text += " " + program->ClassNameAt(vm.UncaughtClass());
        ProgramMap::SourceLine where = program->LineOfPc(vm.UncaughtPc());
        text += " in file '" + where.fileName + "' at line " + std::to_string(where.line);
    } catch (...) {
        text += " (class record " + std::to_string(vm.UncaughtClass()) + ", pc " + std::to_string(vm.UncaughtPc()) + ")";
    }
    return text;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct Outcome {
    BenchRunner::Verdict verdict = BenchRunner::Verdict::bvRunning;
    std::string message;
};

Outcome Play(MoxVm& vm, BenchRunner& bench, KeySource& keys, const ListenerLink& link, const BenchPins& pins,
             int64_t timeoutUs, const ProgramMap* program, JdwpServer* debugger)
{
    using Verdict = BenchRunner::Verdict;
    for (;;) {
        int64_t untilUs = std::min(bench.NextCheckUs(), vm.NowUs() + kSliceUs);
        if (timeoutUs > 0)
            untilUs = std::min(untilUs, timeoutUs);
        // The watched loop only while a debugger is attached: a run without
        // one, or after it detached, pays nothing for breakpoints.
        MoxVm::State state = debugger != nullptr && debugger->Attached()
                                 ? vm.RunWatched(kSliceInstructions, std::max(untilUs, vm.NowUs() + 1))
                                 : vm.Run(kSliceInstructions, std::max(untilUs, vm.NowUs() + 1));
        if (debugger != nullptr) {
            debugger->Service();
            if (debugger->ExitRequested()) {
                vm.Terminate();
                return {Verdict::bvFailed, "the debugger ended the program"};
            }
        }
        if (state == MoxVm::State::vsWaitingForKey)
            vm.ProvideKey(keys.Next(bench));
        for (const std::string& line : bench.TakeNotices())
            Notice(line);
        if (vm.Stopped()) {
            if (state == MoxVm::State::vsUncaught)
                return {Verdict::bvFailed, ExceptionText(vm, program)};
            if (state == MoxVm::State::vsFaulted)
                return {Verdict::bvFailed, std::string("the program halted: ") + VmFaultText(vm.Fault().code)};
            Verdict verdict = bench.ProgramStopped(vm.NowUs(), link.Text(), pins);
            for (const std::string& line : bench.TakeNotices())
                Notice(line);
            return {verdict, bench.Message()};
        }
        Verdict verdict = bench.Advance(vm.NowUs(), link.Text(), pins);
        for (const std::string& line : bench.TakeNotices())
            Notice(line);
        if (verdict != Verdict::bvRunning)
            return {verdict, bench.Message()};
        if (timeoutUs > 0 && vm.NowUs() >= timeoutUs)
            return {Verdict::bvTimedOut, "the program still ran at the run's time-out (" + ModuleTimeText(timeoutUs) + ")"};
    }
}

} // namespace

int RunProgramOnBench(const RunOptions& options)
{
    BenchScript script;
    if (!options.benchFile.empty()) {
        BenchError error;
        if (!ReadBenchFile(options.benchFile, script, error)) {
            std::fprintf(stderr, "%s\n", error.Text().c_str());
            return rxNotRun;
        }
    }
    KeySource keys;
    if (!keys.Open(options.keysFile))
        return rxNotRun;

    RunImage image;
    {
        // Catalogue lines of a failed link are the runner's, not the program's.
        FILE* console = ConsoleStream();
        SetConsoleStream(stderr);
        try {
            image = LinkProgram(options.mainClass, options.classPath);
        } catch (const EError& error) {
            error.Print(false);
            SetConsoleStream(console);
            return rxNotRun;
        }
        SetConsoleStream(console);
    }

    VcdTrace trace;
    if (!options.traceFile.empty()) {
        int error = 0;
        if (!trace.Open(options.traceFile, error)) {
            Notice(options.traceFile + ": " + SystemErrorText(error));
            return rxNotRun;
        }
    }

    // A bench's own time-out stands unless the command line chose another.
    int64_t timeoutUs = options.timeoutUs;
    if (script.timeoutUs >= 0 && !options.timeoutGiven)
        timeoutUs = script.timeoutUs;

    uint32_t length = 0;
    std::vector<uint8_t> eeprom = ProgramEeprom(image, length);
    Board board;
    ListenerLink link(image.program);
    PinStimulus world;
    MoxVm vm(eeprom, length, options.ramBytes != 0 ? options.ramBytes : MoxVm::kDefaultRamBytes, board, link);
    vm.AttachStimulus(&world);
    if (trace.IsOpen())
        vm.AttachTrace(&trace);
    BenchRunner bench(script, world, options.expectTexts, options.failTexts);
    VmBenchPins pins(vm, board);

    std::unique_ptr<JdwpServer> debugger;
    if (options.jdwpPort >= 0) {
        const ProgramDebugInfo* info = LinkedDebugInfo();
        debugger = std::make_unique<JdwpServer>(vm, *info);
        int error = debugger->Listen(static_cast<uint16_t>(options.jdwpPort));
        if (error != 0) {
            Notice("port " + std::to_string(options.jdwpPort) + ": " + SystemErrorText(error));
            return rxNotRun;
        }
        // The line a JVM waiting for its debugger prints; scripts and IDEs
        // look for it before they attach.
        std::fprintf(stdout, "Listening for transport dt_socket at address: %u\n", debugger->Port());
        std::fflush(stdout);
        if (!debugger->WaitForDebugger()) {
            Notice("stopped while waiting for a debugger");
            return rxNotRun;
        }
    }

    Outcome outcome = Play(vm, bench, keys, link, pins, timeoutUs, image.program, debugger.get());
    if (debugger)
        debugger->ProgramEnded();
    std::fflush(ConsoleStream());

    int exitCode = outcome.verdict == BenchRunner::Verdict::bvPassed   ? rxPassed
                   : outcome.verdict == BenchRunner::Verdict::bvFailed ? rxFailed
                                                                         : rxTimedOut;
    if (trace.IsOpen()) {
        vm.SyncTrace();
        int error = 0;
        if (!trace.Close(vm.NowUs(), error)) {
            Notice(options.traceFile + ": " + SystemErrorText(error));
            exitCode = rxNotRun;
        }
    }
    std::string when = " after " + ModuleTimeText(vm.NowUs()) + " of module time";
    Notice(exitCode == rxPassed ? "passed" + when : (exitCode == rxFailed ? "failed" : "timed out") + when + ": " + outcome.message);

    if (!options.junitFile.empty()) {
        std::string caseName = options.mainClass + (options.benchFile.empty() ? "" : " with " + BaseName(options.benchFile));
        const std::string* failure = exitCode == rxPassed ? nullptr : &outcome.message;
        if (!WriteJUnitReport(options.junitFile, options.mainClass, caseName, static_cast<double>(vm.NowUs()) / 1e6,
                              failure, exitCode == rxTimedOut, link.Text())) {
            Notice(options.junitFile + ": the report could not be written");
            return rxNotRun;
        }
    }
    return exitCode;
}
