#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The bytes of a stored image and its length. The buffer holds 20 zero bytes
// after the image, so the download can read whole blocks past its end.
struct MoxFileImage {
    std::vector<uint8_t> buffer;
    int32_t length = 0;
};

// Reads `<fileName>`. A file that cannot be read, is empty or is too large to
// be an image (64 KiB or more) raises a catalogue error.
MoxFileImage ReadMoxFile(const std::string& fileName);

// Replaces `<fileName>` with `size` bytes, all or nothing: the bytes go to a
// temporary file in the same directory that is renamed over the target once
// it is complete, so a failure or a kill never leaves a half-written image.
// A failure raises IDE 17 with the system's error.
void WriteMoxFile(const std::string& fileName, const uint8_t* data, int32_t size);
