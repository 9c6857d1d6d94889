#include "driver/Console.h"

#include <cstdarg>

namespace {
FILE* gStream = nullptr;
}

FILE* ConsoleStream() { return gStream ? gStream : stdout; }

void SetConsoleStream(FILE* stream) { gStream = stream; }

void ConsolePrint(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(ConsoleStream(), format, args);
    va_end(args);
    std::fflush(ConsoleStream());
}

void ConsoleText(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), ConsoleStream());
    std::fflush(ConsoleStream());
}

void DebugPrint(const char* format, ...)
{
    std::fputs("[Debug] ", ConsoleStream());
    va_list args;
    va_start(args, format);
    std::vfprintf(ConsoleStream(), format, args);
    va_end(args);
    std::fflush(ConsoleStream());
}
