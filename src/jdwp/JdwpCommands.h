#pragma once

#include "jdwp/JdwpSession.h"

// The command-set files' tables, each ended by a null handler; the dispatch
// table (JdwpDispatch.cpp) gathers them.
namespace jdwp {

struct CommandEntry {
    uint8_t command;
    Handler handler;
};

extern const CommandEntry kVirtualMachineCommands[];
extern const CommandEntry kReferenceTypeCommands[];
extern const CommandEntry kClassTypeCommands[];
extern const CommandEntry kMethodCommands[];
extern const CommandEntry kObjectReferenceCommands[];
extern const CommandEntry kStringReferenceCommands[];
extern const CommandEntry kArrayReferenceCommands[];
extern const CommandEntry kThreadReferenceCommands[];
extern const CommandEntry kThreadGroupReferenceCommands[];
extern const CommandEntry kStackFrameCommands[];
extern const CommandEntry kEventRequestCommands[];

} // namespace jdwp
