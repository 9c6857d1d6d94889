// morvanedirect as users run it, against a module emulated behind a real
// RFC 2217 server on loopback. Scenarios whose time-outs would take long are
// tested on the fake clock of the device tests instead.

#include "classfile/JavaClass.h"
#include "errors/EError.h"
#include "image/LinkedProgramMap.h"
#include "integration/ModuleEmulator.h"
#include "linker/CMOXLinker.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kHead = "MorvaneDirect version 1.3\nFinding Morvane\n";

Bytes SomeImage(size_t length)
{
    Bytes image(length);
    for (size_t i = 0; i < length; ++i)
        image[i] = static_cast<uint8_t>(i * 13 + 1);
    return image;
}

// Runs morvanedirect with `input` on its standard input until its output
// holds `until`, then sends SIGTERM, as a user's Ctrl-C would end it.
ProcessResult RunUntil(const std::vector<std::string>& args, const std::string& input, const std::string& until,
                       const std::string& workingDirectory = "", double timeoutSeconds = 20)
{
    ProcessResult result;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(MORVANEDIRECT_EXE)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(MORVANEDIRECT_EXE, argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
        ADD_FAILURE() << "could not write the keys";
    close(in[1]);
    // Never block in read(): the deadline must be able to end the run.
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    auto start = std::chrono::steady_clock::now();
    bool signalled = false;
    for (;;) {
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!signalled && (result.output.find(until) != std::string::npos || elapsed > timeoutSeconds)) {
            kill(pid, SIGTERM);
            signalled = true;
        }
        pollfd descriptor{out[0], POLLIN, 0};
        poll(&descriptor, 1, 100);
        char chunk[4096];
        ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n == 0 || (n < 0 && signalled && elapsed > timeoutSeconds + 10))
            break;
        if (n > 0)
            result.output.append(chunk, static_cast<size_t>(n));
    }
    close(out[0]);
    // Its output closes as it exits; give it a moment to finish exiting.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 500 && (ended = waitpid(pid, &status, WNOHANG)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended == 0) {
        ADD_FAILURE() << "SIGTERM did not end the run";
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

TEST(ModuleIntegrationTest, LoadDownloadsExactlyTheImage)
{
    ModuleEmulator module;
    ASSERT_TRUE(module.Started());
    TempDir dir;
    const Bytes image = SomeImage(100);
    dir.Write("prog.mox", image);
    ProcessResult result = RunMorvane({"--load", "--port", module.Url(), dir.File("prog")});
    EXPECT_EQ(result.output, kHead + "Downloading .......\nDownload complete. Resetting Morvane.\n");
    EXPECT_EQ(result.exitCode, 0);
    Bytes expected = image;
    expected[0] = 0xA4;
    expected.resize(112, 0);
    EXPECT_EQ(module.Image(), expected);
    EXPECT_EQ(module.Resets(), 2) << "one probing reset, one after the download";
    EXPECT_EQ(module.Line(), "[28800, 8, \"N\", 1]");
    EXPECT_EQ(dir.Read("prog.mox"), image) << "the stored file is left as it was";
}

struct FailureCase {
    const char* name;
    std::vector<std::string> emulator; // options; {"none"}: no server at all
    std::string lines;                 // what follows "Finding Morvane\n"
};

TEST(ModuleIntegrationTest, EachFailurePrintsItsCatalogueLine)
{
    const FailureCase cases[] = {
        {"DSR does not follow RTS", {"--dsr", "off"}, "[Error IDE-0046] Morvane not found on serial port.\n"},
        {"another device answers the ping", {"--ping-answer", "33"},
         "[Error IDE-0047] Another device connected to the serial port.\n"},
        {"firmware this tool does not know", {"--end-load", "63"},
         "[Error IDE-0052] Incompatible firmware revision ($63).\n"},
        {"a status reply with a bad checksum", {"--status", "81 00 00 00 00 01", "--status-checksum", "given"},
         "[Error IDE-0009] Error communicating over the serial port (checksum failed).\n"},
        {"a status reply of the wrong type", {"--status", "82 00 00 00 00"},
         "[Error IDE-0010] Error communicating over the serial port (corrupt packet $82).\n"},
        {"a block without acknowledgement", {"--stall-at-block", "3"},
         "Downloading ...[Error IDE-0022] Error reading from the serial port (timeout).\n"},
    };
    TempDir dir;
    dir.Write("prog.mox", SomeImage(100));
    for (const FailureCase& c : cases) {
        ModuleEmulator module(c.emulator);
        ASSERT_TRUE(module.Started()) << c.name;
        ProcessResult result = RunMorvane({"--load", "--port", module.Url(), dir.File("prog")});
        EXPECT_EQ(result.output, kHead + c.lines) << c.name;
        EXPECT_EQ(result.exitCode, 1) << c.name;
    }
}

TEST(ModuleIntegrationTest, APortThatCannotBeOpenedIsNamedAsGiven)
{
    TempDir dir;
    dir.Write("prog.mox", SomeImage(10));
    for (const std::string url : {"rfc2217://127.0.0.1:1", "rfc2217://127.0.0.1"}) {
        ProcessResult result = RunMorvane({"--load", "--port", url, dir.File("prog")});
        EXPECT_EQ(result.output, kHead + "[Error IDE-0006] Could not open the serial port: " + url + ".\n") << url;
        EXPECT_EQ(result.exitCode, 1) << url;
    }
}

TEST(ModuleIntegrationTest, ListeningPrintsTextAnswersInputAndReportsExceptions)
{
    // The program greets, asks for a key and echoes it, sends a text split
    // over two writes, then an exception report and a message of no known
    // kind; a last input request gets no key (there are no more).
    const std::string program = R"([{"text": "Hello from the module\n"}, {"input": 1},
        {"raw": "05 03 53 70"}, {"sleep": 150}, {"raw": "6c 69 74 0a 7e"},
        {"exception": [291, 57]}, {"raw": "05 09 7e"}, {"text": "Done\n"}, {"input": 1}])";
    ModuleEmulator module({"--program", program});
    ASSERT_TRUE(module.Started());
    TempDir dir;
    dir.Write("prog.mox", SomeImage(40));
    ProcessResult result =
        RunUntil({"--load", "--listen", "--port", module.Url(), dir.File("prog")}, "q", "Done\n");
    EXPECT_EQ(result.output, kHead +
                                 "Downloading ...\n"
                                 "Download complete. Resetting Morvane.\n"
                                 "Listening for messages\n"
                                 "Hello from the module\n"
                                 "Key q\n"
                                 "Split\n"
                                 "[Error IDE-0028] Unhandled exception in JVM: 291\n"
                                 "Exception thrown at pc = 57; no line can be given without the linked program\n"
                                 "[Debug] Unknown message from MorvaneDone\n");
    EXPECT_EQ(result.exitCode, 0) << "Ctrl-C or SIGTERM ends listening as a normal end";
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(module.Keys(), Bytes{'q'});
}

const std::string kClassPath = std::string(MORVANE_FIXTURE_DIR) + "/modulerun;" + MORVANE_LIB_DIR;

TEST(ModuleIntegrationTest, DefaultRunLinksDownloadsAndResets)
{
    ModuleEmulator module;
    ASSERT_TRUE(module.Started());
    TempDir dir;
    ProcessResult result =
        RunMorvane({"--path", kClassPath, "--port", module.Url(), "Hello"}, {.workingDirectory = dir.Path()});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    Bytes file = dir.Read("Hello.mox");
    size_t blocks = (file.size() + 15) / 16;
    size_t interval = std::max<size_t>(blocks / 20, 1);
    EXPECT_EQ(result.output, "MorvaneDirect version 1.3\nLinking\nFinding Morvane\nDownloading " +
                                 std::string((blocks + interval - 1) / interval, '.') +
                                 "\nDownload complete. Resetting Morvane.\n");
    Bytes expected = file;
    expected.resize(blocks * 16, 0);
    EXPECT_EQ(module.Image(), expected);
}

// Where the linked program's ArithmeticException class record and the
// division of Hello.java (line 8) lie in its image.
struct ExceptionSite {
    int classOffset = -1;
    int pc = -1;
    std::string fileName; // as the linker tells it: the class file's path, ending .java
};

ExceptionSite FindDivisionSite()
{
    CMOXLinker linker;
    linker.Link("Hello", kClassPath);
    LinkedProgramMap program(linker);
    ExceptionSite site;
    for (int i = 0; i < linker.ClassCount(); ++i)
        if (linker.ClassAt(i)->DottedName() == "java.lang.ArithmeticException")
            site.classOffset = linker.ClassOffset(i);
    for (int pc = linker.ImageSize() - 1; pc >= 0 && site.pc < 0; --pc) {
        try {
            ProgramMap::SourceLine where = program.LineOfPc(pc);
            if (where.line == 8 && where.fileName.ends_with("/Hello.java")) {
                site.pc = pc;
                site.fileName = where.fileName;
            }
        } catch (const EError&) {
        }
    }
    return site;
}

TEST(ModuleIntegrationTest, AnExceptionIsReportedWithClassFileAndLine)
{
    ExceptionSite site = FindDivisionSite();
    ASSERT_GE(site.classOffset, 0);
    ASSERT_GE(site.pc, 0);
    // An error raised by a report drops the rest of its chunk, so the last
    // text comes a little later, in a chunk of its own.
    std::string program = "[{\"text\": \"Hello\\n\"}, {\"exception\": [" + std::to_string(site.classOffset) + ", " +
                          std::to_string(site.pc) + "]}, {\"exception\": [1, " + std::to_string(site.pc) +
                          "]}, {\"sleep\": 150}, {\"text\": \"Done\\n\"}]";
    ModuleEmulator module({"--program", program});
    ASSERT_TRUE(module.Started());
    TempDir dir;
    ProcessResult result = RunUntil({"--path", kClassPath, "--port", module.Url(), "--listen", "Hello"}, "", "Done\n", dir.Path());
    size_t listening = result.output.find("Listening for messages\n");
    ASSERT_NE(listening, std::string::npos) << result.output;
    EXPECT_EQ(result.output.substr(listening), "Listening for messages\n"
                                               "Hello\n"
                                               "[Error IDE-0028] Unhandled exception in JVM: java.lang.ArithmeticException\n"
                                               "Exception thrown in file '" + site.fileName + "' at line 8\n"
                                               "[Error IDE-0042] Unknown unhandled exception in JVM (1).\n"
                                               "Done\n");
    EXPECT_EQ(result.exitCode, 0);
}

} // namespace
