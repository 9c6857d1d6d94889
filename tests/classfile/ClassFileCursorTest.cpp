#include "ClassFileBuilder.h"
#include "ClassTestSupport.h"

#include "classfile/ClassFileCursor.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// Bytes that tell every position apart within a block and from the next.
std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

uint32_t BigEndianAt(const std::vector<uint8_t>& bytes, size_t at, int count)
{
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[at + static_cast<size_t>(i)];
    return value;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// A file holding `bytes` open for a cursor, removed with the directory.
class CursorFile {
public:
    explicit CursorFile(const std::vector<uint8_t>& bytes)
    {
        dir_.Write("file.class", bytes);
        file_.reset(std::fopen(dir_.File("file.class").c_str(), "rb"));
    }
    FILE* Get() const { return file_.get(); }

private:
    TempDir dir_;
    std::unique_ptr<FILE, FileCloser> file_;
};

const std::string kName = "app/Cursor";
const size_t kFileSize = 40000; // more than two blocks

struct CursorRow {
    const char* name;
    // Reads through the cursor and says what it found, in terms of the
    // file's own bytes (the row compares against them itself).
    std::function<void(ClassFileCursor&, const std::vector<uint8_t>&)> reads;
    bool corrupt; // the reads run past the end: JVM 20 naming the class
};

// Reads that straddle the ends of the cursor's blocks see the file's bytes
// in order; one byte too many is JVM 20 wherever it falls.
TEST(ClassFileCursorTest, ReadsSeeTheFileInOrderAcrossBlocks)
{
    const auto skipTo = [](ClassFileCursor& in, size_t at) { in.Skip(static_cast<uint32_t>(at)); };
    const CursorRow rows[] = {
        {"u2 over the first block end",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             skipTo(in, 16383);
             EXPECT_EQ(in.U2(), BigEndianAt(f, 16383, 2));
             EXPECT_EQ(in.U1(), f[16385]);
         },
         false},
        {"u4 over the second block end after small reads",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             size_t at = 0;
             while (at + 4 <= 32766) {
                 ASSERT_EQ(in.U4(), BigEndianAt(f, at, 4)) << at;
                 at += 4;
             }
             ASSERT_EQ(in.U2(), BigEndianAt(f, at, 2));
             EXPECT_EQ(in.U4(), BigEndianAt(f, at + 2, 4)) << "the u4 at " << at + 2;
         },
         false},
        {"a block longer than the cursor's",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             in.U1();
             std::vector<uint8_t> block = {1, 2, 3}; // replaced, not appended to
             in.Bytes(static_cast<uint32_t>(f.size() - 2), block);
             EXPECT_TRUE(block == std::vector<uint8_t>(f.begin() + 1, f.end() - 1));
             EXPECT_EQ(in.U1(), f.back());
         },
         false},
        {"text over a block end",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             skipTo(in, 16000);
             std::string text = "old";
             in.Bytes(1000, text);
             EXPECT_TRUE(text == std::string(f.begin() + 16000, f.begin() + 17000));
         },
         false},
        {"every byte to the end, then nothing",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             skipTo(in, f.size() - 1);
             in.U1();
         },
         false},
        {"one more byte than the file", [&](ClassFileCursor& in, const std::vector<uint8_t>& f) { skipTo(in, f.size() + 1); },
         true},
        {"u4 with three bytes left",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             skipTo(in, f.size() - 3);
             in.U4();
         },
         true},
        {"u2 after the last byte",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             skipTo(in, f.size() - 1);
             in.U1();
             in.U2();
         },
         true},
        {"a block longer than the file",
         [&](ClassFileCursor& in, const std::vector<uint8_t>& f) {
             std::vector<uint8_t> block;
             in.Bytes(static_cast<uint32_t>(f.size() + 1), block);
         },
         true},
        {"the longest length a file can give",
         [&](ClassFileCursor& in, const std::vector<uint8_t>&) {
             std::string text;
             in.Bytes(0xFFFFFFFF, text);
         },
         true},
    };
    const std::vector<uint8_t> bytes = Pattern(kFileSize);
    for (const CursorRow& row : rows) {
        SCOPED_TRACE(row.name);
        CursorFile file(bytes);
        ClassFileCursor in(file.Get(), kName);
        const std::string error = ErrorOf([&] { row.reads(in, bytes); });
        EXPECT_EQ(error, row.corrupt ? CorruptLine(kName) : "");
    }
}

// A class file several blocks long, with a constant and code that cross
// the blocks' ends: everything the file says arrives, and a cut anywhere
// near those ends is JVM 20.
TEST(ClassFileCursorTest, ClassFilesLongerThanABlockLoadWhole)
{
    ClassFileBuilder b("app/Long");
    std::string text(20000, 'x');
    for (size_t i = 0; i < text.size(); i += 97)
        text[i] = static_cast<char>('a' + i % 26);
    const uint16_t constant = b.String(text);
    ClassFileBuilder::Method run;
    run.code = std::vector<uint8_t>(30000, 0x00); // nop ... return
    run.code.back() = 0xB1;
    run.lines = {{0, 3}, {29999, 4}};
    run.extraCodeAttributes = {{"Padding", std::vector<uint8_t>(17000, 0xEE)}};
    b.AddMethod(run);
    const std::vector<uint8_t> bytes = b.Build();
    ASSERT_GT(bytes.size(), 4 * 16384u);

    TempDir dir;
    const std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Long", bytes);
    EXPECT_EQ(javaClass->StringText(constant), text);
    EXPECT_TRUE(javaClass->Method(0).code == run.code);
    ASSERT_EQ(javaClass->Method(0).lineNumbers.size(), 2u);
    EXPECT_EQ(javaClass->Method(0).lineNumbers[1].startPc, 29999);

    const size_t end = EndOfMethods(bytes);
    for (size_t cut : {size_t{16383}, size_t{16384}, size_t{16385}, size_t{32768}, size_t{49151}, end - 1}) {
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(ErrorOf([&] { LoadBytes(dir, "app/Long", prefix); }), CorruptLine("app/Long")) << "cut at " << cut;
    }
}

} // namespace
