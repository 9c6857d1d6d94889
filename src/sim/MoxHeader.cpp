#include "sim/MoxHeader.h"

namespace {

uint16_t Word(const std::vector<uint8_t>& bytes, size_t at) { return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]); }

} // namespace

bool ReadMoxHeader(const std::vector<uint8_t>& eeprom, uint32_t length, MoxHeader& header)
{
    if (length < MoxHeader::kSize || eeprom.size() < MoxHeader::kSize)
        return false;
    if (eeprom[0] != MoxHeader::kRunMarker || eeprom[2] != MoxHeader::kVersion)
        return false;
    header.staticBytes = eeprom[3];
    header.mainSlot = Word(eeprom, 4);
    header.objectClass = Word(eeprom, 6);
    header.stringClass = Word(eeprom, 8);
    header.throwVmSlot = Word(eeprom, 10);
    header.stringTable = Word(eeprom, 12);
    header.outOfMemoryClass = Word(eeprom, 16);
    header.stackBase = Word(eeprom, 18);
    // The largest images (65,520 bytes and more) have their stack base at
    // 64 KiB, which the header's 16 bits carry as 0.
    if (header.stackBase == 0 && length >= 0x10000 - 16)
        header.stackBase = 0x10000;
    // The download sends whole 16-byte blocks, so an image of n bytes arrives
    // as at least n bytes; its stack base is the first multiple of 16 above n.
    if (header.stackBase % 16 != 0 || header.stackBase <= MoxHeader::kSize || header.stackBase > length + 16)
        return false;
    if (header.staticBytes % 2 != 0)
        return false;
    return header.mainSlot >= MoxHeader::kSize && header.throwVmSlot >= MoxHeader::kSize &&
           header.objectClass >= MoxHeader::kSize && header.mainSlot < header.stackBase &&
           header.throwVmSlot < header.stackBase && header.objectClass < header.stackBase;
}
