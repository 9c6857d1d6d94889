#include "size/ProgramSize.h"

#include "sim/MoxVm.h"

#include <algorithm>
#include <set>

namespace {

constexpr int32_t kHeaderBytes = 20;
constexpr int32_t kClassHeaderBytes = 3;
constexpr int32_t kMethodSlotBytes = 7;
constexpr int32_t kHandlerBytes = 8;
// A virtual call reaches a slot by its offset in the class record, one byte:
// slots 0 to 36 lie within it.
constexpr int kMaxVirtualSlots = (255 - kClassHeaderBytes) / kMethodSlotBytes + 1;
constexpr int kMaxArgumentWords = 63;
constexpr int kMaxLocals = 127;

const char* const kObjectClass = "java/lang/Object";

std::string Dotted(const std::string& name)
{
    std::string dotted = name;
    std::replace(dotted.begin(), dotted.end(), '/', '.');
    return dotted;
}

// The folder the class library was found in: the one that holds Object.
std::string LibraryFolder(const CMOXLinker& linker)
{
    const int object = linker.FindClassIndex(kObjectClass);
    if (object < 0)
        return std::string();
    const std::string& path = linker.ClassAt(object)->FilePath();
    const size_t tail = std::string(kObjectClass).size() + 6; // ".class"
    return path.size() > tail ? path.substr(0, path.size() - tail) : std::string();
}

bool InFolder(const CJavaClass& c, const std::string& folder)
{
    const std::string& path = c.FilePath();
    return !folder.empty() && path.size() == folder.size() + c.RequestedName().size() + 6 &&
           path.compare(0, folder.size(), folder) == 0;
}

// The classes a class names: its super class and its class constants.
std::set<std::string> NamedClasses(const CJavaClass& c)
{
    std::set<std::string> names;
    if (c.HasSuperClass())
        names.insert(c.SuperClassName());
    for (int constant = 1; constant < c.ConstantPoolCount(); ++constant)
        if (c.ConstantTag(constant) == ctClass)
            names.insert(c.ClassNameOf(constant));
    return names;
}

ClassSize MeasureClass(const CMOXLinker& linker, int index)
{
    const CJavaClass& c = *linker.ClassAt(index);
    ClassSize size;
    size.name = Dotted(c.ThisClassName());
    size.offset = linker.ClassOffset(index);
    size.methodTableEntries = c.MethodTableCount();
    size.record = kClassHeaderBytes + kMethodSlotBytes * size.methodTableEntries;
    // The layout gives every method its code length and, for each one named
    // main, the prologue; counted the same way here.
    for (int method = 0; method < c.MethodCount(); ++method) {
        MethodSize m;
        m.name = c.MethodName(method);
        m.descriptor = c.MethodDescriptor(method);
        m.offset = c.CodeOffset(method);
        m.native = c.MethodIsNative(method);
        m.prologue = linker.PrologueLength(c, method);
        m.code = static_cast<int32_t>(c.CodeLength(method));
        const int handlers = c.ExceptionCount(method);
        m.exceptionTable = handlers > 0 ? 1 + kHandlerBytes * handlers : 0;
        m.argumentWords = c.ParameterCount(method);
        m.locals = m.native ? 0 : c.Method(method).maxLocals - m.argumentWords;
        size.code += m.prologue + m.code;
        size.exceptionTables += m.exceptionTable;
        size.methods.push_back(std::move(m));
    }
    size.strings = linker.ClassStringBytes(index);
    for (int number = 0; number < linker.StringCount(); ++number)
        if (linker.StringAt(number).javaClass == &c)
            ++size.stringCount;
    for (int field = 0; field < c.FieldCount(); ++field)
        if (c.FieldIsStatic(field) && !c.FieldIsConstant(field))
            ++size.staticFields;
    const int by = linker.BroughtInBy(index);
    if (by >= 0)
        size.broughtInBy = Dotted(linker.ClassAt(by)->ThisClassName());
    return size;
}

void MarkLibraryClasses(const CMOXLinker& linker, std::vector<ClassSize>& classes)
{
    const std::string folder = LibraryFolder(linker);
    std::set<std::string> namedByProgram;
    for (int index = 0; index < linker.ClassCount(); ++index) {
        const CJavaClass& c = *linker.ClassAt(index);
        classes[index].library = InFolder(c, folder);
        if (!classes[index].library)
            for (const std::string& name : NamedClasses(c))
                namedByProgram.insert(name);
    }
    for (int index = 0; index < linker.ClassCount(); ++index)
        classes[index].onlyThroughLibrary =
            classes[index].library && !namedByProgram.contains(linker.ClassAt(index)->ThisClassName());
}

// The row a passed limit's error belongs to.
const char* KeyOf(const EError& error)
{
    if (error.Is(ecLNK, 1))
        return "classes";
    if (error.Is(ecLNK, 7) || error.Is(ecIDE, 41))
        return "staticFields";
    if (error.Is(ecIDE, 31))
        return "strings";
    if (error.Is(ecLNK, 9))
        return "methodTableEntries";
    if (error.Is(ecJVM, 10))
        return "argumentWords";
    if (error.Is(ecJVM, 27))
        return "locals";
    if (error.Is(ecLNK, 8))
        return "imageBytes";
    return "";
}

std::vector<LimitUse> Limits(const CMOXLinker& linker, const ProgramSize& program)
{
    int widestTable = 0;
    int mostArguments = 0;
    int mostLocals = 0;
    std::string widestClass;
    std::string argumentsMethod;
    std::string localsMethod;
    for (const ClassSize& c : program.classes) {
        if (c.methodTableEntries > widestTable) {
            widestTable = c.methodTableEntries;
            widestClass = c.name;
        }
        for (const MethodSize& m : c.methods) {
            if (m.argumentWords > mostArguments) {
                mostArguments = m.argumentWords;
                argumentsMethod = c.name + "." + m.name;
            }
            if (m.locals > mostLocals) {
                mostLocals = m.locals;
                localsMethod = c.name + "." + m.name;
            }
        }
    }
    std::vector<LimitUse> rows;
    rows.push_back(Limit("classes", "classes", linker.ClassCount(), CMOXLinker::kMaxClasses));
    rows.push_back(Limit("staticFields", "static fields", linker.StaticFieldCount(), CMOXLinker::kMaxStaticFields - 1));
    rows.push_back(Limit("strings", "strings", linker.StringCount(), CMOXLinker::kMaxStrings - 1));
    // A table may hold more slots than a virtual call reaches: only a call
    // past the last reachable one ends the link.
    LimitUse table = Limit("methodTableEntries", "method-table entries", widestTable, kMaxVirtualSlots, widestClass);
    table.passed = false;
    rows.push_back(table);
    rows.push_back(Limit("argumentWords", "argument words", mostArguments, kMaxArgumentWords, argumentsMethod));
    rows.push_back(Limit("locals", "locals", mostLocals, kMaxLocals, localsMethod));
    rows.push_back(Limit("imageBytes", "image bytes", program.imageBytes, CMOXLinker::kMaxImageSize));
    rows.push_back(HeapLimit(program.ram.heap));
    return rows;
}

} // namespace

LimitUse Limit(const char* key, const char* label, int64_t use, int64_t limit, std::string where)
{
    LimitUse row;
    row.key = key;
    row.label = label;
    row.use = use;
    row.limit = limit;
    row.where = std::move(where);
    row.passed = use > limit;
    return row;
}

RamShare ShareRam(int32_t imageBytes, int staticFieldCount)
{
    // As the module does: the RAM above the stack base that lies below
    // 64 KiB, in whole words; the statics (their byte in the header), the
    // stack, and the rest for the heap.
    RamShare share;
    const int64_t stackBase = (int64_t{imageBytes} / 16 + 1) * 16;
    const int64_t below64k = std::max<int64_t>(0, 0x10000 - stackBase);
    share.ram = static_cast<int32_t>(std::min<int64_t>(MoxVm::kDefaultRamBytes, below64k) & ~int64_t{1});
    share.staticFields = static_cast<uint8_t>(staticFieldCount * 2);
    share.stack = static_cast<int32_t>(MoxVm::kStackBytes);
    share.heap = share.ram - share.staticFields - share.stack;
    return share;
}

LimitUse HeapLimit(int32_t heapBytes)
{
    LimitUse heap = Limit("heapBytes", "heap bytes", heapBytes, MoxVm::kMinHeapBytes);
    heap.atLeast = true;
    heap.passed = heapBytes < static_cast<int64_t>(MoxVm::kMinHeapBytes);
    if (heap.passed)
        heap.error = "the module halts at the start: its RAM cannot hold the statics, the stack and a heap";
    return heap;
}

std::vector<std::string> LinkEnding(const std::vector<PassedLimit>& passed)
{
    std::vector<std::string> lines;
    if (passed.empty())
        return lines;
    lines.push_back(CatalogueLineOf(passed[0].error));
    if (passed.size() > 1 && passed[0].error.Is(ecLNK, 1) && passed[1].error.Is(ecLNK, 3) &&
        passed[1].where == passed[0].where)
        lines.push_back(CatalogueLineOf(passed[1].error));
    return lines;
}

std::string CatalogueLineOf(const EError& error)
{
    std::string line = error.Message();
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

ProgramSize MeasureProgram(const CMOXLinker& linker, const std::vector<PassedLimit>& passed)
{
    ProgramSize program;
    program.mainClass = Dotted(linker.MainClass()->ThisClassName());
    program.imageBytes = linker.ImageSize();
    program.headerBytes = kHeaderBytes;
    program.stringIndexBytes = 2 * linker.StringCount();
    for (int index = 0; index < linker.ClassCount(); ++index)
        program.classes.push_back(MeasureClass(linker, index));
    MarkLibraryClasses(linker, program.classes);

    program.ram = ShareRam(program.imageBytes, linker.StaticFieldCount());
    program.limits = Limits(linker, program);
    program.linkEndsWith = LinkEnding(passed);
    for (const PassedLimit& limit : passed) {
        const std::string line = CatalogueLineOf(limit.error);
        program.passedLines.push_back(line);
        for (LimitUse& row : program.limits) {
            if (row.key != KeyOf(limit.error))
                continue;
            if (!row.passed || row.error.empty()) {
                row.error = line;
                if (!limit.where.empty())
                    row.where = Dotted(limit.where);
            }
            row.passed = true;
        }
    }
    return program;
}
