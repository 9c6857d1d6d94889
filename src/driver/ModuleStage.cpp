#include "driver/Stages.h"

#include "errors/EError.h"

std::unique_ptr<ModuleSession> ConnectModule(const ProgramMap* /*program*/)
{
    // The device protocol is not part of this build yet.
    throw EError(ecIDE, 48);
}
