#pragma once

#include "sim/VmFault.h"

#include <cstdint>
#include <vector>

// The module's 16-bit address space as the virtual machine sees it: the
// program (the Mox image, read from EEPROM) at the bottom up to the stack
// base, then the RAM that holds static fields, the stack and the heap.
// Words are big-endian, as everywhere in the image. Every access is checked:
// a bad one throws VmFault, whatever the image asked for.
class VmMemory {
public:
    // `program`: the EEPROM contents (zero-padded to `programEnd` if shorter);
    // RAM spans [programEnd, programEnd + ramBytes), which must stay within
    // 64 KiB.
    VmMemory(const std::vector<uint8_t>& program, uint32_t programEnd, uint32_t ramBytes);

    uint32_t ProgramEnd() const { return programEnd_; }
    uint32_t RamEnd() const { return static_cast<uint32_t>(bytes_.size()); }

    uint8_t Read8(uint32_t address) const
    {
        if (address >= bytes_.size())
            throw VmFault{VmFaultCode::vfReadOutOfRange, address};
        return bytes_[address];
    }
    uint16_t Read16(uint32_t address) const
    {
        if (address + 1 >= bytes_.size())
            throw VmFault{VmFaultCode::vfReadOutOfRange, address};
        return static_cast<uint16_t>(bytes_[address] << 8 | bytes_[address + 1]);
    }
    void Write8(uint32_t address, uint8_t value)
    {
        if (address < programEnd_ || address >= bytes_.size())
            throw VmFault{VmFaultCode::vfWriteOutOfRange, address};
        bytes_[address] = value;
    }
    void Write16(uint32_t address, uint16_t value)
    {
        if (address < programEnd_ || address + 1 >= bytes_.size())
            throw VmFault{VmFaultCode::vfWriteOutOfRange, address};
        bytes_[address] = static_cast<uint8_t>(value >> 8);
        bytes_[address + 1] = static_cast<uint8_t>(value);
    }

    // Code is fetched from program memory only: a jump into RAM is a fault.
    uint8_t Code8(uint32_t address) const
    {
        if (address >= programEnd_)
            throw VmFault{VmFaultCode::vfCodeOutOfRange, address};
        return bytes_[address];
    }
    uint16_t Code16(uint32_t address) const
    {
        if (address + 1 >= programEnd_)
            throw VmFault{VmFaultCode::vfCodeOutOfRange, address};
        return static_cast<uint16_t>(bytes_[address] << 8 | bytes_[address + 1]);
    }

    // Sets `size` RAM bytes from `address` to zero.
    void Clear(uint32_t address, uint32_t size);

private:
    uint32_t programEnd_;
    std::vector<uint8_t> bytes_;
};
