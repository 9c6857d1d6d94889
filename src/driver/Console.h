#pragma once

#include <cstdio>
#include <string_view>

// Everything the tool shows goes to one stream (standard output unless a test
// redirects it) and is flushed at once, so progress and prompts appear as
// they happen even when the output is a pipe.

// printf-style output of a format written at the call site.
void ConsolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints stored text (error messages, the module's text) as it is: such text
// is never used as a format.
void ConsoleText(std::string_view text);

// "[Debug] " and the formatted text, no line end added. Callers test the log
// level or their trace switch first.
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The stream console output goes to; tests point it at a memory stream.
FILE* ConsoleStream();
void SetConsoleStream(FILE* stream);
