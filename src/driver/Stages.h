#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ProgramMap;
class ProgramDebugInfo;

// The image of this run: the linker's output or a stored file's bytes.
struct RunImage {
    std::vector<uint8_t> bytes; // the image, then at least 20 zero bytes
    int32_t length = 0;
    // What the listener needs to name classes and lines in exception reports;
    // null when the image was read from a file. Lives until the process ends.
    const ProgramMap* program = nullptr;
};

// Links `className` along `classPath` (LinkStage.cpp). Raises EError.
RunImage LinkProgram(const std::string& className, const std::string& classPath);

// What a debugger needs of the last link's classes, methods, lines and
// locals, made on first use; null before any link. Lives until the process
// ends.
const ProgramDebugInfo* LinkedDebugInfo();

// The module, found and connected (ModuleStage.cpp). Each step raises EError.
class ModuleSession {
public:
    virtual ~ModuleSession() = default;
    // Sends the image; the bytes may be changed (the run marker).
    virtual void Download(uint8_t* image, int32_t length) = 0;
    // Restarts the module so that the downloaded program runs.
    virtual void Reset() = 0;
    // Prints what the program sends and passes it typed keys, until SIGINT or
    // SIGTERM; the terminal and the port are restored on every way out.
    virtual void Listen() = 0;
};

// Finds the module on the chosen port, or on each listed port in turn.
std::unique_ptr<ModuleSession> ConnectModule(const ProgramMap* program);
