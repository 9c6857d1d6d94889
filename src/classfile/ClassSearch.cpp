#include "classfile/JavaClass.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "platform/FileNames.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

enum class Candidate { Missing, Unreadable, File };

// Only a regular file can hold a class. A directory carrying a class file's
// name would open here and then fail to read, and opening a FIFO would wait
// for a writer that may never come: both are passed over like a missing file.
// A path the system cannot look up is one that would not open either, so the
// one look-up also spares the usual miss an attempt to open; only a look-up
// the system refuses is told, as the file may well be there.
Candidate Lookup(const std::string& path, std::error_code& error)
{
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::is_regular_file(status))
        return Candidate::File;
    return error == std::errc::permission_denied ? Candidate::Unreadable : Candidate::Missing;
}

// A class file that is there but cannot be read is no missing file: the
// system's reason is what the user needs, as for the .mox file.
[[noreturn]] void CannotOpen(const std::string& path, const std::error_code& error)
{
    throw EError(ecIDE, 3, "opening `" + path + "' (" + std::to_string(error.value()) + ")", error.message());
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
        std::error_code error;
        const Candidate found = Lookup(candidate, error);
        if (found == Candidate::Missing)
            continue;
        if (found == Candidate::Unreadable)
            CannotOpen(candidate, error);
        errno = 0;
        openFile_.reset(std::fopen(candidate.c_str(), "rb"));
        if (!openFile_)
            CannotOpen(candidate, std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
        filePath_ = std::move(candidate);
        return;
    }
    throw EError(ecJVM, 17, requestedName_, candidate);
}
