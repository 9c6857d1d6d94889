#include "classfile/ClassFileCursor.h"

#include "errors/EError.h"

#include <algorithm>
#include <cstring>

ClassFileCursor::ClassFileCursor(FILE* file, const std::string& className)
    : file_(file), className_(className)
{
    // The cursor is the buffer: without a second one in the stream, blocks
    // go from the file straight here, and the stream asks nothing about the
    // file to size a buffer of its own.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

void ClassFileCursor::Refill(size_t count)
{
    const size_t kept = end_ - position_;
    std::memmove(buffer_, buffer_ + position_, kept);
    position_ = 0;
    end_ = kept;
    end_ += std::fread(buffer_ + end_, 1, kBlockSize - end_, file_);
    if (end_ < count)
        Corrupt();
}

template <class Block>
void ClassFileCursor::CopyOut(uint32_t count, Block& block)
{
    if (count <= end_ - position_) {
        const uint8_t* from = buffer_ + position_;
        block.assign(from, from + count);
        position_ += count;
        return;
    }
    block.clear();
    size_t left = count;
    while (left > 0) {
        if (position_ == end_)
            Refill(1);
        const size_t piece = std::min(left, end_ - position_);
        const uint8_t* from = buffer_ + position_;
        block.insert(block.end(), from, from + piece);
        position_ += piece;
        left -= piece;
    }
}

void ClassFileCursor::Bytes(uint32_t count, std::vector<uint8_t>& block) { CopyOut(count, block); }

void ClassFileCursor::Bytes(uint32_t count, std::string& block) { CopyOut(count, block); }

void ClassFileCursor::Skip(uint32_t count)
{
    size_t left = count;
    while (left > 0) {
        if (position_ == end_)
            Refill(1);
        const size_t piece = std::min(left, end_ - position_);
        position_ += piece;
        left -= piece;
    }
}

void ClassFileCursor::Corrupt() const { throw EError(ecJVM, 20, className_); }
