#pragma once

#include <concepts>
#include <string>
#include <string_view>
#include <vector>

// One argument for a catalogue message. Catalogue formats are printf-style but
// come from a table, not from the call site, so the compiler cannot check them
// against C varargs; typed arguments make a mismatch harmless instead of
// undefined, and a text argument is only ever inserted, never interpreted.
class FormatArg {
public:
    template <std::integral T>
    FormatArg(T value) : isText_(false), number_(static_cast<long long>(value)) {}
    FormatArg(const char* text) : isText_(true), text_(text ? text : "") {}
    FormatArg(std::string text) : isText_(true), text_(std::move(text)) {}
    FormatArg(std::string_view text) : isText_(true), text_(text) {}

    bool IsText() const { return isText_; }
    long long Number() const { return number_; }
    const std::string& Text() const { return text_; }

private:
    bool isText_;
    long long number_ = 0;
    std::string text_;
};

// Fills the conversions of `format` (%d %i %u %x %X %c %s %%, with flags,
// width and precision) from `args` in order. A conversion without an argument
// produces nothing; an argument of the other kind is shown as what it is.
std::string FormatMessage(std::string_view format, const std::vector<FormatArg>& args);
