#include "sim/VmMemory.h"

#include <algorithm>

VmMemory::VmMemory(const std::vector<uint8_t>& program, uint32_t programEnd, uint32_t ramBytes)
    : programEnd_(programEnd), bytes_(static_cast<size_t>(programEnd) + ramBytes, 0)
{
    std::copy_n(program.begin(), std::min<size_t>(program.size(), programEnd), bytes_.begin());
}

void VmMemory::Clear(uint32_t address, uint32_t size)
{
    if (size == 0)
        return;
    if (address < programEnd_ || static_cast<uint64_t>(address) + size > bytes_.size())
        throw VmFault{VmFaultCode::vfWriteOutOfRange, address};
    std::fill_n(bytes_.begin() + address, size, 0);
}
