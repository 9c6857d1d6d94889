#include "driver/Stages.h"

#include "image/DebugInfo.h"
#include "image/LinkedProgramMap.h"
#include "linker/CMOXLinker.h"

#include <memory>

namespace {

// The current linker: one per run, kept until the process ends, because the
// listener explains the module's exception reports from its classes and
// layout long after the link.
std::unique_ptr<CMOXLinker> currentLinker;
std::unique_ptr<LinkedProgramMap> currentProgram;
std::unique_ptr<ProgramDebugInfo> currentDebugInfo;

// The download sends whole blocks of 16 bytes, so its last block reads past
// the image: zeros, as after an image read from a file.
constexpr size_t kImageTail = 20;

} // namespace

RunImage LinkProgram(const std::string& className, const std::string& classPath)
{
    currentProgram.reset();
    currentDebugInfo.reset();
    currentLinker = std::make_unique<CMOXLinker>();
    currentLinker->Link(className, classPath);
    currentProgram = std::make_unique<LinkedProgramMap>(*currentLinker);

    RunImage image;
    const uint8_t* data = currentLinker->ImageData();
    image.length = currentLinker->ImageSize();
    image.bytes.assign(data, data + image.length);
    image.bytes.resize(image.bytes.size() + kImageTail, 0);
    image.program = currentProgram.get();
    return image;
}

const ProgramDebugInfo* LinkedDebugInfo()
{
    if (currentLinker == nullptr)
        return nullptr;
    if (currentDebugInfo == nullptr)
        currentDebugInfo = std::make_unique<ProgramDebugInfo>(BuildDebugInfo(*currentLinker));
    return currentDebugInfo.get();
}
