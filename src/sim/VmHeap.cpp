#include "sim/VmHeap.h"

VmHeap::VmHeap(VmMemory& memory, uint32_t start, uint32_t end)
    : memory_(memory), start_(start), end_(end), objectSize_((end - start) / 2, 0), flags_((end - start) / 2, 0)
{
    if (end_ - start_ >= kHeaderBytes + 2)
        free_[start_] = end_ - start_;
}

uint16_t VmHeap::Allocate(uint32_t size, bool holdsReferences)
{
    uint32_t need = BlockSize(size == 0 ? 2 : size);
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        if (it->second < need)
            continue;
        uint32_t block = it->first;
        uint32_t rest = it->second - need;
        free_.erase(it);
        // A remainder too small to hold an object goes with the block.
        if (rest >= kHeaderBytes + 2)
            free_[block + need] = rest;
        else
            need += rest;
        uint32_t object = block + kHeaderBytes;
        // The header is what a firmware would keep there: the block size.
        memory_.Write16(block, static_cast<uint16_t>(need));
        memory_.Clear(object, need - kHeaderBytes);
        objectSize_[Index(object)] = static_cast<uint16_t>(need - kHeaderBytes);
        flags_[Index(object)] = holdsReferences ? kHoldsReferences : 0;
        ++liveObjects_;
        return static_cast<uint16_t>(object);
    }
    return 0;
}

bool VmHeap::IsObject(uint32_t address) const
{
    return address >= start_ + kHeaderBytes && address < end_ && (address & 1) == (start_ & 1) &&
           objectSize_[Index(address)] != 0;
}

uint32_t VmHeap::ObjectSize(uint32_t address) const { return IsObject(address) ? objectSize_[Index(address)] : 0; }

void VmHeap::MarkFrom(uint16_t word)
{
    // An explicit work list: a long linked list must not recurse deeply.
    work_.push_back(word);
    while (!work_.empty()) {
        uint16_t address = work_.back();
        work_.pop_back();
        if (!IsObject(address) || (flags_[Index(address)] & kMarked) != 0)
            continue;
        flags_[Index(address)] |= kMarked;
        if ((flags_[Index(address)] & kHoldsReferences) == 0)
            continue;
        uint32_t size = objectSize_[Index(address)];
        for (uint32_t offset = 0; offset + 1 < size; offset += 2)
            work_.push_back(memory_.Read16(address + offset));
    }
}

void VmHeap::Sweep(const std::function<void(uint16_t)>& onFree)
{
    std::map<uint32_t, uint32_t> free;
    uint32_t runStart = 0, runSize = 0;
    auto closeRun = [&] {
        if (runSize != 0)
            free[runStart] = runSize;
        runSize = 0;
    };
    liveObjects_ = 0;
    for (uint32_t block = start_; block < end_;) {
        uint32_t object = block + kHeaderBytes;
        uint32_t size;
        bool keep = false;
        if (object < end_ && objectSize_[Index(object)] != 0) {
            size = kHeaderBytes + objectSize_[Index(object)];
            uint8_t& flags = flags_[Index(object)];
            keep = (flags & kMarked) != 0;
            flags &= static_cast<uint8_t>(~kMarked);
            if (keep) {
                ++liveObjects_;
            } else {
                objectSize_[Index(object)] = 0;
                flags = 0;
                if (onFree)
                    onFree(static_cast<uint16_t>(object));
            }
        } else {
            auto it = free_.find(block);
            // Blocks tile the heap exactly; anything else would be our bug.
            size = it != free_.end() ? it->second : end_ - block;
        }
        if (keep) {
            closeRun();
        } else {
            if (runSize == 0)
                runStart = block;
            runSize += size;
        }
        block += size;
    }
    closeRun();
    free_.swap(free);
}

uint32_t VmHeap::FreeBytes() const
{
    uint32_t total = 0;
    for (const auto& [start, size] : free_)
        total += size;
    return total;
}
