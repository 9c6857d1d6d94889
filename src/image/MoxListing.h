#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

// The listing files of a link, written into the working directory when the
// WriteListing setting is on: mox.out (one line per image byte saying what it
// is, then assembler source for the firmware's dispatch tables), mox.hex (the
// image as hexadecimal text) and mox.bin (the image as it is).
class MoxListing {
public:
    // Creates mox.out; IDE 17 when it cannot be opened.
    MoxListing();
    // Lists into `text` instead, in the same lines; `before`, when given,
    // returns the lines (maybe none) that go before the byte at an offset.
    explicit MoxListing(std::string& text, std::function<std::string(int32_t offset)> before = {});

    // "<offset>:" and the text `format` makes, cut to 999 characters.
    void ByteEntry(int32_t offset, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
    // A line without a byte: no offset in front.
    void StructureLine(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
    // The native method and Mox opcode tables as the firmware's assembler
    // reads them; then mox.out is complete and closed.
    void FinishWithDispatchTables();

    struct FileCloser {
        void operator()(FILE* file) const { std::fclose(file); }
    };

private:
    void Write(const char* text, size_t length);
    void WriteFormatted(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

    std::unique_ptr<FILE, FileCloser> file_;
    std::string* text_ = nullptr;
    std::function<std::string(int32_t offset)> before_;
};

// mox.hex and mox.bin; IDE 17 when one cannot be opened.
void WriteHexFile(const uint8_t* image, int32_t size);
void WriteBinaryFile(const uint8_t* image, int32_t size);
