#include "platform/FileNames.h"

#include <algorithm>

// "C:\lib" holds a ':', so only ';' separates class path directories here.
bool IsPathListSeparator(char c) { return c == ';'; }

bool IsDirectorySeparator(char c) { return c == '/' || c == '\\'; }

void ToSystemSeparators(std::string& path) { std::replace(path.begin(), path.end(), '/', '\\'); }
