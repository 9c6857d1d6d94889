#include "classfile/JavaClass.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "platform/FileNames.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace {

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
        // ';' as the tool has always written class paths; ':' too where a
        // path holds no drive letter, as in any class path there.
        while (end < classPath_.size() && !IsPathListSeparator(classPath_[end]))
            ++end;
        const size_t directoryStart = start;
        start = end + 1;
        if (end == directoryStart)
            continue; // leading, trailing or doubled separators name no directory
        candidate.assign(classPath_, directoryStart, end - directoryStart);
        if (!IsDirectorySeparator(candidate.back()))
            candidate += '/';
        candidate += requestedName_;
        candidate += ".class";
        ToSystemSeparators(candidate);
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
