#include "errors/Format.h"

#include <cstdio>
#include <cstring>

// The conversions are rebuilt from flags, digits and a dot only, so the
// formats passed to snprintf below cannot hold anything but one conversion.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {

bool IsFlag(char c) { return std::strchr("-+ #0", c) != nullptr; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string FormatOne(const std::string& spec, char conversion, const FormatArg& arg)
{
    char buffer[256];
    // The spec only holds flags, digits and a dot, so it is a safe format.
    if (conversion == 's' || (arg.IsText() && conversion != 'c')) {
        const std::string value = arg.IsText() ? arg.Text() : std::to_string(arg.Number());
        const std::string textSpec = spec + "s";
        int n = std::snprintf(nullptr, 0, textSpec.c_str(), value.c_str());
        std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
        if (n > 0)
            std::snprintf(out.data(), out.size() + 1, textSpec.c_str(), value.c_str());
        return out;
    }
    if (conversion == 'c') {
        int c = arg.IsText() ? (arg.Text().empty() ? 0 : static_cast<unsigned char>(arg.Text()[0]))
                             : static_cast<int>(arg.Number() & 0xFF);
        std::snprintf(buffer, sizeof buffer, (spec + "c").c_str(), c);
        return buffer;
    }
    std::string numberSpec = spec + "ll" + conversion;
    if (conversion == 'd' || conversion == 'i')
        std::snprintf(buffer, sizeof buffer, numberSpec.c_str(), arg.Number());
    else // u, x, X: shown as the 32-bit pattern of the value, as C would
        std::snprintf(buffer, sizeof buffer, numberSpec.c_str(),
                      static_cast<unsigned long long>(static_cast<unsigned int>(arg.Number())));
    return buffer;
}

} // namespace

std::string FormatMessage(std::string_view format, const std::vector<FormatArg>& args)
{
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        size_t start = i++;
        if (i < format.size() && format[i] == '%') {
            out += '%';
            continue;
        }
        std::string spec = "%";
        while (i < format.size() && IsFlag(format[i]))
            spec += format[i++];
        for (int digits = 0; i < format.size() && IsDigit(format[i]) && digits < 3; ++digits)
            spec += format[i++];
        if (i < format.size() && format[i] == '.') {
            spec += format[i++];
            for (int digits = 0; i < format.size() && IsDigit(format[i]) && digits < 3; ++digits)
                spec += format[i++];
        }
        while (i < format.size() && std::strchr("hlLqjzt", format[i]))
            ++i; // sizes come from the argument's kind, not the format
        if (i >= format.size() || !std::strchr("diuxXcs", format[i])) {
            out.append(format.substr(start, i - start + (i < format.size() ? 1 : 0)));
            continue;
        }
        if (next < args.size())
            out += FormatOne(spec, format[i], args[next]);
        ++next;
    }
    return out;
}
