#include "support/ConsoleCapture.h"

#include "driver/Console.h"

#include <cstdlib>

ConsoleCapture::ConsoleCapture()
{
    stream_ = open_memstream(&buffer_, &size_);
    previous_ = ConsoleStream() == stdout ? nullptr : ConsoleStream();
    SetConsoleStream(stream_);
}

ConsoleCapture::~ConsoleCapture()
{
    SetConsoleStream(previous_);
    std::fclose(stream_);
    std::free(buffer_);
}

std::string ConsoleCapture::Text()
{
    std::fflush(stream_);
    return std::string(buffer_, size_);
}

std::string ConsoleCapture::Take()
{
    std::string all = Text();
    std::string fresh = all.substr(taken_);
    taken_ = all.size();
    return fresh;
}
