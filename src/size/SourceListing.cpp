#include "size/SourceListing.h"

#include "errors/EError.h"
#include "image/LineTranslation.h"
#include "linker/CMOXLinker.h"
#include "linker/CodeWalk.h"
#include "platform/FileNames.h"
#include "platform/Files.h"

namespace {

// A source file larger than this is not a program's source.
constexpr size_t kMaxSourceBytes = 4 * 1024 * 1024;

std::string BaseName(const std::string& path)
{
    size_t start = path.size();
    while (start > 0 && !IsDirectorySeparator(path[start - 1]))
        --start;
    return path.substr(start);
}

std::vector<std::string> SplitLines(const std::vector<uint8_t>& bytes)
{
    std::vector<std::string> lines;
    std::string line;
    for (uint8_t byte : bytes) {
        if (byte == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (byte != '\r') {
            line += static_cast<char>(byte);
        }
    }
    lines.push_back(line);
    return lines;
}

std::string Trimmed(const std::string& line)
{
    size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    return line.substr(start);
}

} // namespace

SourceListing::SourceListing(CMOXLinker& linker)
    : linker_(linker), listing_(text_, [this](int32_t offset) { return LinesBefore(offset); })
{
    linker_.ListInto(&listing_);
}

SourceListing::~SourceListing() { linker_.ListInto(nullptr); }

std::string SourceListing::LinesBefore(int32_t offset)
{
    // The first byte listed is the header's: by then the layout is done and
    // main's lines have moved past its prologue.
    if (!notesMade_)
        MakeNotes();
    const auto found = notes_.find(offset);
    return found == notes_.end() ? std::string() : found->second;
}

void SourceListing::MakeNotes()
{
    notesMade_ = true;
    for (int index = 0; index < linker_.LaidOutClassCount(); ++index) {
        const CJavaClass& c = *linker_.ClassAt(index);
        for (int method = 0; method < c.MethodCount(); ++method)
            if (!c.MethodIsNative(method) && c.CodeLength(method) > 0)
                NoteMethod(index, method);
    }
}

void SourceListing::NoteMethod(int classIndex, int method)
{
    const CJavaClass& c = *linker_.ClassAt(classIndex);
    const int32_t start = c.CodeOffset(method) + linker_.PrologueLength(c, method);
    const std::vector<std::string>* source = SourceLines(classIndex);
    int lastLine = -1;
    CodeWalk walk(c, method);
    uint32_t at;
    int opcode;
    uint32_t size;
    while (walk.Next(at, opcode, size)) {
        const int32_t pc = start + static_cast<int32_t>(at);
        int line = 0;
        int javaPc = 0;
        std::string file;
        try {
            file = LineFromPc(linker_, pc, line, javaPc);
        } catch (const EError&) {
            return; // compiled without line numbers: nothing to show
        }
        if (line == lastLine)
            continue;
        lastLine = line;
        std::string note = "; " + BaseName(file) + ":" + std::to_string(line);
        if (source != nullptr && line >= 1 && static_cast<size_t>(line) <= source->size())
            note += ": " + Trimmed((*source)[static_cast<size_t>(line) - 1]);
        notes_[pc] += note + "\n";
    }
}

const std::vector<std::string>* SourceListing::SourceLines(int classIndex)
{
    CJavaClass& c = *linker_.ClassAt(classIndex);
    const std::string nextToClass = c.SourceFileName();
    if (nextToClass.empty())
        return nullptr;
    const auto known = sources_.find(nextToClass);
    if (known != sources_.end())
        return &known->second;
    if (missing_.contains(nextToClass))
        return nullptr;
    // Beside the class file, else in the class's package folder along the
    // class path, as a source tree often lies apart from the classes.
    std::vector<std::string> candidates{nextToClass};
    const std::string& name = c.ThisClassName();
    const size_t slash = name.rfind('/');
    const std::string relative = (slash == std::string::npos ? "" : name.substr(0, slash + 1)) + BaseName(nextToClass);
    const std::string& path = linker_.ClassPath();
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = begin;
        while (end < path.size() && !IsPathListSeparator(path[end]))
            ++end;
        if (end > begin) {
            std::string candidate = path.substr(begin, end - begin);
            if (!IsDirectorySeparator(candidate.back()))
                candidate += '/';
            candidate += relative;
            ToSystemSeparators(candidate);
            candidates.push_back(candidate);
        }
        begin = end + 1;
    }
    for (const std::string& candidate : candidates) {
        std::vector<uint8_t> bytes;
        if (ReadWholeFile(candidate, kMaxSourceBytes, bytes) == 0 && bytes.size() <= kMaxSourceBytes) {
            auto& lines = sources_[nextToClass];
            lines = SplitLines(bytes);
            return &lines;
        }
    }
    missing_[nextToClass] = true;
    return nullptr;
}
