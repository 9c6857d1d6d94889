#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The 20-byte header at the start of a Mox image, as the firmware reads it.
struct MoxHeader {
    static constexpr uint32_t kSize = 20;
    static constexpr uint8_t kRunMarker = 0xA4;
    static constexpr uint8_t kVersion = 1;

    uint8_t staticBytes = 0;    // static fields × 2
    uint16_t mainSlot = 0;      // method-table slot of main()V
    uint16_t objectClass = 0;   // class record of java/lang/Object
    uint16_t stringClass = 0;   // class record of java/lang/String (0: no strings)
    uint16_t throwVmSlot = 0;   // method-table slot of Throwable.throwVMException(I)V
    uint16_t stringTable = 0;   // string index table
    uint16_t outOfMemoryClass = 0;
    uint32_t stackBase = 0;     // first multiple of 16 above the image (65536 for the largest)
};

// Reads the header of the `length` bytes downloaded into the EEPROM. False
// when they do not start a program this firmware runs: no run marker, another
// version, or a stack base that does not lie just above an image that was
// downloaded whole.
bool ReadMoxHeader(const std::vector<uint8_t>& eeprom, uint32_t length, MoxHeader& header);
