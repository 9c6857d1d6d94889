#include "image/LinkedProgramMap.h"

#include "classfile/JavaClass.h"
#include "image/LineTranslation.h"

std::string LinkedProgramMap::ClassNameAt(int classOffset) const
{
    return ClassFromOffset(linker_, classOffset)->DottedName();
}

ProgramMap::SourceLine LinkedProgramMap::LineOfPc(int pc) const
{
    SourceLine where;
    int javaPc = 0;
    where.fileName = LineFromPc(linker_, pc, where.line, javaPc);
    return where;
}

std::string LinkedProgramMap::MethodNameAt(int pc) const
{
    MethodAtPc found = MethodFromPc(linker_, pc);
    return found.javaClass->DottedName() + "." + found.javaClass->MethodName(found.method);
}
