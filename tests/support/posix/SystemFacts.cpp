#include "support/SystemFacts.h"

#include <cerrno>
#include <filesystem>

FileFailureNumbers ExpectedFileFailures() { return {ENOENT, ENOENT, EISDIR, EISDIR, EISDIR}; }

bool PathsHaveDriveLetters() { return false; }

int OpenDescriptorCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

PortNames ExamplePortNames() { return {"/dev/null-missing", "COM3"}; }
