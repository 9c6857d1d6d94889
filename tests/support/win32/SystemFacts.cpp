#include "support/SystemFacts.h"

#include <cerrno>
#include <windows.h>

FileFailureNumbers ExpectedFileFailures()
{
    return {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_DIRECTORY, ERROR_ACCESS_DENIED, EACCES};
}

bool PathsHaveDriveLetters() { return true; }

int OpenDescriptorCount() { return -1; }

PortNames ExamplePortNames() { return {"COM99", "COM0"}; }
