#include "driver/MoxFile.h"

#include "errors/EError.h"
#include "platform/Files.h"


namespace {
constexpr size_t kMaxImageSize = 65535;
constexpr size_t kZeroTail = 20;
} // namespace

MoxFileImage ReadMoxFile(const std::string& fileName)
{
    MoxFileImage image;
    bool opened = false;
    int error = ReadWholeFile(fileName, kMaxImageSize, image.buffer, &opened);
    if (error != 0) {
        const char* action = opened ? "reading" : "opening";
        throw EError(ecIDE, 3, std::string(action) + " `" + fileName + "' (" + std::to_string(error) + ")", SystemErrorText(error));
    }
    if (image.buffer.empty())
        throw EError(ecIDE, 3, "reading `" + fileName + "'", "the file is empty, so it holds no image");
    if (image.buffer.size() > kMaxImageSize)
        throw EError(ecLNK, 8);
    image.length = static_cast<int32_t>(image.buffer.size());
    image.buffer.resize(image.buffer.size() + kZeroTail, 0);
    return image;
}

void WriteMoxFile(const std::string& fileName, const uint8_t* data, int32_t size)
{
    int error = WriteFileAtomically(fileName, data, static_cast<size_t>(size));
    if (error != 0)
        throw EError(ecIDE, 17, fileName, error, SystemErrorText(error));
}
