// The dispatch table: (command set, command) to its handler.

#include "jdwp/JdwpCommands.h"

namespace jdwp {

namespace {

struct CommandSetEntry {
    uint8_t commandSet;
    const CommandEntry* commands;
};

const CommandSetEntry kCommandSets[] = {
    {csVirtualMachine, kVirtualMachineCommands},
    {csReferenceType, kReferenceTypeCommands},
    {csClassType, kClassTypeCommands},
    {csMethod, kMethodCommands},
    {csObjectReference, kObjectReferenceCommands},
    {csStringReference, kStringReferenceCommands},
    {csThreadReference, kThreadReferenceCommands},
    {csThreadGroupReference, kThreadGroupReferenceCommands},
    {csArrayReference, kArrayReferenceCommands},
    {csEventRequest, kEventRequestCommands},
    {csStackFrame, kStackFrameCommands},
};

} // namespace

Handler FindHandler(uint8_t commandSet, uint8_t command)
{
    for (const CommandSetEntry& set : kCommandSets) {
        if (set.commandSet != commandSet)
            continue;
        for (const CommandEntry* entry = set.commands; entry->handler != nullptr; ++entry)
            if (entry->command == command)
                return entry->handler;
    }
    return nullptr;
}

} // namespace jdwp
