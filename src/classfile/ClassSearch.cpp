#include "classfile/JavaClass.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

#include <filesystem>
#include <system_error>

namespace {

// ';' separates class path directories as the tool has always written them;
// ':' does too, as in any class path on this system.
bool IsClassPathSeparator(char c) { return c == ';' || c == ':'; }

// Only a regular file can hold a class. A directory carrying a class file's
// name would open here and then fail to read, and opening a FIFO would wait
// for a writer that may never come: both are passed over like a missing file.
bool IsOtherThanAFile(const std::string& path)
{
    std::error_code ignored;
    const std::filesystem::file_status status = std::filesystem::status(path, ignored);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

} // namespace

void CJavaClass::OpenClassFile()
{
    if (Settings().TraceClassReader)
        DebugPrint("ClassLoader: Loading class file `%s'\n", requestedName_.c_str());
    std::string candidate;
    size_t start = 0;
    while (start <= classPath_.size()) {
        size_t end = start;
        while (end < classPath_.size() && !IsClassPathSeparator(classPath_[end]))
            ++end;
        const std::string directory = classPath_.substr(start, end - start);
        start = end + 1;
        if (directory.empty())
            continue; // leading, trailing or doubled separators name no directory
        candidate = directory;
        if (candidate.back() != '/')
            candidate += '/';
        candidate += requestedName_;
        candidate += ".class";
        if (Settings().TraceClassReader)
            DebugPrint("ClassLoader: Trying file `%s'\n", candidate.c_str());
        if (IsOtherThanAFile(candidate))
            continue;
        openFile_.reset(std::fopen(candidate.c_str(), "rb"));
        if (openFile_) {
            filePath_ = candidate;
            return;
        }
    }
    throw EError(ecJVM, 17, requestedName_, candidate);
}
