#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

std::vector<uint8_t> Zeros(size_t count) { return std::vector<uint8_t>(count, 0); }

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> Be32(int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

// `p` nops, then a switch opcode padded to the next multiple of four.
std::vector<uint8_t> SwitchStart(int p, uint8_t opcode)
{
    std::vector<uint8_t> code = Zeros(static_cast<size_t>(p));
    code.push_back(opcode);
    while (code.size() % 4 != 0)
        code.push_back(0);
    return code;
}

std::vector<uint8_t> TableSwitch(int p, int32_t defaultOffset, int32_t low, int32_t high, const std::vector<int32_t>& offsets)
{
    std::vector<uint8_t> code = SwitchStart(p, 0xAA) + Be32(defaultOffset) + Be32(low) + Be32(high);
    for (int32_t offset : offsets)
        code = code + Be32(offset);
    return code + std::vector<uint8_t>{0xB1};
}

std::vector<uint8_t> LookupSwitch(int p, int32_t defaultOffset, const std::vector<std::pair<int32_t, int32_t>>& pairs)
{
    std::vector<uint8_t> code = SwitchStart(p, 0xAB) + Be32(defaultOffset) + Be32(static_cast<int32_t>(pairs.size()));
    for (const auto& [match, offset] : pairs)
        code = code + Be32(match) + Be32(offset);
    return code + std::vector<uint8_t>{0xB1};
}

// Main with a static main ()V whose code the row writes (it may add
// constants, fields and methods to Main first), over the minimal library.
// The result is the Mox code at the place main's slot points to.
struct Translated {
    std::string error;
    std::vector<uint8_t> code;
};

// Methods a row declares after main, which is then Main's first method.
using LaterMethods = std::vector<ClassFileBuilder::Method>;
using CodeMaker = std::function<std::vector<uint8_t>(ClassFileBuilder&, LaterMethods&)>;

Translated Translate(const CodeMaker& makeCode)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    LaterMethods later;
    const std::vector<uint8_t> code = makeCode(main, later);
    main.AddMethod(CodeMethod("main", "()V", code, 4));
    for (const ClassFileBuilder::Method& method : later)
        main.AddMethod(method);
    WriteClass(dir, "Main", main);
    const LinkResult result = LinkClass(dir.Path(), "Main");
    if (!result.error.empty())
        return {result.error, {}};
    const std::vector<uint8_t> image = result.Image();
    const int slot = image[4] * 256 + image[5];
    const int offset = image[slot + 3] * 256 + image[slot + 4];
    return {"", std::vector<uint8_t>(image.begin() + offset, image.begin() + offset + static_cast<long>(code.size()))};
}

struct TranslationRow {
    const char* name;
    CodeMaker java;
    std::vector<uint8_t> mox;
};

CodeMaker Code(std::vector<uint8_t> code)
{
    return [code](ClassFileBuilder&, LaterMethods&) { return code; };
}

TEST(TranslationTest, InstructionsKeepTheirLengthAndTakeMoxOpcodesAndOperands)
{
    const TranslationRow rows[] = {
        {"aload_0 areturn", Code({0x2A, 0xB0}), {0x0B, 0x22}},
        {"ifnull keeps its offset bytes", Code({0xC6, 0x00, 0x07, 0, 0, 0, 0, 0xB1}), {0x14, 0x00, 0x07, 0, 0, 0, 0, 0x23}},
        {"ifnonnull is ifne", Code({0xC7, 0x00, 0x04, 0x00, 0xB1}), {0x15, 0x00, 0x04, 0x00, 0x23}},
        {"goto backwards", Code({0x00, 0xA7, 0xFF, 0xFF}), {0x00, 0x43, 0xFF, 0xFF}},
        {"i2s is one nop", Code({0x93, 0xB1}), {0x00, 0x23}},
        {"bipush and sipush operands unchanged", Code({0x10, 0xFF, 0x11, 0xFF, 0xFE, 0xB1}), {0x08, 0xFF, 0x09, 0xFF, 0xFE, 0x23}},
        {"iinc operands unchanged", Code({0x84, 0x03, 0xFF, 0xB1}), {0x51, 0x03, 0xFF, 0x23}},
        {"newarray int is words", Code({0xBC, 0x0A, 0xB1}), {0x59, 0x00, 0x23}},
        {"newarray byte is bytes", Code({0xBC, 0x08, 0xB1}), {0x59, 0x01, 0x23}},
        {"newarray boolean and char are bytes", Code({0xBC, 0x04, 0xBC, 0x05, 0xB1}), {0x59, 0x01, 0x59, 0x01, 0x23}},
        {"newarray short is words", Code({0xBC, 0x09, 0xB1}), {0x59, 0x00, 0x23}},
        {"checkcast writes no class, and loads none",
         [](ClassFileBuilder& c, LaterMethods&) {
             const uint16_t nowhere = c.Class("Nowhere");
             return std::vector<uint8_t>{0xC0, Hi(nowhere), Lo(nowhere), 0xB1};
         },
         {0x4B, 0x00, 0x00, 0x23}},
        {"anewarray writes no class, and loads none",
         [](ClassFileBuilder& c, LaterMethods&) {
             const uint16_t nowhere = c.Class("Nowhere");
             return std::vector<uint8_t>{0x04, 0xBD, Hi(nowhere), Lo(nowhere), 0xB1};
         },
         {0x03, 0x5B, 0x00, 0x00, 0x23}},
        {"new and instanceof name the class record",
         [](ClassFileBuilder& c, LaterMethods&) {
             return std::vector<uint8_t>{0xBB, Hi(c.thisClass), Lo(c.thisClass), 0xC1, Hi(c.thisClass), Lo(c.thisClass), 0xB1};
         },
         {0x57, 0x00, 20, 0x4D, 0x00, 20, 0x23}},
        {"ldc and ldc_w take the string number",
         [](ClassFileBuilder& c, LaterMethods&) {
             const uint16_t a = c.String("a"), b = c.String("b"), third = c.String("c");
             return std::vector<uint8_t>{0x12, Lo(a), 0x57, 0x12, Lo(b), 0x57, 0x12, Lo(third), 0x57,
                                         0x13, Hi(third), Lo(third), 0x57, 0xB1};
         },
         {0x65, 0, 0x28, 0x65, 1, 0x28, 0x65, 2, 0x28, 0x67, 0x00, 2, 0x28, 0x23}},
        {"getstatic and putstatic take the static slot times two",
         [](ClassFileBuilder& c, LaterMethods&) {
             for (const char* name : {"s0", "s1", "s2", "s3"})
                 c.AddField({afStatic, name, "I"});
             const uint16_t s3 = c.Fieldref("Main", "s3", "I"), s1 = c.Fieldref("Main", "s1", "I");
             return std::vector<uint8_t>{0xB2, Hi(s3), Lo(s3), 0xB3, Hi(s1), Lo(s1), 0xB1};
         },
         {0x26, 0x00, 0x06, 0x27, 0x00, 0x02, 0x23}},
        {"getfield and putfield take the word offset times two plus two",
         [](ClassFileBuilder& c, LaterMethods&) {
             c.AddField({0, "v", "I"});
             c.AddField({0, "l", "J"});
             c.AddField({0, "w", "I"});
             const uint16_t v = c.Fieldref("Main", "v", "I"), w = c.Fieldref("Main", "w", "I");
             return std::vector<uint8_t>{0x2A, 0xB4, Hi(v), Lo(v), 0x2A, 0x03, 0xB5, Hi(w), Lo(w), 0xB1};
         },
         {0x0B, 0x53, 0x00, 0x02, 0x0B, 0x02, 0x55, 0x00, 0x08, 0x23}},
        {"invokevirtual takes argument words and the slot's place in the record",
         [](ClassFileBuilder& c, LaterMethods& later) {
             later.push_back(CodeMethod("target", "(II)V", {0xB1}, 3, false));
             const uint16_t target = c.Methodref("Main", "target", "(II)V");
             return std::vector<uint8_t>{0x2A, 0x04, 0x05, 0xB6, Hi(target), Lo(target), 0xB1};
         },
         {0x0B, 0x03, 0x04, 0x24, 0x06, 0x0A, 0x23}},
        {"invokestatic and invokespecial take the slot offset",
         [](ClassFileBuilder& c, LaterMethods& later) {
             later.push_back(CodeMethod("helper", "()V", {0xB1}, 0));
             const uint16_t helper = c.Methodref("Main", "helper", "()V");
             return std::vector<uint8_t>{0xB8, Hi(helper), Lo(helper), 0xB7, Hi(helper), Lo(helper), 0xB1};
         },
         {0x25, 0x00, 30, 0x25, 0x00, 30, 0x23}},
        {"wide iload keeps its two index bytes", Code({0xC4, 0x15, 0x01, 0x02, 0xB1}), {0x4F, 0x0A, 0x01, 0x02, 0x23}},
        {"wide astore is wide istore", Code({0xC4, 0x3A, 0x01, 0x02, 0xB1}), {0x4F, 0x0F, 0x01, 0x02, 0x23}},
        {"wide iinc keeps index and constant",
         Code({0xC4, 0x84, 0x01, 0x02, 0xFF, 0xFE, 0xB1}),
         {0x4F, 0x51, 0x01, 0x02, 0xFF, 0xFE, 0x23}},
        {"wide whose index bytes look like opcodes",
         Code({0xC4, 0x15, 0x12, 0xAA, 0xB1}),
         {0x4F, 0x0A, 0x12, 0xAA, 0x23}},
    };
    for (const TranslationRow& row : rows) {
        const Translated result = Translate(row.java);
        EXPECT_EQ(result.error, "") << row.name;
        EXPECT_EQ(result.code, row.mox) << row.name;
    }
}

// default, low and high - low, the jump offsets less one, then zeros up to
// the Java length: 2 * (high - low) + (p rounded down to 4) - p + 11.
TEST(TranslationTest, TableSwitchAtEveryAlignment)
{
    const std::vector<uint8_t> fields = {0x00, 0x13, 0x00, 0x00, 0x00, 0x02, 0x00, 0x09, 0x00, 0x0A, 0x00, 0x0B};
    const TranslationRow rows[] = {
        {"at 0", Code(TableSwitch(0, 20, 0, 2, {10, 11, 12})), std::vector<uint8_t>{0x75} + fields + Zeros(15) + std::vector<uint8_t>{0x23}},
        {"at 1", Code(TableSwitch(1, 20, 0, 2, {10, 11, 12})), std::vector<uint8_t>{0x00, 0x75} + fields + Zeros(14) + std::vector<uint8_t>{0x23}},
        {"at 2", Code(TableSwitch(2, 20, 0, 2, {10, 11, 12})), Zeros(2) + std::vector<uint8_t>{0x75} + fields + Zeros(13) + std::vector<uint8_t>{0x23}},
        {"at 3", Code(TableSwitch(3, 20, 0, 2, {10, 11, 12})), Zeros(3) + std::vector<uint8_t>{0x75} + fields + Zeros(12) + std::vector<uint8_t>{0x23}},
        {"negative values and an offset beyond 16 bits",
         Code(TableSwitch(1, -8, -2, 0, {-20, -21, 70000})),
         std::vector<uint8_t>{0x00, 0x75, 0xFF, 0xF7, 0xFF, 0xFE, 0x00, 0x02, 0xFF, 0xEB, 0xFF, 0xEA, 0x11, 0x6F} + Zeros(14) +
             std::vector<uint8_t>{0x23}},
        {"one case", Code(TableSwitch(0, 8, 5, 5, {4})),
         std::vector<uint8_t>{0x75, 0x00, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00, 0x03} + Zeros(11) + std::vector<uint8_t>{0x23}},
    };
    for (const TranslationRow& row : rows) {
        const Translated result = Translate(row.java);
        EXPECT_EQ(result.error, "") << row.name;
        EXPECT_EQ(result.code, row.mox) << row.name;
    }
}

// default less one, npairs, each match and offset less one, then
// 4 * npairs + (p rounded down to 4) - p + 7 zeros.
TEST(TranslationTest, LookupSwitchAtEveryAlignment)
{
    const std::vector<uint8_t> fields = {0x00, 0x27, 0x00, 0x01, 0x00, 0x05, 0x00, 0x1D};
    const TranslationRow rows[] = {
        {"at 0", Code(LookupSwitch(0, 40, {{5, 30}})), std::vector<uint8_t>{0x77} + fields + Zeros(11) + std::vector<uint8_t>{0x23}},
        {"at 1", Code(LookupSwitch(1, 40, {{5, 30}})), std::vector<uint8_t>{0x00, 0x77} + fields + Zeros(10) + std::vector<uint8_t>{0x23}},
        {"at 2", Code(LookupSwitch(2, 40, {{5, 30}})), Zeros(2) + std::vector<uint8_t>{0x77} + fields + Zeros(9) + std::vector<uint8_t>{0x23}},
        {"at 3", Code(LookupSwitch(3, 40, {{5, 30}})), Zeros(3) + std::vector<uint8_t>{0x77} + fields + Zeros(8) + std::vector<uint8_t>{0x23}},
        {"matches keep their low 16 bits",
         Code(LookupSwitch(2, -4, {{-1000, 50}, {70000, 60}})),
         Zeros(2) + std::vector<uint8_t>{0x77, 0xFF, 0xFB, 0x00, 0x02, 0xFC, 0x18, 0x00, 0x31, 0x11, 0x70, 0x00, 0x3B} + Zeros(13) +
             std::vector<uint8_t>{0x23}},
        {"no pairs", Code(LookupSwitch(0, 9, {})), std::vector<uint8_t>{0x77, 0x00, 0x08, 0x00, 0x00} + Zeros(7) + std::vector<uint8_t>{0x23}},
    };
    for (const TranslationRow& row : rows) {
        const Translated result = Translate(row.java);
        EXPECT_EQ(result.error, "") << row.name;
        EXPECT_EQ(result.code, row.mox) << row.name;
    }
}

struct FailingRow {
    const char* name;
    CodeMaker java;
    std::string error;
};

TEST(TranslationTest, InstructionsTheModuleLacksStopTheLink)
{
    const FailingRow rows[] = {
        {"fadd", Code({0x04, 0x04, 0x62, 0x57, 0xB1}), "[Error JVM-0030] Unimplemented bytecode (98).\n"},
        {"goto_w", Code({0xC8, 0x00, 0x00, 0x00, 0x05, 0xB1}), "[Error JVM-0030] Unimplemented bytecode (200).\n"},
        {"wide fload", Code({0xC4, 0x17, 0x00, 0x01, 0xB1}), "[Error JVM-0030] Unimplemented bytecode (23).\n"},
        {"multianewarray",
         [](ClassFileBuilder& c, LaterMethods&) {
             const uint16_t type = c.Class("[[I");
             return std::vector<uint8_t>{0x04, 0x04, 0xC5, Hi(type), Lo(type), 0x02, 0xB1};
         },
         "[Error JVM-0030] Unimplemented bytecode (197).\n"},
        {"a static field the class lacks",
         [](ClassFileBuilder& c, LaterMethods&) {
             const uint16_t ref = c.Fieldref("Main", "missing", "I");
             return std::vector<uint8_t>{0xB2, Hi(ref), Lo(ref), 0x57, 0xB1};
         },
         "[Error JVM-0014] No method found for `missing'.\n"},
        {"an instance field the class lacks",
         [](ClassFileBuilder& c, LaterMethods&) {
             const uint16_t ref = c.Fieldref("Main", "missing", "I");
             return std::vector<uint8_t>{0x2A, 0xB4, Hi(ref), Lo(ref), 0x57, 0xB1};
         },
         "[Error JVM-0028] Cannot find linked field (Main.missing).\n"},
        {"a method the class lacks",
         [](ClassFileBuilder& c, LaterMethods&) {
             const uint16_t ref = c.Methodref("Main", "missing", "()V");
             return std::vector<uint8_t>{0xB8, Hi(ref), Lo(ref), 0xB1};
         },
         "[Error JVM-0031] Cannot find linked method (Main.missing).\n"},
    };
    for (const FailingRow& row : rows)
        EXPECT_EQ(Translate(row.java).error, row.error) << row.name;
}

// A slot more than 255 bytes into its record cannot be named in one byte:
// the 37th entry sits at 3 + 36 * 7 = 255, the 38th at 262.
TEST(TranslationTest, VirtualCallsReachTheFirst37SlotsOfARecord)
{
    const auto callEntry = [](int entry) {
        return [entry](ClassFileBuilder& c, LaterMethods& later) {
            // main is entry 1; m2 .. m38 follow.
            for (int k = 2; k <= 38; ++k)
                later.push_back(CodeMethod("m" + std::to_string(k), "()V", {0xB1}, 1, false));
            const uint16_t ref = c.Methodref("Main", "m" + std::to_string(entry), "()V");
            return std::vector<uint8_t>{0x2A, 0xB6, Hi(ref), Lo(ref), 0xB1};
        };
    };
    EXPECT_EQ(Translate(callEntry(37)).code, (std::vector<uint8_t>{0x0B, 0x24, 0x02, 255, 0x23}));
    EXPECT_EQ(Translate(callEntry(38)).error, "[Error LNK-0009] Maximum number of methods per class exceeded in class Main.\n");
}

} // namespace
