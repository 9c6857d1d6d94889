#include "linker/ModuleText.h"

#include <cstdint>

LiteralStatus ModuleLiteralText(const std::string& stored, std::string& text)
{
    text.clear();
    text.reserve(stored.size());
    LiteralStatus status = LiteralStatus::Ok;
    const auto continuation = [&](size_t at) {
        return at < stored.size() && (static_cast<uint8_t>(stored[at]) & 0xC0) == 0x80;
    };
    for (size_t at = 0; at < stored.size();) {
        const auto lead = static_cast<uint8_t>(stored[at]);
        uint32_t character;
        if (lead != 0 && lead < 0x80) {
            character = lead;
            at += 1;
        } else if ((lead & 0xE0) == 0xC0 && continuation(at + 1)) {
            character = (lead & 0x1Fu) << 6 | (static_cast<uint8_t>(stored[at + 1]) & 0x3Fu);
            at += 2;
        } else if ((lead & 0xF0) == 0xE0 && continuation(at + 1) && continuation(at + 2)) {
            character = (lead & 0x0Fu) << 12 | (static_cast<uint8_t>(stored[at + 1]) & 0x3Fu) << 6 |
                        (static_cast<uint8_t>(stored[at + 2]) & 0x3Fu);
            at += 3;
        } else {
            // A zero byte, a stray continuation byte, a four-byte form (which
            // modified UTF-8 writes as two three-byte halves) or a cut sequence.
            return LiteralStatus::Malformed;
        }
        // Read on after a character out of range: a damaged file later in the
        // text is the worse news.
        if (character == 0 || character > 0xFF)
            status = LiteralStatus::OutOfRange;
        else
            text += static_cast<char>(character);
    }
    return status;
}

std::string JavaArrayTypeName(const std::string& name)
{
    size_t dimensions = 0;
    while (dimensions < name.size() && name[dimensions] == '[')
        ++dimensions;
    if (dimensions == 0 || dimensions == name.size())
        return name;
    const std::string element = name.substr(dimensions);
    std::string type;
    if (element.size() == 1) {
        switch (element[0]) {
        case 'B': type = "byte"; break;
        case 'C': type = "char"; break;
        case 'D': type = "double"; break;
        case 'F': type = "float"; break;
        case 'I': type = "int"; break;
        case 'J': type = "long"; break;
        case 'S': type = "short"; break;
        case 'Z': type = "boolean"; break;
        default: return name;
        }
    } else if (element.size() > 2 && element.front() == 'L' && element.back() == ';') {
        type = element.substr(1, element.size() - 2);
        for (char& c : type)
            if (c == '/')
                c = '.';
    } else {
        return name;
    }
    for (size_t k = 0; k < dimensions; ++k)
        type += "[]";
    return type;
}
