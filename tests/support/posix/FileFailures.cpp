#include "support/SystemFacts.h"

#include <cerrno>

FileFailureNumbers ExpectedFileFailures() { return {ENOENT, ENOENT, EISDIR, EISDIR, EISDIR}; }

bool PathsHaveDriveLetters() { return false; }

PortNames ExamplePortNames() { return {"/dev/null-missing", "COM3"}; }
