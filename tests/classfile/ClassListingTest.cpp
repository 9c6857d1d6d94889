#include "ClassFileBuilder.h"
#include "ClassTestSupport.h"

#include "classfile/JavaOpcodes.h"

#include <gtest/gtest.h>

namespace {

uint8_t Hi(uint16_t index) { return static_cast<uint8_t>(index >> 8); }
uint8_t Lo(uint16_t index) { return static_cast<uint8_t>(index); }

// The listing of every byte of method m, in order from pc 0.
std::vector<std::string> ListAll(CJavaClass& javaClass, int m, size_t bufferSize = CJavaClass::kListingBufferSize)
{
    std::vector<std::string> texts;
    for (uint32_t pc = 0; pc < javaClass.CodeLength(m); ++pc) {
        std::string text = "stale";
        const bool isInstruction = javaClass.ListInstruction(m, pc, text, bufferSize);
        EXPECT_EQ(isInstruction, !text.empty()) << "pc " << pc;
        texts.push_back(text);
    }
    return texts;
}

class ListingTest : public ::testing::Test {
protected:
    ListingTest() : b_("app/Main")
    {
        hi_ = b_.String("hi");
        seven_ = b_.Integer(7);
        big_ = b_.Long(0, 5);
        field_ = b_.Fieldref("app/Other", "count", "I");
        method_ = b_.Methodref("app/Other", "run", "(I)V");
        other_ = b_.Class("app/Other");
        interface_ = b_.InterfaceMethodref("app/Greeter", "greet", "()V");
    }

    ClassFileBuilder b_;
    uint16_t hi_, seven_, big_, field_, method_, other_, interface_;
};

TEST_F(ListingTest, ConstantTextByTag)
{
    const uint16_t negative = b_.Integer(-5);
    const uint16_t one = b_.Float(0x3F800000);
    const uint16_t minusPi = b_.Float(0xC0490FDB);
    const uint16_t longValue = b_.Long(1, 0xFFFFFFFF);
    const uint16_t doubleValue = b_.Double(0x3FF00000, 0);
    const uint16_t nameAndType = b_.NameAndType("run", "(I)V");
    const uint16_t utf8 = b_.Utf8("hi");
    TempDir dir;
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b_.Build());
    const struct {
        const char* name;
        uint16_t index;
        size_t bufferSize;
        std::string expected;
    } cases[] = {
        {"Integer", negative, 256, "Integer -5"},
        {"Float 1.0", one, 256, "Float 1.000000"},
        {"Float -pi", minusPi, 256, "Float -3.141593"},
        {"Long", longValue, 256, "Long 1 -1"},
        {"Double", doubleValue, 256, "Double 1072693248 0"},
        {"Class", other_, 256, "Class app/Other"},
        {"String", hi_, 256, "\"hi\""},
        {"Utf8", utf8, 256, "\"hi\""},
        {"Fieldref", field_, 256, "Field app/Other.count"},
        {"Methodref", method_, 256, "Method app/Other.run"},
        {"InterfaceMethodref", interface_, 256, "Interface app/Greeter.greet"},
        {"NameAndType", nameAndType, 256, "NameAndType run (I)V"},
        {"cut to the buffer", method_, 10, "Method ap"},
        {"a buffer of one byte", method_, 1, ""},
        {"no buffer", method_, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(javaClass->ConstantText(c.index, c.bufferSize), c.expected) << c.name;
}

struct InstructionCase {
    const char* name;
    std::vector<uint8_t> code; // one instruction; a return is added after it
    std::string expected;
};

TEST_F(ListingTest, EachInstructionFormat)
{
    const std::vector<uint8_t> pad3 = {0, 0, 0};
    const InstructionCase cases[] = {
        {"bipush 0xFF is unsigned", {16, 0xFF}, "   0 bipush 255"},
        {"sipush 0xFFFE is signed", {17, 0xFF, 0xFE}, "   0 sipush -2"},
        {"ldc", {18, Lo(hi_)}, "   0 ldc #" + std::to_string(hi_) + " <\"hi\">"},
        {"ldc_w", {19, Hi(seven_), Lo(seven_)}, "   0 ldc_w #" + std::to_string(seven_) + " <Integer 7>"},
        {"ldc2_w", {20, Hi(big_), Lo(big_)}, "   0 ldc2_w #" + std::to_string(big_) + " <Long 0 5>"},
        {"getstatic", {178, Hi(field_), Lo(field_)},
         "   0 getstatic #" + std::to_string(field_) + " <Field app/Other.count>"},
        {"invokestatic", {184, Hi(method_), Lo(method_)},
         "   0 invokestatic #" + std::to_string(method_) + " <Method app/Other.run>"},
        {"new", {187, Hi(other_), Lo(other_)}, "   0 new #" + std::to_string(other_) + " <Class app/Other>"},
        {"anewarray", {189, Hi(other_), Lo(other_)}, "   0 anewarray #" + std::to_string(other_) + " <Class app/Other>"},
        {"instanceof", {193, Hi(other_), Lo(other_)},
         "   0 instanceof #" + std::to_string(other_) + " <Class app/Other>"},
        {"iload", {21, 5}, "   0 iload 5"},
        {"lload", {22, 200}, "   0 lload 200"},
        {"fload", {23, 4}, "   0 fload 4"},
        {"dstore", {57, 6}, "   0 dstore 6"},
        {"fstore", {56, 4}, "   0 fstore 4"},
        {"ret", {169, 2}, "   0 ret 2"},
        {"laload has no operand", {47}, "   0 laload "},
        {"dastore has no operand", {82}, "   0 dastore "},
        {"iinc 3 by -1", {132, 3, 0xFF}, "   0 iinc 3 -1"},
        {"ifeq forward", {153, 0, 4}, "   0 ifeq 4"},
        {"ifnonnull", {199, 0, 3}, "   0 ifnonnull 3"},
        {"newarray int", {188, 10}, "   0 newarray int"},
        {"newarray boolean", {188, 4}, "   0 newarray boolean"},
        {"newarray of type 3", {188, 3}, "   0 newarray **unknown**"},
        {"checkcast", {192, Hi(other_), Lo(other_)}, "   0 checkcast ????"},
        {"invokeinterface", {185, Hi(interface_), Lo(interface_), 1, 0}, "   0 invokeinterface "},
        {"multianewarray", {197, Hi(other_), Lo(other_), 2}, "   0 multianewarray "},
        {"wide iinc", {196, 132, 1, 0, 0, 1}, "   0 wide "},
        {"goto_w", {200, 0, 0, 0, 5}, "   0 goto_w "},
        {"nop", {0}, "   0 nop "},
        {"opcode without a name", {230}, "   0 **unknown** "},
        {"tableswitch", Join({{170}, pad3, Be32(28), Be32(0), Be32(2), Be32(10), Be32(20), Be32(30)}),
         "   0 tableswitch 0 to 2: default=28\n      0: 10\n      1: 20\n      2: 30"},
    };
    for (const InstructionCase& c : cases) {
        ClassFileBuilder b = b_;
        ClassFileBuilder::Method method;
        method.code = c.code;
        method.code.push_back(0xB1);
        b.AddMethod(method);
        TempDir dir;
        std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b.Build());
        const std::vector<std::string> texts = ListAll(*javaClass, 0);
        const size_t returnAt = c.code.size();
        ASSERT_EQ(texts.size(), returnAt + 1) << c.name;
        EXPECT_EQ(texts[0], c.expected) << c.name;
        // One empty text per operand byte, then the next instruction.
        for (size_t pc = 1; pc < returnAt; ++pc)
            EXPECT_EQ(texts[pc], "") << c.name << " pc " << pc;
        char returnText[32];
        std::snprintf(returnText, sizeof returnText, "%4zu return ", returnAt);
        EXPECT_EQ(texts[returnAt], returnText) << c.name;
    }
}

TEST_F(ListingTest, SwitchTargetsAreAbsolute)
{
    ClassFileBuilder::Method method;
    method.code = Join({{0, 171, 0, 0}, Be32(9), Be32(2), Be32(-5), Be32(20), Be32(7), Be32(30), {0xB1}});
    b_.AddMethod(method);
    TempDir dir;
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b_.Build());
    const std::vector<std::string> texts = ListAll(*javaClass, 0);
    EXPECT_EQ(texts[0], "   0 nop ");
    EXPECT_EQ(texts[1], "   1 lookupswitch 2 pairs default=10\n      -5: 21\n      7: 31");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), ""), 26) << "padding, default, count and two pairs";
}

TEST_F(ListingTest, GotoTargetIsPcPlusOffset)
{
    ClassFileBuilder::Method method;
    method.code = std::vector<uint8_t>(10, 0x00);
    method.code.insert(method.code.end(), {167, 0xFF, 0xFC, 0xB1});
    b_.AddMethod(method);
    TempDir dir;
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b_.Build());
    std::string text;
    EXPECT_TRUE(javaClass->ListInstruction(0, 10, text));
    EXPECT_EQ(text, "  10 goto 6");
}

TEST_F(ListingTest, TableswitchKeepsOnlyWholeCaseLinesThatFit)
{
    ClassFileBuilder::Method method;
    method.code = Join({{170, 0, 0, 0}, Be32(28), Be32(0), Be32(2), Be32(10), Be32(20), Be32(30), {0xB1}});
    b_.AddMethod(method);
    TempDir dir;
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b_.Build());
    const std::string head = "   0 tableswitch 0 to 2: default=28"; // 35 characters, each case line 12
    const struct {
        size_t bufferSize;
        std::string expected;
    } cases[] = {
        {60, head + "\n      0: 10\n      1: 20"}, // 59 characters: shorter than the buffer
        {59, head + "\n      0: 10"},
        {48, head + "\n      0: 10"},
        {47, head},
        {20, head.substr(0, 19)},
    };
    for (const auto& c : cases) {
        std::string text;
        javaClass->ListInstruction(0, 0, text, c.bufferSize);
        EXPECT_EQ(text, c.expected) << "buffer " << c.bufferSize;
    }
}

TEST_F(ListingTest, AnotherMethodOrAJumpStartsANewInstruction)
{
    ClassFileBuilder::Method first;
    first.code = {17, 0x01, 0x00, 0xB1};
    ClassFileBuilder::Method second;
    second.name = "second";
    second.code = {0x00, 0x00, 0x00, 0x04, 0xB1};
    b_.AddMethod(first);
    b_.AddMethod(second);
    TempDir dir;
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b_.Build());
    std::string text;
    EXPECT_TRUE(javaClass->ListInstruction(0, 0, text));
    EXPECT_EQ(text, "   0 sipush 256");
    EXPECT_FALSE(javaClass->ListInstruction(0, 1, text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(javaClass->ListInstruction(0, 2, text));
    EXPECT_TRUE(javaClass->ListInstruction(1, 3, text)) << "another method: nothing pending";
    EXPECT_EQ(text, "   3 iconst_1 ");
    EXPECT_TRUE(javaClass->ListInstruction(0, 0, text));
    EXPECT_TRUE(javaClass->ListInstruction(0, 2, text)) << "a jump: nothing pending";
    EXPECT_EQ(text, "   2 nop ");
}

// Listing every byte of real code gives a text exactly where a scan finds an
// instruction, and the text begins with that pc.
TEST(ListingOfCompiledCode, TextsFallOnInstructionStarts)
{
    std::vector<std::pair<std::string, std::string>> classes;
    for (const char* program : {"showcase", "widetypes", "renamed"})
        for (const std::string& name : ClassNamesUnder(FixtureDir(program)))
            classes.push_back({FixtureDir(program), name});
    for (const std::string& name : ClassNamesUnder(LibraryDir()))
        classes.push_back({LibraryDir(), name});
    for (const auto& [root, name] : classes) {
        CJavaClass javaClass(name, root);
        javaClass.load();
        for (int m = 0; m < javaClass.MethodCount(); ++m) {
            const std::vector<std::string> texts = ListAll(javaClass, m);
            uint32_t next = 0;
            for (uint32_t pc = 0; pc < texts.size(); ++pc) {
                if (pc == next) {
                    char number[16];
                    std::snprintf(number, sizeof number, "%4u ", pc);
                    ASSERT_EQ(texts[pc].rfind(number, 0), 0u) << name << "." << javaClass.MethodName(m) << " pc " << pc;
                    javaClass.NextInstruction(m, next);
                } else {
                    ASSERT_EQ(texts[pc], "") << name << "." << javaClass.MethodName(m) << " pc " << pc;
                }
            }
        }
    }
    CJavaClass showcase("demo/Showcase", FixtureDir("showcase"));
    showcase.load();
    const std::vector<std::string> texts = ListAll(showcase, showcase.MethodIndex("classify", "(I)I"));
    EXPECT_EQ(texts[1], "   1 tableswitch 1 to 4: default=44\n      1: 32\n      2: 35\n      3: 38\n      4: 41");
}

} // namespace
