#include "driver/RunSequence.h"

#include "driver/Console.h"
#include "driver/MoxFile.h"
#include "driver/Options.h"
#include "driver/PortSetup.h"
#include "driver/RunSettings.h"
#include "driver/Stages.h"
#include "driver/Usage.h"
#include "errors/EError.h"

namespace {

RunImage ReadStoredImage(const std::string& fileName)
{
    MoxFileImage file = ReadMoxFile(fileName + ".mox");
    return RunImage{std::move(file.buffer), file.length, nullptr};
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

    std::unique_ptr<ModuleSession> module;
    if (!line.linkOnly) {
        ConsoleText("Finding Morvane\n");
        module = ConnectModule(image.program);
    }

    // Written before the download, which marks the image in memory, so the
    // file holds the image exactly as the linker made it.
    if (!line.loadOnly)
        WriteMoxFile(line.fileName + ".mox", image.bytes.data(), image.length);

    if (line.linkOnly)
        return;
    module->Download(image.bytes.data(), image.length);
    ConsoleText("Download complete. Resetting Morvane.\n");
    module->Reset();
    if (line.listen) {
        ConsoleText("Listening for messages\n");
        module->Listen();
    }
}

} // namespace

int RunMorvaneDirect(const std::vector<std::string>& args, const SerialPortRoots& roots)
{
    ConsoleText("MorvaneDirect version 1.3\n");
    InitialiseSettings();
    EnumeratePorts(roots);
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
