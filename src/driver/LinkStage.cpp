#include "driver/Stages.h"

#include "errors/EError.h"

RunImage LinkProgram(const std::string& /*className*/, const std::string& /*classPath*/)
{
    // The linker is not part of this build yet.
    throw EError(ecIDE, 48);
}
