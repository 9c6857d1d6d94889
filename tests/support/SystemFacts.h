#pragma once

#include <string>

// What differs between the systems a test runs on, so that one test checks
// either system's build.

// `path` as the system spells what the tool builds from it ('\' for '/' on
// Windows).
std::string SystemPath(std::string path);

// True where a path may begin with a drive letter and ':' (Windows), so that
// ':' cannot separate the directories of a class path.
bool PathsHaveDriveLetters();

// A name --port takes as a local device (one that does not exist), and a COM
// name that names no device and leaves the choice to the port search (COM3
// is a device on Windows and a word elsewhere; COM0 is no device there).
struct PortNames {
    std::string device;
    std::string notADevice;
};
PortNames ExamplePortNames();

// The number of files this process holds open, or -1 where the system does
// not tell (Windows).
int OpenDescriptorCount();

// The error numbers the system gives for the usual failures of file
// operations.
struct FileFailureNumbers {
    int missingFile;         // opening a file that does not exist
    int missingDirectory;    // creating a file in a directory that does not exist
    int readOfADirectory;    // reading a directory as a file
    int writeOverADirectory; // replacing a directory with a file
    int openOfADirectory;    // the C library's errno for fopen of a directory for writing
};
FileFailureNumbers ExpectedFileFailures();
