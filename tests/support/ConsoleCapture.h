#pragma once

#include "support/TempDir.h"

#include <cstdio>
#include <string>

// Sends console output to memory for the life of the object.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Everything printed so far.
    std::string Text();
    // Everything printed since the last call of Take, which is forgotten.
    std::string Take();

private:
    TempDir dir_;
    size_t taken_ = 0;
    FILE* stream_ = nullptr;
    FILE* previous_ = nullptr;
};
