#pragma once

#include <cstdint>
#include <string>

class CJavaClass;
class CMOXLinker;

// Reported image offsets turned back into classes and source lines. Both
// only mean something for the image this same linker wrote.

// The class whose record starts at `classOffset`; IDE 29 when none does.
CJavaClass* ClassFromOffset(const CMOXLinker& linker, int32_t classOffset);

// The source file of the instruction at image offset `pc`, with its line
// and its position in the Java code (negative inside main's prologue).
// IDE 16 when `pc` lies before all code; JVM 26 when the method has no
// line numbers.
std::string LineFromPc(const CMOXLinker& linker, int32_t pc, int& line, int& javaPc);

// The class and method whose code holds image offset `pc`. IDE 16 when `pc`
// lies before all code or beyond the image.
struct MethodAtPc {
    CJavaClass* javaClass = nullptr;
    int method = -1;
};
MethodAtPc MethodFromPc(const CMOXLinker& linker, int32_t pc);
