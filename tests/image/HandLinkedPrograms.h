#pragma once

#include "support/TempDir.h"

#include <cstdint>
#include <vector>

// Two programs whose complete images are worked out by hand, byte by byte,
// from the image format (see HandLinkedPrograms.cpp for the workings).

// Main { static main()V { return } } over the minimal library: 55 bytes.
void WriteSmallestProgram(const TempDir& dir);
extern const std::vector<uint8_t> kSmallestImage;

// Main and Helper, both with static initializers, a static and an instance
// field, a constructor, a virtual, static and native call, a string used in
// both classes, a catch-all handler and line numbers in main: 207 bytes.
void WriteTwoClassProgram(const TempDir& dir);
extern const std::vector<uint8_t> kTwoClassImage;

// Image offsets of the two-class program, for the tests that look inside.
namespace two_class {
constexpr int kMainRecord = 20, kThrowableRecord = 51, kStringRecord = 61, kCpuRecord = 64, kHelperRecord = 74,
              kObjectRecord = 91, kOutOfMemoryRecord = 101;
constexpr int kMainClinitCode = 111, kMainCode = 116, kMainInitCode = 146, kGetCode = 151, kThrowVmCode = 156,
              kDelayCode = 157, kHelperClinitCode = 157, kSafeCode = 164, kObjectInitCode = 178;
constexpr int kStringTable = 179, kImageSize = 207;
} // namespace two_class
