#include "size/ImageTotals.h"

#include "errors/EError.h"

namespace {

constexpr int32_t kHeaderBytes = 20;
constexpr uint8_t kRunMarker = 0xA4;
constexpr uint8_t kImageVersion = 1;
constexpr int32_t kStringRecordBytes = 10;
constexpr int kMaxStrings = CMOXLinker::kMaxStrings - 1;
constexpr int kMaxStaticFields = CMOXLinker::kMaxStaticFields - 1;

[[noreturn]] void NotAnImage(const std::string& fileName, const std::string& why)
{
    throw EError(ecIDE, 3, "reading `" + fileName + "'", "it is not a Mox image: " + why);
}

class ImageReader {
public:
    ImageReader(const std::string& fileName, const std::vector<uint8_t>& image) : fileName_(fileName), image_(image) {}

    int32_t Word(int64_t at, const char* what) const
    {
        if (at < 0 || at + 2 > Size())
            NotAnImage(fileName_, std::string(what) + " lies past its end");
        return image_[static_cast<size_t>(at)] * 256 + image_[static_cast<size_t>(at) + 1];
    }
    int64_t Size() const { return static_cast<int64_t>(image_.size()); }

private:
    const std::string& fileName_;
    const std::vector<uint8_t>& image_;
};

} // namespace

ImageTotals ReadImageTotals(const std::string& fileName, const std::vector<uint8_t>& image)
{
    const ImageReader in(fileName, image);
    if (in.Size() < kHeaderBytes)
        NotAnImage(fileName, "shorter than the header");
    if (image[0] != kRunMarker || image[2] != kImageVersion)
        NotAnImage(fileName, "no run marker and version 1 at its start");
    ImageTotals totals;
    totals.fileName = fileName;
    totals.imageBytes = static_cast<int32_t>(in.Size());
    totals.headerBytes = kHeaderBytes;
    totals.staticFieldCount = image[3] / 2;

    const int32_t table = in.Word(12, "the string table");
    if (table < kHeaderBytes || table > in.Size())
        NotAnImage(fileName, "its string table lies outside it");
    totals.classesAndCodeBytes = table - kHeaderBytes;
    if (table < in.Size()) {
        // The index ends where the first record starts; the records follow
        // each other to the end of the image.
        const int32_t first = in.Word(table, "the string index table");
        if (first <= table || (first - table) % 2 != 0 || first > in.Size())
            NotAnImage(fileName, "its string index table does not end at a string record");
        totals.stringCount = (first - table) / 2;
        totals.stringIndexBytes = first - table;
        int64_t expected = first;
        for (int number = 0; number < totals.stringCount; ++number) {
            const int32_t record = in.Word(table + 2 * int64_t{number}, "the string index table");
            if (record != expected)
                NotAnImage(fileName, "string record " + std::to_string(number) + " is not where the last one ends");
            const int32_t length = in.Word(record + 2, "a string record");
            expected = int64_t{record} + kStringRecordBytes + length;
            if (expected > in.Size())
                NotAnImage(fileName, "string record " + std::to_string(number) + " lies past its end");
        }
        if (expected != in.Size())
            NotAnImage(fileName, "its string records do not end it");
        totals.stringBytes = static_cast<int32_t>(in.Size() - first);
    }

    totals.ram = ShareRam(totals.imageBytes, totals.staticFieldCount);
    // The module takes the header's byte as it is, odd or not.
    totals.ram.staticFields = image[3];
    totals.ram.heap = totals.ram.ram - totals.ram.staticFields - totals.ram.stack;
    totals.limits.push_back(Limit("staticFields", "static fields", totals.staticFieldCount, kMaxStaticFields));
    totals.limits.push_back(Limit("strings", "strings", totals.stringCount, kMaxStrings));
    totals.limits.push_back(Limit("imageBytes", "image bytes", totals.imageBytes, CMOXLinker::kMaxImageSize));
    totals.limits.push_back(HeapLimit(totals.ram.heap));
    return totals;
}
