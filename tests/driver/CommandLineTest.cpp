// Runs the built executable the way users and scripts do.
#include "platform/Files.h"
#include "support/Process.h"
#include "support/SystemFacts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

const std::string kVersion = "MorvaneDirect version 1.3\n";
const std::string kUsage =
    "\nMorvaneDirect [options] filename\n"
    "   Link and/or download a Morvane program or download a moxfile from the command line.\n"
    "\n"
    "   Filename is the name of the .class file containing the\n"
    "   main() method or the mox file. Do not use the .class, .java or .mox suffix.\n"
    "\n"
    "   --path <path> Classpath. Multiple paths are separated by semicolons.\n"
    "                 Use quotes if there are spaces in the paths.\n"
    "   --port <port> Serial port number. e.g. 2 for COM2.\n"
    "                 The port number will be automatically chosen if not specified.\n"
    "   --listen      After downloading the program listen and receive any\n"
    "                 debug messages from the Morvane.\n"
    "   --link        Only link sources and create mox file.\n"
    "   --load        Only download a mox file to the Morvane.\n"
    "   --help        Display this help message\n"
    "\n"
    "   To link and download:\n"
    "   e.g. MorvaneDirect --path \"C:\\morvane\\lib;C:\\morvane\\Files\" --port 1 Rovlet\n"
    "   To link only:\n"
    "   e.g. MorvaneDirect --link \"C:\\Rovlet\"\n"
    "   To download only:\n"
    "   e.g. MorvaneDirect --load --port 1 \"C:\\Rovlet\"\n"
    "\n";

size_t CountErrorLines(const std::string& output)
{
    size_t count = 0;
    for (size_t at = output.find("[Error "); at != std::string::npos; at = output.find("[Error ", at + 1))
        ++count;
    return count;
}

struct ExactCase {
    const char* name;
    std::vector<std::string> args;
    std::string output;
    int exitCode;
};

TEST(CommandLineTest, ExactOutputAndExitCode)
{
    const ExactCase cases[] = {
        {"no arguments", {}, kVersion + kUsage, 0},
        {"--help", {"--help"}, kVersion + kUsage, 0},
        {"-h", {"-h"}, kVersion + kUsage, 0},
        {"/h", {"/h"}, kVersion + kUsage, 0},
        {"/?", {"/?"}, kVersion + kUsage, 0},
        {"help ends parsing at once", {"Prog", "--help", "--path"}, kVersion + kUsage, 0},
        {"help after --port's value", {"--port", "2", "--link", "-h", "--port"}, kVersion + kUsage, 0},
        {"--path without value", {"Prog", "--path"}, kVersion + "\nError: Path expected.\n\n", 1},
        {"--port without value", {"--link", "--port"}, kVersion + "\nError: Port number expected.\n\n", 1},
        {"an earlier error wins over a later help", {"--path"}, kVersion + "\nError: Path expected.\n\n", 1},
        {"a mistyped option", {"--port", "sim", "--lisen", "Prog"}, kVersion + "\nError: Unknown option --lisen.\n\n", 1},
        {"options are case-sensitive", {"Prog", "--LINK"}, kVersion + "\nError: Unknown option --LINK.\n\n", 1},
        {"an unknown option before help", {"--version", "--help"}, kVersion + "\nError: Unknown option --version.\n\n", 1},
        {"a misspelt sim port", {"--port", "simm", "Prog"},
         kVersion + "\nError: Unknown port simm (a COM number, a device, rfc2217://HOST:PORT or sim expected).\n\n", 1},
        {"a URL without its slashes", {"--port", "rfc2217:/localhost:2217", "Prog"},
         kVersion + "\nError: Unknown port rfc2217:/localhost:2217 (a COM number, a device, rfc2217://HOST:PORT or sim expected).\n\n", 1},
        {"an unknown simulator option", {"--link", "--port", "sim:pase", "Prog"},
         kVersion + "\nError: --port sim:pase: unknown simulator option 'pase'; sim: takes pace, memory=BYTES, bench=FILE, trace=FILE, "
                    "drop-ack=VALUE, corrupt-status=VALUE, silent-after=VALUE, hang-up-at-block=VALUE, garbage=VALUE, "
                    "ping-answer=VALUE, dsr=VALUE.\n\n", 1},
        {"too little simulator memory", {"--port", "sim:pace,memory=1000", "Prog"},
         kVersion + "\nError: --port sim:pace,memory=1000: memory takes 4096 to 49152 bytes, not 1000.\n\n", 1},
        {"--link with --load", {"--link", "--load", "Prog"}, kVersion + "\nError: --link and --load cannot be used together.\n\n", 1},
    };
    for (const ExactCase& c : cases) {
        ProcessResult result = RunMorvane(c.args);
        EXPECT_EQ(result.output, c.output) << c.name;
        EXPECT_EQ(result.exitCode, c.exitCode) << c.name;
    }
}

TEST(CommandLineTest, OptionValuesAreNotOptions)
{
    // --help right after --path is the class path, so the run goes on to link.
    ProcessResult result = RunMorvane({"--path", "--help", "--link"});
    EXPECT_EQ(result.output.find("MorvaneDirect [options]"), std::string::npos);
    EXPECT_EQ(result.output.rfind(kVersion + "Linking\n", 0), 0u) << result.output;
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(CountErrorLines(result.output), 1u);
}

struct LoadCase {
    const char* name;
    size_t size;
    std::string expectedError; // empty: the file is accepted and the search for the module begins
};

TEST(CommandLineTest, LoadChecksTheStoredImage)
{
    TempDir dir;
    const LoadCase cases[] = {
        {"empty file", 0, "[Error IDE-0003] System error when reading `" + dir.File("p0.mox") + "': the file is empty, so it holds no image.\n"},
        {"one byte", 1, ""},
        {"twenty blocks", 320, ""},
        {"largest image", 65535, ""},
        {"64 KiB", 65536, "[Error LNK-0008] Maximum binary size exceeded.\n"},
    };
    for (const LoadCase& c : cases) {
        std::string stem = dir.File("p" + std::to_string(c.size));
        dir.Write("p" + std::to_string(c.size) + ".mox", std::vector<uint8_t>(c.size, 0x5A));
        // --port names a device that does not exist, so no real port is touched.
        ProcessResult result = RunMorvane({"--load", "--port", ExamplePortNames().device, stem});
        EXPECT_EQ(result.exitCode, 1) << c.name;
        EXPECT_EQ(CountErrorLines(result.output), 1u) << c.name << ": " << result.output;
        EXPECT_EQ(result.output.find("Linking"), std::string::npos) << c.name;
        if (c.expectedError.empty())
            EXPECT_EQ(result.output.rfind(kVersion + "Finding Morvane\n", 0), 0u) << c.name << ": " << result.output;
        else
            EXPECT_EQ(result.output, kVersion + c.expectedError) << c.name;
    }
}

TEST(CommandLineTest, LoadOfAMissingFilePrintsOneCatalogueLine)
{
    TempDir dir;
    ProcessResult result = RunMorvane({"--load", dir.File("absent")});
    const int missing = ExpectedFileFailures().missingFile;
    EXPECT_EQ(result.output, kVersion + "[Error IDE-0003] System error when opening `" + dir.File("absent.mox") + "' (" +
                                 std::to_string(missing) + "): " + SystemErrorText(missing) + ".\n");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(CommandLineTest, FailedLinkLeavesNoImageFile)
{
    TempDir dir;
    ProcessResult result = RunMorvane({"--link", "--path", dir.Path(), "Missing"}, {.workingDirectory = dir.Path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(CountErrorLines(result.output), 1u) << result.output;
    EXPECT_TRUE(dir.List().empty());
}

} // namespace
