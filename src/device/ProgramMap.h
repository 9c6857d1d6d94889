#pragma once

#include <string>

// What the message listener needs from the linked program to explain an
// exception the module reports: class record offsets and program counters of
// the downloaded image turned back into names, files and lines. The linker
// provides it; it only means something for the image of that same link.
class ProgramMap {
public:
    virtual ~ProgramMap() = default;

    // The dotted name (java.lang.ArithmeticException) of the class whose
    // class record starts at `classOffset`. Raises IDE 29 when no class does.
    virtual std::string ClassNameAt(int classOffset) const = 0;

    struct SourceLine {
        std::string fileName; // e.g. "Prog.java"
        int line = 0;
    };

    // The source file and line of the instruction at image offset `pc`.
    // Raises IDE 16 when `pc` lies before all code, JVM 26 when the method
    // has no line numbers.
    virtual SourceLine LineOfPc(int pc) const = 0;

    // "Class.method", with the class's dotted name, of the method whose code
    // holds image offset `pc`. Raises IDE 16 when `pc` lies before all code
    // or beyond the image.
    virtual std::string MethodNameAt(int pc) const = 0;
};
