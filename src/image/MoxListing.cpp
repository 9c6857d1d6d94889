#include "image/MoxListing.h"

#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"
#include "image/MoxTables.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

// Byte texts are made in a buffer of this size and cut to fit it.
constexpr size_t kTextBufferSize = 1000;

using FilePointer = std::unique_ptr<FILE, MoxListing::FileCloser>;

FilePointer OpenForWriting(const char* name, const char* mode)
{
    FilePointer file(std::fopen(name, mode));
    if (!file) {
        const int error = errno;
        throw EError(ecIDE, 17, name, error, std::strerror(error));
    }
    return file;
}

std::string LabelOf(const char* className)
{
    std::string label = className;
    for (char& c : label)
        if (c == '/')
            c = '_';
    return label;
}

} // namespace

MoxListing::MoxListing()
{
    file_ = OpenForWriting("mox.out", "wt");
}

MoxListing::MoxListing(std::string& text, std::function<std::string(int32_t offset)> before)
    : text_(&text), before_(std::move(before))
{
}

void MoxListing::Write(const char* text, size_t length)
{
    if (text_ != nullptr)
        text_->append(text, length);
    else
        std::fwrite(text, 1, length, file_.get());
}

void MoxListing::WriteFormatted(const char* format, va_list args)
{
    char text[kTextBufferSize];
    const int length = std::vsnprintf(text, sizeof text, format, args);
    if (length > 0)
        Write(text, std::min(static_cast<size_t>(length), sizeof text - 1));
}

void MoxListing::ByteEntry(int32_t offset, const char* format, va_list args)
{
    if (before_) {
        const std::string lines = before_(offset);
        Write(lines.data(), lines.size());
    }
    char prefix[16];
    const int length = std::snprintf(prefix, sizeof prefix, "%d:", static_cast<int>(offset));
    Write(prefix, static_cast<size_t>(length));
    WriteFormatted(format, args);
}

void MoxListing::StructureLine(const char* format, va_list args) { WriteFormatted(format, args); }

void MoxListing::FinishWithDispatchTables()
{
    FILE* file = file_.get();
    std::fputs(";\n; Native method dispatch table.\n;\n", file);
    for (int i = 0; i < kNativeMethodCount; ++i) {
        const NativeMethodRow& row = NativeMethod(i);
        std::fprintf(file, "\tjmp\tnm_%s_%s\t; %d\n", LabelOf(row.className).c_str(), row.methodName, i);
    }
    std::fputs("; Mox opcodes.\n", file);
    for (int i = 0; i < kMoxOpcodeCount; ++i)
        std::fprintf(file, "\tj_%s\t=\t%d\n", JavaMnemonic(MoxOpcodeJavaOpcode(i)), MoxOpcodeNumber(i));
    std::fputs("; Mox dispatch table.\n", file);
    // The firmware's table has one slot per number below 52 and one per odd
    // number from 53, which the nop fills out to the two-slot part.
    for (int i = 0; i < kMoxOpcodeCount; ++i) {
        const char* mnemonic = JavaMnemonic(MoxOpcodeJavaOpcode(i));
        if (i < 52) {
            std::fprintf(file, "\tjmp\tl_j_%s\t; $%2.2X\n", mnemonic, MoxOpcodeNumber(i));
        } else {
            if (i == 52)
                std::fputs("\tnop\n", file);
            std::fprintf(file, "\tjmp\t@_l_j_%s\t; $%2.2X\n", mnemonic, MoxOpcodeNumber(i));
        }
    }
    file_.reset();
}

void WriteHexFile(const uint8_t* image, int32_t size)
{
    FilePointer file = OpenForWriting("mox.hex", "wt");
    for (int32_t i = 0; i < size; ++i)
        std::fprintf(file.get(), "%2.2X ", image[i]);
}

void WriteBinaryFile(const uint8_t* image, int32_t size)
{
    FilePointer file = OpenForWriting("mox.bin", "wb");
    std::fwrite(image, 1, static_cast<size_t>(size), file.get());
}
