#pragma once

// What every fuzz target shares: a console that prints nowhere, a scratch
// folder of the process's own, and the check that turns a broken invariant
// into a finding libFuzzer reports with the input that broke it.

#include <cstddef>
#include <cstdint>
#include <string>

// Console output goes to /dev/null: a target runs millions of inputs, and the
// output is not what is checked. MORVANE_FUZZ_CONSOLE set keeps it on.
void SilenceConsole();

// A folder only this process uses (on a memory file system when there is
// one), made on first use and removed at exit.
const std::string& ScratchDir();

// Replaces `path` with `size` bytes. A failure here is the harness's, not the
// code's under test, and ends the run.
void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size);

[[noreturn]] void InvariantBroken(const char* file, int line, const char* condition);

#define FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : InvariantBroken(__FILE__, __LINE__, #condition))
