#include "image/LineTranslation.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "linker/CMOXLinker.h"

CJavaClass* ClassFromOffset(const CMOXLinker& linker, int32_t classOffset)
{
    // Only classes the layout placed have a record; one loaded later reads 0.
    for (int index = 0; index < linker.LaidOutClassCount(); ++index)
        if (linker.ClassOffset(index) == classOffset)
            return linker.ClassAt(index);
    throw EError(ecIDE, 29);
}

namespace {

// Code lies in class-list and declaration order, so the last method that
// starts at or before pc holds it. Searching from the end also passes over
// methods without code that share their offset with the next one.
bool FindMethod(const CMOXLinker& linker, int32_t pc, MethodAtPc& found)
{
    for (int index = linker.LaidOutClassCount() - 1; index >= 0; --index) {
        CJavaClass& c = *linker.ClassAt(index);
        for (int method = c.MethodCount() - 1; method >= 0; --method) {
            if (c.CodeOffset(method) > pc)
                continue;
            found = {&c, method};
            return true;
        }
    }
    return false;
}

} // namespace

std::string LineFromPc(const CMOXLinker& linker, int32_t pc, int& line, int& javaPc)
{
    MethodAtPc found;
    if (!FindMethod(linker, pc, found))
        throw EError(ecIDE, 16, pc);
    CJavaClass& c = *found.javaClass;
    const int32_t codeOffset = c.CodeOffset(found.method);
    javaPc = pc - codeOffset - linker.PrologueLength(c, found.method);
    // main's line entries were moved past the prologue when it was linked, so
    // the line is looked up by the image position.
    line = c.LineOfPc(found.method, pc);
    if (Settings().TraceLineTranslation)
        DebugPrint("Method offset = %d, pc = %d, jPC = %d, line = %d", static_cast<int>(codeOffset),
                   static_cast<int>(pc), javaPc, line);
    return c.SourceFileName();
}

MethodAtPc MethodFromPc(const CMOXLinker& linker, int32_t pc)
{
    // An exception report's pc is the module's own and always lies in code;
    // a status reply's may be anything the module held at that moment.
    MethodAtPc found;
    if (pc < 0 || pc >= linker.ImageSize() || !FindMethod(linker, pc, found))
        throw EError(ecIDE, 16, pc);
    return found;
}
