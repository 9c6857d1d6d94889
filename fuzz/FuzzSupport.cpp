#include "FuzzSupport.h"

#include "driver/Console.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace {

[[noreturn]] void HarnessFailure(const char* what, const std::string& path)
{
    std::fprintf(stderr, "fuzz harness: %s %s\n", what, path.c_str());
    std::abort();
}

std::string MakeScratchDir()
{
    std::error_code error;
    std::string base = std::filesystem::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0
                           ? "/dev/shm"
                           : std::filesystem::temp_directory_path(error).string();
    std::string pattern = base + "/morvane-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        HarnessFailure("cannot make a scratch folder under", base);
    return pattern;
}

void RemoveScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDir(), ignored);
}

} // namespace

void SilenceConsole()
{
    // To see what an input makes the tool print, when looking into a finding.
    if (std::getenv("MORVANE_FUZZ_CONSOLE") != nullptr)
        return;
    static FILE* nowhere = std::fopen("/dev/null", "w");
    if (nowhere == nullptr)
        HarnessFailure("cannot open", "/dev/null");
    SetConsoleStream(nowhere);
}

const std::string& ScratchDir()
{
    // Never destroyed: the exit handler that removes the folder needs it.
    static const std::string* const path = [] {
        auto* made = new std::string(MakeScratchDir());
        std::atexit(RemoveScratchDir);
        return made;
    }();
    return *path;
}

void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        HarnessFailure("cannot write", path);
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written)
        HarnessFailure("cannot write", path);
}

void InvariantBroken(const char* file, int line, const char* condition)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}
