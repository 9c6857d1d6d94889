#include "support/SystemFacts.h"

#include "platform/FileNames.h"

std::string SystemPath(std::string path)
{
    ToSystemSeparators(path);
    return path;
}
