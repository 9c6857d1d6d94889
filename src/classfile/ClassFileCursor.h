#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The class reader's view of an open class file: big-endian reads checked
// against what the file holds. The file is read in blocks of kBlockSize, so
// a class file that fits one block is read in one go however many fields
// it has; a read past the end of the file raises JVM 20 naming the class. A
// length taken from the file is never trusted for an allocation: blocks and
// skips move through the file piece by piece, so a corrupt length costs no
// more memory than the file actually holds. The block lives in the cursor,
// which lives on the reader's stack: a load allocates nothing to read.
class ClassFileCursor {
public:
    // `file` must not have been read yet; `className` names the class in
    // the error and must outlive the cursor.
    ClassFileCursor(FILE* file, const std::string& className);

    uint8_t U1()
    {
        const uint8_t* bytes = Take(1);
        return bytes[0];
    }
    uint16_t U2()
    {
        const uint8_t* bytes = Take(2);
        return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
    }
    uint32_t U4()
    {
        const uint8_t* bytes = Take(4);
        return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
    }

    // The next `count` bytes, replacing what `block` held.
    void Bytes(uint32_t count, std::vector<uint8_t>& block);
    void Bytes(uint32_t count, std::string& block);
    void Skip(uint32_t count);

private:
    // The next `count` bytes (at most 4), in the buffer.
    const uint8_t* Take(size_t count)
    {
        if (end_ - position_ < count)
            Refill(count);
        const uint8_t* bytes = buffer_ + position_;
        position_ += count;
        return bytes;
    }
    // Keeps the unread bytes and reads on until at least `count` are
    // buffered (JVM 20 when the file ends first).
    void Refill(size_t count);
    template <class Block>
    void CopyOut(uint32_t count, Block& block);
    [[noreturn]] void Corrupt() const;

    FILE* file_;
    const std::string& className_;
    size_t position_ = 0;
    size_t end_ = 0;
    // Several times the largest class file of a Morvane program.
    static constexpr size_t kBlockSize = 16 * 1024;
    uint8_t buffer_[kBlockSize];
};
