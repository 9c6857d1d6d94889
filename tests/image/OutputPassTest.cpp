#include "HandLinkedPrograms.h"
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Prints where two images part, which a byte-vector comparison hides.
std::string FirstDifference(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected)
{
    for (size_t i = 0; i < std::min(actual.size(), expected.size()); ++i)
        if (actual[i] != expected[i])
            return "first difference at offset " + std::to_string(i) + ": " + std::to_string(actual[i]) +
                   " instead of " + std::to_string(expected[i]);
    return actual.size() == expected.size() ? "" : "sizes " + std::to_string(actual.size()) + " and " +
                                                       std::to_string(expected.size());
}

TEST(OutputPassTest, SmallestProgramImageIsExactlyTheWorkedOutBytes)
{
    TempDir dir;
    WriteSmallestProgram(dir);
    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.printed, "");
    EXPECT_EQ(FirstDifference(result.Image(), kSmallestImage), "");
}

TEST(OutputPassTest, TwoClassProgramImageIsExactlyTheWorkedOutBytes)
{
    TempDir dir;
    WriteTwoClassProgram(dir);
    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(FirstDifference(result.Image(), kTwoClassImage), "");
}

// The smallest program with main's code stretched to `size` - 54 bytes
// (nops, then return), so the image is `size` bytes long.
LinkResult LinkImageOfSize(const TempDir& dir, int size)
{
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    std::vector<uint8_t> code(static_cast<size_t>(size - 54), 0x00);
    code.back() = 0xB1;
    main.AddMethod(CodeMethod("main", "()V", code, 0));
    WriteClass(dir, "Main", main);
    return LinkClass(dir.Path(), "Main");
}

struct SizeRow {
    const char* name;
    int size;
    uint8_t pageByte;
    int stackBase; // as the two header bytes read it
};

TEST(OutputPassTest, PageCountAndStackBaseFollowTheImageSize)
{
    const SizeRow rows[] = {
        {"96 bytes", 96, 20, 112},
        {"97 bytes", 97, 20, 112},
        {"just below 19 pages", 4863, 20, 4864},
        {"19 whole pages make 20", 4864, 20, 4880},
        {"127 pages", 32511, 127, 32512},
        {"128 pages read as negative", 32512, 20, 32528},
        // 65536 does not fit the field: its low 16 bits are 0.
        {"the largest image", 65535, 20, 0},
    };
    for (const SizeRow& row : rows) {
        TempDir dir;
        const LinkResult result = LinkImageOfSize(dir, row.size);
        ASSERT_EQ(result.error, "") << row.name;
        const std::vector<uint8_t> image = result.Image();
        ASSERT_EQ(image.size(), static_cast<size_t>(row.size)) << row.name;
        EXPECT_EQ(image[1], row.pageByte) << row.name;
        EXPECT_EQ(image[18] * 256 + image[19], row.stackBase) << row.name;
        EXPECT_EQ(image[12] * 256 + image[13], row.size) << row.name << ": no strings, the table is at the end";
    }
}

TEST(OutputPassTest, OneByteBeyondTheLargestImageFails)
{
    TempDir dir;
    EXPECT_EQ(LinkImageOfSize(dir, 65536).error, "[Error LNK-0008] Maximum binary size exceeded.\n");
}

// Main [main, <clinit>] and Other [f, <clinit>]: two static initializers
// (Other's first: Main names it), so main's handler positions and its
// table's place count the 6 prologue bytes.
//   Main @20 (17): main @23, <clinit> @30; Throwable @37 (10); Other @47
//   (17); Object @64 (3); OutOfMemoryError @67 (10); code from 77:
//   Main.main 6 + 6 + 9, Main.<clinit> 1, ...
TEST(OutputPassTest, ExceptionTableOfMainCountsThePrologue)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    const uint16_t f = main.Methodref("Other", "f", "()V");
    const uint16_t throwable = main.Class("java/lang/Throwable");
    ClassFileBuilder::Method mainMethod = CodeMethod("main", "()V", {0xB8, Hi(f), Lo(f), 0xB1, 0x57, 0xB1}, 1);
    mainMethod.handlers = {{0, 3, 4, throwable}};
    main.AddMethod(mainMethod);
    main.AddMethod(CodeMethod("<clinit>", "()V", {0xB1}, 0));
    WriteClass(dir, "Main", main);
    ClassFileBuilder other("Other");
    other.AddMethod(CodeMethod("f", "()V", {0xB1}, 0));
    other.AddMethod(CodeMethod("<clinit>", "()V", {0xB1}, 0));
    WriteClass(dir, "Other", other);

    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    const std::vector<uint8_t> image = result.Image();
    ASSERT_EQ(image.size(), 102u);
    const std::vector<uint8_t> mainSlot(image.begin() + 23, image.begin() + 30);
    EXPECT_EQ(mainSlot, (std::vector<uint8_t>{0x80, 0x02, 0x00, 0x00, 77, 0x00, 77 + 6 + 6}));
    const std::vector<uint8_t> mainCode(image.begin() + 77, image.begin() + 98);
    EXPECT_EQ(mainCode, (std::vector<uint8_t>{
                            0x25, 0x00, 57, 0x25, 0x00, 30,         // Other.<clinit>, then Main's
                            0x25, 0x00, 50, 0x23, 0x28, 0x23,       // the code
                            0x01, 0x00, 77 + 6 + 0 + 1, 0x00, 77 + 6 + 3 + 1, // start, end
                            0x00, 37, 0x00, 77 + 6 + 4,             // Throwable, handler
                        }));
}

} // namespace
