#include "driver/WhereIsIt.h"

#include "device/ProgramMap.h"
#include "device/TSXComm.h"
#include "driver/Console.h"
#include "errors/EError.h"

#include <cstdint>
#include <string>

void SayWhereProgramIs(TSXComm& comm, const ProgramMap* program)
{
    if (program == nullptr)
        return;
    int32_t pc = 0, activity = 0, extra = 0;
    std::string method;
    ProgramMap::SourceLine where;
    try {
        comm.QueryStatus(pc, activity, extra);
        method = program->MethodNameAt(pc);
        where = program->LineOfPc(pc);
    } catch (const EError&) {
        // A module that is gone, busy or confused has nothing to tell; the
        // user asked for the run to end, not for another error.
        return;
    }
    ConsolePrint("Program was at %s (%s:%d)\n", method.c_str(), where.fileName.c_str(), where.line);
}
