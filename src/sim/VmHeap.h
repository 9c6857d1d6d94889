#pragma once

#include "sim/VmMemory.h"

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// The heap of the virtual machine: objects and arrays in RAM, found by first
// fit in a free list and reclaimed by a mark-and-sweep collection.
//
// Nothing in the image says which words hold references (fields, locals and
// operands are all 16-bit words), so the collection is conservative: a word
// keeps an object alive when its value is that object's address. Objects never
// move, so a word that only looks like a reference costs memory, not
// correctness.
//
// Every block starts with a 2-byte header that a real firmware would need for
// its size; it is counted against the heap so that programs run out of memory
// where a module would. The allocator's own bookkeeping lives outside the
// simulated memory, where no program can corrupt it.
class VmHeap {
public:
    // The heap spans RAM [start, end); both even.
    VmHeap(VmMemory& memory, uint32_t start, uint32_t end);

    // The address of a zeroed object of `size` bytes, or 0 when no free block
    // is large enough: the caller collects and tries once more.
    // `holdsReferences` false marks data no collection needs to look into.
    uint16_t Allocate(uint32_t size, bool holdsReferences);

    bool IsObject(uint32_t address) const;
    // Bytes of the object at `address` (0 when there is none).
    uint32_t ObjectSize(uint32_t address) const;

    // A collection: MarkFrom for every root word, then Sweep.
    void MarkFrom(uint16_t word);
    // Frees every object no root reached, telling `onFree` each address.
    void Sweep(const std::function<void(uint16_t)>& onFree);

    uint32_t Start() const { return start_; }
    uint32_t End() const { return end_; }
    uint32_t FreeBytes() const;
    uint32_t LiveObjects() const { return liveObjects_; }

private:
    static constexpr uint32_t kHeaderBytes = 2;
    static constexpr uint8_t kMarked = 1;
    static constexpr uint8_t kHoldsReferences = 2;

    size_t Index(uint32_t address) const { return (address - start_) / 2; }
    static uint32_t BlockSize(uint32_t objectSize) { return kHeaderBytes + ((objectSize + 1) & ~1u); }

    VmMemory& memory_;
    uint32_t start_;
    uint32_t end_;
    // Per word of the heap: the size of the object that starts there (0: none),
    // and its flags.
    std::vector<uint16_t> objectSize_;
    std::vector<uint8_t> flags_;
    std::map<uint32_t, uint32_t> free_; // block start -> block size, coalesced
    std::vector<uint16_t> work_;
    uint32_t liveObjects_ = 0;
};
