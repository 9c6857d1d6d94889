#pragma once

#include <cstdint>

class MoxListing;

// The only way bytes enter the image. The layout has already fixed the size
// and the place of every part; the writer appends strictly in order, refuses
// to go past the size, and checks at the start of each part that it stands
// where the layout put that part. Any disagreement is "Binary too long."
// (IDE 27): the image is then incomplete and must not be used.
class MoxImageWriter {
public:
    // `listing` is null when no listing is written.
    MoxImageWriter(uint8_t* buffer, int32_t size, MoxListing* listing);

    // Appends one byte; with a listing, also its line: the byte's offset and
    // the text made from `format` and the rest of the arguments.
    void Append(uint8_t byte, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A 16-bit value, high byte first; each line shows its byte twice, as the
    // byte and as the part of the value it explains.
    void Append16(int32_t value, const char* hiFormat, const char* loFormat);

    // Bytes without their listing lines, for the bulk of the code, which a
    // caller appends this way only after finding Listing() off: the checked
    // append without a call per byte. With a listing the lines would go
    // missing, so that is an internal error (IDE 48).
    void AppendUnlisted(uint8_t byte)
    {
        if (position_ >= size_ || listing_ != nullptr)
            RefuseUnlisted();
        buffer_[position_++] = byte;
    }
    void AppendUnlisted(const uint8_t* bytes, uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i)
            AppendUnlisted(bytes[i]);
    }

    // IDE 27 unless the next byte goes to `offset`.
    void ExpectAt(int32_t offset) const;
    // IDE 27 unless every byte of the image has been written.
    void ExpectComplete() const;

    // A listing line that describes structure and carries no byte.
    void Structure(const char* format, ...) __attribute__((format(printf, 2, 3)));

    bool Listing() const { return listing_ != nullptr; }

private:
    [[noreturn]] void RefuseUnlisted() const;

    uint8_t* buffer_;
    int32_t size_;
    int32_t position_ = 0;
    MoxListing* listing_;
};
