#pragma once

#include <string>

// How a class file's text reaches the module, which keeps one byte per
// character.

enum class LiteralStatus {
    Ok,
    // A character the module cannot hold: above 255, or U+0000, which a class
    // file writes as two bytes and a module text would end at.
    OutOfRange,
    // Bytes that are no modified UTF-8 at all: a damaged class file.
    Malformed,
};

// The text of a string constant as stored in a class file (modified UTF-8),
// as the module keeps it: characters 1 to 255 one byte each. ASCII comes out
// unchanged. `text` is meaningful only when the result is Ok.
LiteralStatus ModuleLiteralText(const std::string& stored, std::string& text);

// A type named by an array class's name ("[I", "[Ljava/lang/String;") in
// Java's words ("int[]", "java.lang.String[]"); a name that is no array
// descriptor is given back as it is.
std::string JavaArrayTypeName(const std::string& name);
