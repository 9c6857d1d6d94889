#include "support/ConsoleCapture.h"

#include "driver/Console.h"

#include <stdexcept>

// A file, not a memory stream: both systems' C libraries have it. Not
// tmpfile() either: Windows' C library picks its name by the clock, so test
// programs started together under Wine collide, and real Windows puts it in
// the drive's root, where a user may not write.
ConsoleCapture::ConsoleCapture()
{
    stream_ = std::fopen(dir_.File("console").c_str(), "w+b");
    if (stream_ == nullptr)
        throw std::runtime_error("no temporary file for the console");
    previous_ = ConsoleStream() == stdout ? nullptr : ConsoleStream();
    SetConsoleStream(stream_);
}

ConsoleCapture::~ConsoleCapture()
{
    SetConsoleStream(previous_);
    std::fclose(stream_);
}

std::string ConsoleCapture::Text()
{
    std::fflush(stream_);
    long end = std::ftell(stream_);
    std::string text(static_cast<size_t>(end < 0 ? 0 : end), '\0');
    std::rewind(stream_);
    size_t n = std::fread(text.data(), 1, text.size(), stream_);
    text.resize(n);
    std::fseek(stream_, 0, SEEK_END);
    return text;
}

std::string ConsoleCapture::Take()
{
    std::string all = Text();
    std::string fresh = all.substr(taken_);
    taken_ = all.size();
    return fresh;
}
