#include "size/SizeTable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

// The classes whose methods the table lists one by one; the rest are in
// the JSON document.
constexpr size_t kDetailedClasses = 3;

void Add(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Add(std::string& text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        const size_t at = text.size();
        text.resize(at + static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data() + at, static_cast<size_t>(length) + 1, format, again);
        text.resize(at + static_cast<size_t>(length));
    }
    va_end(again);
}

void AddLimits(std::string& text, const std::vector<LimitUse>& limits)
{
    Add(text, "%-22s %8s %8s  %s\n", "limit", "use", "limit", "status");
    for (const LimitUse& row : limits) {
        const std::string limit = (row.atLeast ? ">=" : "") + std::to_string(row.limit);
        if (row.where.empty())
            Add(text, "%-22s %8lld %8s  %s\n", row.label.c_str(), static_cast<long long>(row.use), limit.c_str(),
                row.passed ? "PASSED" : "ok");
        else
            Add(text, "%-22s %8lld %8s  %-6s %s\n", row.label.c_str(), static_cast<long long>(row.use),
                limit.c_str(), row.passed ? "PASSED" : "ok", row.where.c_str());
        if (row.passed && !row.error.empty())
            Add(text, "%-22s %s\n", "", row.error.c_str());
    }
}

void AddLinkEnd(std::string& text, const ProgramSize& program)
{
    if (!program.linkEndsWith.empty())
        Add(text, "A link for the module ends with:\n");
    for (const std::string& line : program.linkEndsWith)
        Add(text, "  %s\n", line.c_str());
}

void AddRam(std::string& text, const RamShare& ram)
{
    Add(text, "RAM %d bytes: static fields %d, stack %d, heap %d\n", ram.ram, ram.staticFields, ram.stack, ram.heap);
}

void AddRegions(std::string& text, const ProgramSize& program)
{
    int32_t records = 0;
    int32_t code = 0;
    int32_t handlers = 0;
    int32_t strings = 0;
    for (const ClassSize& c : program.classes) {
        records += c.record;
        code += c.code;
        handlers += c.exceptionTables;
        strings += c.strings;
    }
    Add(text, "\nimage %d bytes: header %d, class records %d, code %d, exception tables %d, string index %d, "
              "strings %d\n",
        program.imageBytes, program.headerBytes, records, code, handlers, program.stringIndexBytes, strings);
    AddRam(text, program.ram);
}

const char* Origin(const ClassSize& c)
{
    if (c.onlyThroughLibrary)
        return "library only";
    return c.library ? "library" : "program";
}

void AddClasses(std::string& text, const std::vector<const ClassSize*>& largest)
{
    int width = 5;
    for (const ClassSize* c : largest)
        width = std::max(width, static_cast<int>(c->name.size()));
    Add(text, "\n%-*s %6s %6s %6s %6s %6s  %-12s %s\n", width, "class", "bytes", "record", "code", "except",
        "string", "from", "brought in by");
    for (const ClassSize* c : largest)
        Add(text, "%-*s %6d %6d %6d %6d %6d  %-12s %s\n", width, c->name.c_str(), c->Bytes(), c->record, c->code,
            c->exceptionTables, c->strings, Origin(*c), c->broughtInBy.empty() ? "-" : c->broughtInBy.c_str());
}

void AddMethods(std::string& text, const ClassSize& c)
{
    std::vector<const MethodSize*> methods;
    for (const MethodSize& m : c.methods)
        methods.push_back(&m);
    std::stable_sort(methods.begin(), methods.end(),
                     [](const MethodSize* a, const MethodSize* b) { return a->Bytes() > b->Bytes(); });
    int width = 0;
    for (const MethodSize* m : methods)
        width = std::max(width, static_cast<int>(m->name.size() + 1 + m->descriptor.size()));
    Add(text, "\nmethods of %s\n", c.name.c_str());
    for (const MethodSize* m : methods) {
        const std::string name = m->name + " " + m->descriptor;
        Add(text, "  %-*s %6d%s\n", width, name.c_str(), m->Bytes(), m->native ? "  native" : "");
    }
}

} // namespace

std::string SizeTable(const ProgramSize& program)
{
    std::string text;
    Add(text, "%s\n\n", program.mainClass.c_str());
    AddLimits(text, program.limits);
    AddLinkEnd(text, program);
    AddRegions(text, program);
    std::vector<const ClassSize*> largest;
    for (const ClassSize& c : program.classes)
        largest.push_back(&c);
    std::stable_sort(largest.begin(), largest.end(),
                     [](const ClassSize* a, const ClassSize* b) { return a->Bytes() > b->Bytes(); });
    AddClasses(text, largest);
    for (size_t k = 0; k < largest.size() && k < kDetailedClasses; ++k)
        AddMethods(text, *largest[k]);
    return text;
}

std::string SizeTable(const ImageTotals& totals)
{
    std::string text;
    Add(text, "%s\n\n", totals.fileName.c_str());
    AddLimits(text, totals.limits);
    Add(text, "\nimage %d bytes: header %d, class records and code %d, string index %d, strings %d\n",
        totals.imageBytes, totals.headerBytes, totals.classesAndCodeBytes, totals.stringIndexBytes, totals.stringBytes);
    AddRam(text, totals.ram);
    return text;
}
