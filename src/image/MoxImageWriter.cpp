#include "image/MoxImageWriter.h"

#include "errors/EError.h"
#include "image/MoxListing.h"

#include <cstdarg>
#include <cstdio>

MoxImageWriter::MoxImageWriter(uint8_t* buffer, int32_t size, MoxListing* listing)
    : buffer_(buffer), size_(size), listing_(listing)
{
}

void MoxImageWriter::Append(uint8_t byte, const char* format, ...)
{
    if (position_ >= size_)
        throw EError(ecIDE, 27);
    if (listing_ != nullptr) {
        va_list args;
        va_start(args, format);
        listing_->ByteEntry(position_, format, args);
        va_end(args);
    }
    buffer_[position_++] = byte;
}

void MoxImageWriter::Append16(int32_t value, const char* hiFormat, const char* loFormat)
{
    const auto hi = static_cast<uint8_t>((value >> 8) & 0xFF);
    const auto lo = static_cast<uint8_t>(value & 0xFF);
    // The formats come from the writer's own tables of listing lines, each
    // with two %d conversions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    Append(hi, hiFormat, hi, hi);
    Append(lo, loFormat, lo, lo);
#pragma GCC diagnostic pop
}

void MoxImageWriter::RefuseUnlisted() const
{
    if (listing_ != nullptr)
        throw EError(ecIDE, 48);
    throw EError(ecIDE, 27);
}

void MoxImageWriter::ExpectAt(int32_t offset) const
{
    if (position_ != offset)
        throw EError(ecIDE, 27);
}

void MoxImageWriter::ExpectComplete() const { ExpectAt(size_); }

void MoxImageWriter::Structure(const char* format, ...)
{
    if (listing_ == nullptr)
        return;
    va_list args;
    va_start(args, format);
    listing_->StructureLine(format, args);
    va_end(args);
}
