#pragma once

#include <string>

// How this system writes file names, for the class path.

// The characters that separate the directories of a class path: ';', and on
// systems whose paths hold no drive letters ':' as well.
bool IsPathListSeparator(char c);
// '/', and on Windows '\' too.
bool IsDirectorySeparator(char c);
// Turns a file name built with '/' into the system's own spelling: on
// Windows every '/' becomes '\'; elsewhere the name is left as it is.
void ToSystemSeparators(std::string& path);
