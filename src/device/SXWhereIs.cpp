// The one status query of a listening run that is being stopped: where the
// program was, named through the linked program.

#include "device/ProgramMap.h"
#include "device/TSXComm.h"

#include "driver/Console.h"
#include "errors/EError.h"

#include <string>

void TSXComm::ReportWhereProgramIs(const ProgramMap* program)
{
    // A stored image has no names to give; the module is not even asked.
    if (program == nullptr)
        return;
    int32_t pc = 0, activity = 0, extra = 0;
    std::string method;
    ProgramMap::SourceLine where;
    try {
        QueryStatus(pc, activity, extra);
        method = program->MethodNameAt(pc);
        where = program->LineOfPc(pc);
    } catch (const EError&) {
        // A module that is gone, busy or confused has nothing to tell, and a
        // program counter outside the image (-1 once the program has ended)
        // names nothing: the user asked for the run to end, not for another
        // error.
        return;
    }
    ConsolePrint("Program was at %s (%s:%d)\n", method.c_str(), where.fileName.c_str(), where.line);
}
