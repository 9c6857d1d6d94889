#pragma once

#include "size/ProgramSize.h"

#include <cstdint>
#include <string>
#include <vector>

// The byte totals of a stored image, read from the image alone. Its class
// records carry no count of their slots, so the records and the code are
// one total; the string tables are walked record by record.
struct ImageTotals {
    std::string fileName;
    int32_t imageBytes = 0;
    int32_t headerBytes = 0;
    int32_t classesAndCodeBytes = 0;
    int32_t stringIndexBytes = 0;
    int32_t stringBytes = 0;
    int stringCount = 0;
    int staticFieldCount = 0;
    RamShare ram;
    std::vector<LimitUse> limits;
};

// The totals of `image`, which may be anything: a file that is not a whole
// image raises IDE 3 saying what is wrong, and nothing is read outside it.
ImageTotals ReadImageTotals(const std::string& fileName, const std::vector<uint8_t>& image);
