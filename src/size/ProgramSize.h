#pragma once

#include "linker/CMOXLinker.h"

#include <cstdint>
#include <string>
#include <vector>

// Where the bytes and the slots of one linked program go, measured against
// the module's limits. Everything is read back from the linker's layout, so
// the figures are the image's own: the header, the class parts and the
// string index table add up to the image size.

// One own method of a class, in image order.
struct MethodSize {
    std::string name;
    std::string descriptor;
    int32_t offset = 0;         // of its code (its prologue when it has one)
    int32_t prologue = 0;       // main's calls of the static initializers
    int32_t code = 0;           // translated bytecode, as long as the Java code
    int32_t exceptionTable = 0; // count byte and 8 bytes per handler
    bool native = false;
    int argumentWords = 0;
    int locals = 0;             // besides the arguments
    int32_t Bytes() const { return prologue + code + exceptionTable; }
};

// One linked class: its class record, the code of its own methods, their
// exception tables and the string records it brought in first.
struct ClassSize {
    std::string name;           // dotted
    int32_t offset = 0;         // of its class record
    int32_t record = 0;         // 3 + 7 per method-table entry
    int32_t code = 0;           // prologues included
    int32_t exceptionTables = 0;
    int32_t strings = 0;        // its string records
    int stringCount = 0;
    int methodTableEntries = 0;
    int staticFields = 0;
    bool library = false;           // found in the class library's folder
    bool onlyThroughLibrary = false; // a library class no program class names
    std::string broughtInBy;    // dotted; empty for the named class and those the image needs
    std::vector<MethodSize> methods;
    int32_t Bytes() const { return record + code + exceptionTables + strings; }
};

// One limit of the module with the program's use of it.
struct LimitUse {
    std::string key;    // stable name, as in the JSON document
    std::string label;  // as the table shows it
    int64_t use = 0;
    int64_t limit = 0;
    bool atLeast = false; // the use must not fall below the limit (the heap)
    std::string where;  // the class or method of the largest use
    bool passed = false;
    std::string error;  // the catalogue line of a passed limit, no line end
};

// How the module shares its RAM (the simulator's default size) among the
// static fields, the stack and the heap, for an image of `imageBytes`.
struct RamShare {
    int32_t ram = 0;
    int32_t staticFields = 0;
    int32_t stack = 0;
    int32_t heap = 0;
};
RamShare ShareRam(int32_t imageBytes, int staticFieldCount);
struct ProgramSize {
    std::string mainClass; // dotted
    int32_t imageBytes = 0;
    int32_t headerBytes = 0;
    int32_t stringIndexBytes = 0;
    // The module's RAM at the simulator's default, and how it is shared.
    RamShare ram;
    std::vector<LimitUse> limits;
    std::vector<ClassSize> classes; // in image order
    // Every passed limit's catalogue line in the order the link met them.
    std::vector<std::string> passedLines;
    // The lines a link for the module ends with: the first passed limit's,
    // and for a class past the class limit that the code names, the line
    // naming the class that follows it. Empty when the program fits.
    std::vector<std::string> linkEndsWith;
};

// The limit row of the heap, passed below the least the module starts with.
LimitUse HeapLimit(int32_t heapBytes);
// A limit row with its use, passed when the use is above the limit.
LimitUse Limit(const char* key, const char* label, int64_t use, int64_t limit, std::string where = {});

// The figures of a link made with MeasureInto(&passed).
ProgramSize MeasureProgram(const CMOXLinker& linker, const std::vector<PassedLimit>& passed);

// The lines a link for the module ends with, from what a measuring link
// noted (see ProgramSize::linkEndsWith); none when nothing was passed.
std::vector<std::string> LinkEnding(const std::vector<PassedLimit>& passed);

// A catalogue line without its line end.
std::string CatalogueLineOf(const EError& error);
