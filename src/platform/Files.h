#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-file reads and all-or-nothing writes. Results are the system's error
// number (0 on success) so that callers choose the catalogue row.

// Reads at most `maxBytes` + 1 bytes, enough to tell a file that is too large.
// `opened` tells whether a failure came after the file was opened. Only a
// regular file is read, without waiting: anything else fails at once (EISDIR
// for a directory, ESPIPE for a FIFO, a device or a socket).
int ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& bytes, bool* opened = nullptr);

// Replaces `path` with `size` bytes: they go to a temporary file in the same
// directory, are flushed to disk, and the temporary file is renamed over the
// target. A failure or a kill at any point leaves the old file or none, never
// a half-written one; the temporary file is removed on failure.
int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size);

// The system's text for an error number these operations (and the ports)
// return, without a line end.
std::string SystemErrorText(int error);
