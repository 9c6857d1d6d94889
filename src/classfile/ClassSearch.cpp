#include "classfile/JavaClass.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace {

// ';' separates class path directories as the tool has always written them;
// ':' does too, as in any class path on this system.
bool IsClassPathSeparator(char c) { return c == ';' || c == ':'; }

// Only a regular file can hold a class. A directory carrying a class file's
// name would open here and then fail to read, and opening a FIFO would wait
// for a writer that may never come: both are passed over like a missing file.
// A path the system cannot look up is one that would not open either, so the
// one look-up also spares the usual miss an attempt to open.
bool MayHoldAClass(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::is_regular_file(std::filesystem::status(path, ignored));
}

} // namespace

void CJavaClass::OpenClassFile()
{
    if (Settings().TraceClassReader)
        DebugPrint("ClassLoader: Loading class file `%s'\n", requestedName_.c_str());
    std::string candidate;
    // Room for the longest candidate, so that building each costs no allocation.
    candidate.reserve(classPath_.size() + 1 + requestedName_.size() + 6);
    size_t start = 0;
    while (start <= classPath_.size()) {
        size_t end = start;
        while (end < classPath_.size() && !IsClassPathSeparator(classPath_[end]))
            ++end;
        const size_t directoryStart = start;
        start = end + 1;
        if (end == directoryStart)
            continue; // leading, trailing or doubled separators name no directory
        candidate.assign(classPath_, directoryStart, end - directoryStart);
        if (candidate.back() != '/')
            candidate += '/';
        candidate += requestedName_;
        candidate += ".class";
        if (Settings().TraceClassReader)
            DebugPrint("ClassLoader: Trying file `%s'\n", candidate.c_str());
        if (!MayHoldAClass(candidate))
            continue;
        openFile_.reset(std::fopen(candidate.c_str(), "rb"));
        if (openFile_) {
            filePath_ = std::move(candidate);
            return;
        }
    }
    throw EError(ecJVM, 17, requestedName_, candidate);
}
