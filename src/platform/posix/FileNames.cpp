#include "platform/FileNames.h"

bool IsPathListSeparator(char c) { return c == ';' || c == ':'; }

bool IsDirectorySeparator(char c) { return c == '/'; }

void ToSystemSeparators(std::string&) {}
