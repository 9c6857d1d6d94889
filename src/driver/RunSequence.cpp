#include "driver/RunSequence.h"

#include "driver/Console.h"
#include "driver/MoxFile.h"
#include "driver/Options.h"
#include "driver/PortSetup.h"
#include "driver/RunSettings.h"
#include "driver/Usage.h"
#include "errors/EError.h"

#include <cstdint>

namespace {

// The image of this run: the linker's output or a stored file's bytes.
struct RunImage {
    std::vector<uint8_t> bytes; // followed by at least 20 zero bytes
    int32_t length = 0;
};

RunImage LinkProgram(const std::string& /*className*/, const std::string& /*classPath*/)
{
    // The linker is not part of this build yet.
    throw EError(ecIDE, 48);
}

RunImage ReadStoredImage(const std::string& fileName)
{
    MoxFileImage file = ReadMoxFile(fileName + ".mox");
    return RunImage{std::move(file.buffer), file.length};
}

void FindModuleOnPort()
{
    // The device protocol is not part of this build yet.
    throw EError(ecIDE, 48);
}

void RunStages(const CommandLine& line)
{
    RunImage image;
    if (!line.loadOnly) {
        if (Settings().TraceLinker)
            DebugPrint("Linking file: %s with path %s", line.fileName.c_str(), line.classPath.c_str());
        ConsoleText("Linking\n");
        image = LinkProgram(line.fileName, line.classPath);
    } else {
        image = ReadStoredImage(line.fileName);
    }

    if (!line.linkOnly) {
        ConsoleText("Finding Morvane\n");
        FindModuleOnPort();
    }

    // Written before the download, which marks the image in memory.
    if (!line.loadOnly)
        WriteMoxFile(line.fileName + ".mox", image.bytes.data(), image.length);
}

} // namespace

int RunMorvaneDirect(const std::vector<std::string>& args)
{
    ConsoleText("MorvaneDirect version 1.3\n");
    InitialiseSettings();
    EnumeratePorts();
    if (args.empty()) {
        PrintUsage();
        return 0;
    }
    CommandLine line = ParseCommandLine(args);
    if (line.outcome == CommandLine::ocUsage) {
        PrintUsage();
        return 0;
    }
    if (line.outcome == CommandLine::ocUsageError) {
        ConsoleText(line.error);
        return 1;
    }
    try {
        RunStages(line);
    } catch (const EError& error) {
        // A failed stage is a failed run: scripts and build tools must see it.
        error.Print(false);
        return 1;
    }
    return 0;
}
