#pragma once

#include "device/ProgramMap.h"

class CMOXLinker;

// The linked program as the message listener sees it: what the linker that
// wrote the downloaded image knows about its class records and code.
class LinkedProgramMap : public ProgramMap {
public:
    explicit LinkedProgramMap(const CMOXLinker& linker) : linker_(linker) {}

    std::string ClassNameAt(int classOffset) const override;
    SourceLine LineOfPc(int pc) const override;
    std::string MethodNameAt(int pc) const override;

private:
    const CMOXLinker& linker_;
};
