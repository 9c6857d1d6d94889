#include "ClassFileBuilder.h"
#include "ClassTestSupport.h"

#include "classfile/JavaOpcodes.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

namespace {

std::unique_ptr<CJavaClass> LoadFixture(const std::string& program, const std::string& name)
{
    auto javaClass = std::make_unique<CJavaClass>(name, FixtureDir(program));
    javaClass->load();
    return javaClass;
}

// One method per code snippet, in the order given.
std::unique_ptr<CJavaClass> ClassWithCode(const TempDir& dir, const std::vector<std::vector<uint8_t>>& codes)
{
    ClassFileBuilder b("Code");
    for (size_t i = 0; i < codes.size(); ++i) {
        ClassFileBuilder::Method method;
        method.name = "m" + std::to_string(i);
        method.code = codes[i];
        b.AddMethod(method);
    }
    return LoadBytes(dir, "Code", b.Build());
}

struct LengthCase {
    const char* name;
    std::vector<uint8_t> code;
    uint32_t pc;
    uint32_t expected; // 0: the instruction does not lie inside the code
};

TEST(InstructionLengthTest, EveryInstructionHasItsTrueLength)
{
    const std::vector<uint8_t> pad3 = {0, 0, 0};
    const LengthCase cases[] = {
        {"nop", {0x00}, 0, 1},
        {"bipush", {16, 1}, 0, 2},
        {"sipush", {17, 0, 1}, 0, 3},
        {"ldc", {18, 1}, 0, 2},
        {"ldc2_w", {20, 0, 1}, 0, 3},
        {"iload 4", {21, 4}, 0, 2},
        {"lload 4", {22, 4}, 0, 2},
        {"fload 4", {23, 4}, 0, 2},
        {"dload 4", {24, 4}, 0, 2},
        {"aload 4", {25, 4}, 0, 2},
        {"lstore 4", {55, 4}, 0, 2},
        {"fstore 4", {56, 4}, 0, 2},
        {"dstore 4", {57, 4}, 0, 2},
        {"laload has no operand", {47, 0}, 0, 1},
        {"iinc", {132, 1, 0xFF}, 0, 3},
        {"ifeq", {153, 0, 3}, 0, 3},
        {"jsr", {168, 0, 3}, 0, 3},
        {"ret", {169, 2}, 0, 2},
        {"getstatic", {178, 0, 1}, 0, 3},
        {"invokestatic", {184, 0, 1}, 0, 3},
        {"invokeinterface", {185, 0, 1, 2, 0}, 0, 5},
        {"new", {187, 0, 1}, 0, 3},
        {"newarray", {188, 10}, 0, 2},
        {"checkcast", {192, 0, 1}, 0, 3},
        {"wide iload", {196, 21, 1, 0}, 0, 4},
        {"wide iinc", {196, 132, 1, 0, 0xFF, 0xFF}, 0, 6},
        {"multianewarray", {197, 0, 1, 2}, 0, 4},
        {"ifnonnull", {199, 0, 3}, 0, 3},
        {"goto_w", {200, 0, 0, 0, 5}, 0, 5},
        {"jsr_w", {201, 0, 0, 0, 5}, 0, 5},
        {"unused opcode 186", {186}, 0, 1},
        {"breakpoint", {202}, 0, 1},
        {"opcode 255", {255}, 0, 1},
        {"tableswitch at 0, 0 to 2", Join({{170}, pad3, Be32(28), Be32(0), Be32(2), Be32(1), Be32(2), Be32(3)}), 0, 28},
        {"tableswitch at 1", Join({{0, 170, 0, 0}, Be32(20), Be32(5), Be32(5), Be32(1)}), 1, 19},
        {"tableswitch at 3", Join({{0, 0, 0, 170}, Be32(20), Be32(-1), Be32(0), Be32(1), Be32(2)}), 3, 21},
        {"lookupswitch, 2 pairs", Join({{171}, pad3, Be32(9), Be32(2), Be32(-5), Be32(1), Be32(7), Be32(2)}), 0, 28},
        {"lookupswitch, no pairs", Join({{171}, pad3, Be32(9), Be32(0)}), 0, 12},
        // Instructions that would run past the end of the code.
        {"pc at the end", {0x00}, 1, 0},
        {"sipush cut", {17, 0}, 0, 0},
        {"lload cut", {22}, 0, 0},
        {"invokeinterface cut", {185, 0, 1, 2}, 0, 0},
        {"goto_w cut", {200, 0, 0, 0}, 0, 0},
        {"wide at the end", {196}, 0, 0},
        {"wide iinc cut", {196, 132, 1, 0, 0xFF}, 0, 0},
        {"tableswitch header cut", Join({{170}, pad3, Be32(0), Be32(0)}), 0, 0},
        {"tableswitch offsets cut", Join({{170}, pad3, Be32(0), Be32(0), Be32(2), Be32(1), Be32(2)}), 0, 0},
        {"tableswitch high below low", Join({{170}, pad3, Be32(0), Be32(1), Be32(0)}), 0, 0},
        {"tableswitch whole int range", Join({{170}, pad3, Be32(0), Be32(INT_MIN), Be32(INT_MAX)}), 0, 0},
        {"lookupswitch negative count", Join({{171}, pad3, Be32(0), Be32(-1)}), 0, 0},
        {"lookupswitch pairs cut", Join({{171}, pad3, Be32(0), Be32(2), Be32(1), Be32(2), Be32(3)}), 0, 0},
        {"lookupswitch huge count", Join({{171}, pad3, Be32(0), Be32(INT_MAX)}), 0, 0},
    };
    for (const LengthCase& c : cases)
        EXPECT_EQ(JavaInstructionLength(c.code.data(), static_cast<uint32_t>(c.code.size()), c.pc), c.expected) << c.name;
}

TEST(InstructionLengthTest, ScansRaiseJvm23InsteadOfLeavingTheCode)
{
    TempDir dir;
    const std::vector<std::vector<uint8_t>> codes = {
        {17, 0},                                           // sipush cut
        Join({{170, 0, 0, 0}, Be32(0), Be32(0), Be32(9)}), // table of 10 offsets missing
        Join({{171, 0, 0, 0}, Be32(0), Be32(-7)}),         // negative pair count
        {0x00, 196},                                       // wide at the end
    };
    std::unique_ptr<CJavaClass> javaClass = ClassWithCode(dir, codes);
    const std::string outOfRange = "[Error JVM-0023] Code index out of range.\n";
    for (int m = 0; m < javaClass->MethodCount(); ++m) {
        EXPECT_EQ(ErrorOf([&] {
                      uint32_t pc = 0;
                      while (pc < javaClass->CodeLength(m))
                          javaClass->NextInstruction(m, pc);
                  }),
                  outOfRange)
            << "method " << m;
        EXPECT_EQ(ErrorOf([&] { javaClass->InstructionLength(m, javaClass->CodeLength(m)); }), outOfRange) << m;
    }
    uint32_t pc = 2;
    EXPECT_EQ(ErrorOf([&] { javaClass->NextInstruction(3, pc); }), outOfRange);
    EXPECT_EQ(pc, 2u) << "a failed scan does not move";
}

TEST(InstructionLengthTest, ScanOfMixedCodeStaysInStep)
{
    TempDir dir;
    // Every operand byte below is an opcode of some other length, so a scan
    // that sized any of these instructions wrongly would land elsewhere.
    const std::vector<uint8_t> code = Join({
        {196, 132, 0x10, 0x11, 0x11, 0xAA}, // 0 wide iinc
        {185, 0x10, 0x11, 0x02, 0x00},      // 6 invokeinterface
        {197, 0x10, 0x11, 0x02},            // 11 multianewarray
        {22, 0x11},                         // 15 lload
        {57, 0x10},                         // 17 dstore
        {200, 0, 0, 0, 0x05},               // 19 goto_w
        {170},                              // 24 tableswitch, table at 28
        {0, 0, 0},
        Be32(3), Be32(1), Be32(2), Be32(1), Be32(2), // default, low, high, two offsets
        {201, 0x11, 0x11, 0x11, 0x11},      // 48 jsr_w
        {0xB1},                             // 53 return
    });
    std::unique_ptr<CJavaClass> javaClass = ClassWithCode(dir, {code});
    std::vector<uint32_t> starts;
    for (uint32_t pc = 0; pc < javaClass->CodeLength(0);) {
        starts.push_back(pc);
        javaClass->NextInstruction(0, pc);
    }
    EXPECT_EQ(starts, (std::vector<uint32_t>{0, 6, 11, 15, 17, 19, 24, 48, 53}));
}

struct ParameterCase {
    const char* descriptor;
    int staticCount;
    int instanceCount;
};

TEST(ClassModelTest, ParameterCountCountsArgumentWords)
{
    const ParameterCase cases[] = {
        {"(I[JLjava/lang/String;)V", 3, 4},
        {"()V", 0, 1},
        {"(JD)J", 4, 5},
        {"(BCFSZ)V", 5, 6},
        {"([[Ljava/lang/Object;[I[[D)V", 3, 4},
        {"(Ljava/lang/String;I)Ljava/lang/String;", 2, 3},
        {"(II", 2, 2}, // no ")": the count so far, without a receiver
    };
    TempDir dir;
    ClassFileBuilder b("Params");
    for (const ParameterCase& c : cases) {
        for (bool isStatic : {true, false}) {
            ClassFileBuilder::Method method;
            method.accessFlags = isStatic ? afStatic : 0;
            method.descriptor = c.descriptor;
            b.AddMethod(method);
        }
    }
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "Params", b.Build());
    int m = 0;
    for (const ParameterCase& c : cases) {
        EXPECT_EQ(javaClass->ParameterCount(m++), c.staticCount) << c.descriptor << " static";
        EXPECT_EQ(javaClass->ParameterCount(m++), c.instanceCount) << c.descriptor << " instance";
    }
}

TEST(ClassModelTest, ParameterCountRejectsUnknownTypes)
{
    const struct {
        const char* descriptor;
        char bad;
    } cases[] = {{"(Q)V", 'Q'}, {"(I[V)V", 'V'}, {"([[X)V", 'X'}, {"(I;)V", ';'}};
    TempDir dir;
    ClassFileBuilder b("Params");
    for (const auto& c : cases) {
        ClassFileBuilder::Method method;
        method.name = "walk";
        method.descriptor = c.descriptor;
        b.AddMethod(method);
    }
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "Params", b.Build());
    for (int m = 0; m < javaClass->MethodCount(); ++m)
        EXPECT_EQ(ErrorOf([&] { javaClass->ParameterCount(m); }),
                  std::string("[Error JVM-0022] Unknown parameter (`") + cases[m].bad +
                      "') in definition of method `walk'.\n")
            << cases[m].descriptor;
}

TEST(ClassModelTest, SourceFileNameComesFromTheFilePath)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(FixtureDir("renamed") + "/Original.class");
    TempDir dir;
    const struct {
        const char* requested;
        std::string expected;
    } cases[] = {
        {"Plain", dir.Path() + "/Plain.java"},
        {"Outer$Inner", dir.Path() + "/Outer.java"},
        {"Outer$Inner$Deep", dir.Path() + "/Outer$Inner.java"},
        {"pay$day/Main", dir.Path() + "/pay$day/Main.java"}, // a '$' in a directory is no nesting
        {"pay$day/Box$Item", dir.Path() + "/pay$day/Box.java"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, c.requested, bytes);
        EXPECT_EQ(javaClass->SourceFileName(), SystemPath(c.expected)) << c.requested;
        EXPECT_EQ(javaClass->SourceFileName(), SystemPath(c.expected)) << c.requested << ", asked again";
    }
    CJavaClass unloaded("Main", dir.Path());
    EXPECT_EQ(unloaded.SourceFileName(), "");
}

// safeDivide's lines, sorted by line: 63@0 64@11 65@12 66@17 66@23 67@24
// 68@21 68@32 (javap shows them by pc).
TEST(ClassModelTest, LineOfPcTakesTheGreatestStartNotAbove)
{
    std::unique_ptr<CJavaClass> showcase = LoadFixture("showcase", "demo/Showcase");
    const int m = showcase->MethodIndex("safeDivide", "(II)I");
    ASSERT_EQ(showcase->Method(m).lineNumbers.size(), 8u);
    const struct {
        int64_t pc;
        int line;
    } cases[] = {{0, 63}, {10, 63}, {11, 64}, {12, 65}, {20, 66}, {21, 68}, {22, 68},
                 {23, 66}, {24, 67}, {31, 67}, {32, 68}, {33, 68}, {9999, 68}};
    for (const auto& c : cases)
        EXPECT_EQ(showcase->LineOfPc(m, c.pc), c.line) << "pc " << c.pc;

    showcase->SetCodeOffset(m, 300);
    EXPECT_EQ(showcase->CodeOffset(m), 300);
    EXPECT_EQ(showcase->LineOfPc(m, 300 + 24), 67);
    EXPECT_EQ(showcase->LineOfPc(m, 299), 68) << "before the first entry: the greatest line";
}

TEST(ClassModelTest, LineOfPcEdgeCases)
{
    TempDir dir;
    ClassFileBuilder b("app/Lines");
    ClassFileBuilder::Method tied;
    tied.code = std::vector<uint8_t>(8, 0x00);
    tied.lines = {{4, 21}, {0, 7}, {4, 20}};
    b.AddMethod(tied);
    ClassFileBuilder::Method bare;
    bare.name = "bare";
    b.AddMethod(bare);
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Lines", b.Build());
    EXPECT_EQ(javaClass->LineOfPc(0, 5), 20) << "equal start pc: the smaller line wins";
    EXPECT_EQ(javaClass->LineOfPc(0, 3), 7);
    EXPECT_EQ(ErrorOf([&] { javaClass->LineOfPc(1, 0); }),
              "[Error JVM-0026] No line number info in class file `app.Lines'.\n");
}

TEST(ClassModelTest, ShiftLineNumbersLeavesPcZero)
{
    std::unique_ptr<CJavaClass> showcase = LoadFixture("showcase", "demo/Showcase");
    const int m = showcase->MethodIndex("safeDivide", "(II)I");
    const std::vector<LineNumberEntry> before = showcase->Method(m).lineNumbers;
    showcase->ShiftLineNumbers(m, 9);
    const std::vector<LineNumberEntry>& after = showcase->Method(m).lineNumbers;
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) {
        EXPECT_EQ(after[k].lineNumber, before[k].lineNumber);
        EXPECT_EQ(after[k].startPc, before[k].startPc == 0 ? 0 : before[k].startPc + 9) << k;
    }
    EXPECT_EQ(showcase->LineOfPc(m, 5), 63) << "the prologue belongs to the first line";
    EXPECT_EQ(showcase->LineOfPc(m, 20), 64);
    EXPECT_EQ(ErrorOf([&] { showcase->ShiftLineNumbers(m, 70000); }), "[Error JVM-0023] Code index out of range.\n");
    EXPECT_EQ(showcase->Method(m).lineNumbers[1].startPc, after[1].startPc) << "a refused shift changes nothing";
}

TEST(ClassModelTest, CompiledClassModel)
{
    std::unique_ptr<CJavaClass> showcase = LoadFixture("showcase", "demo/Showcase");
    EXPECT_EQ(showcase->ThisClassName(), "demo/Showcase");
    EXPECT_EQ(showcase->SuperClassName(), "java/lang/Object");
    EXPECT_EQ(showcase->InterfaceCount(), 0);
    // Final static String and array fields are not constants and take slots.
    EXPECT_EQ(showcase->FieldSlot(showcase->FieldIndex("PRIMES")), 1);
    EXPECT_EQ(showcase->FieldSlot(showcase->FieldIndex("shapes")), 3);
    // A final instance field is stored by the constructor, so it keeps a slot.
    EXPECT_FALSE(showcase->FieldIsConstant(showcase->FieldIndex("start")));
    EXPECT_TRUE(showcase->FieldIsConstant(showcase->FieldIndex("LIMIT")));
    EXPECT_EQ(showcase->FieldSlot(showcase->FieldIndex("tally")), 2);
    EXPECT_EQ(showcase->InstanceFieldCount(), 3);
    const FieldInfo& limit = showcase->Field(showcase->FieldIndex("LIMIT"));
    EXPECT_EQ(showcase->ConstantText(limit.constantValueIndex), "Integer 100000");

    const int safeDivide = showcase->MethodIndex("safeDivide", "(II)I");
    ASSERT_EQ(showcase->ExceptionCount(safeDivide), 3);
    const ExceptionEntry first = showcase->ExceptionAt(safeDivide, 0);
    EXPECT_EQ(first.startPc, 0);
    EXPECT_EQ(first.endPc, 8);
    EXPECT_EQ(first.handlerPc, 11);
    EXPECT_EQ(first.catchClassName, "java/lang/ArithmeticException");
    EXPECT_EQ(showcase->ExceptionAt(safeDivide, 1).catchClassName, "") << "finally catches everything";
    EXPECT_TRUE(showcase->MethodIsStatic(safeDivide));
    EXPECT_FALSE(showcase->MethodIsStatic(showcase->MethodIndex("count", "(I)V")));

    std::unique_ptr<CJavaClass> tally = LoadFixture("showcase", "demo/Showcase$Tally");
    EXPECT_EQ(tally->DottedName(), "demo.Showcase$Tally");
    EXPECT_EQ(tally->InstanceFieldCount(), 2) << "count and the final reference to the outer object";

    CJavaClass object("java/lang/Object", LibraryDir());
    object.load();
    EXPECT_FALSE(object.HasSuperClass());
    EXPECT_EQ(object.SuperClassName(), "");

    CJavaClass cpu("tolve/core/CPU", LibraryDir());
    cpu.load();
    const int delay = cpu.MethodIndex("delay", "(I)V");
    EXPECT_TRUE(cpu.MethodIsNative(delay));
    EXPECT_EQ(cpu.CodeLength(delay), 0u);
    EXPECT_EQ(cpu.ParameterCount(delay), 1);
}

TEST(ClassModelTest, ConstantQueriesFollowTheReferences)
{
    TempDir dir;
    ClassFileBuilder b("app/Main");
    const uint16_t field = b.Fieldref("app/Other", "count", "I");
    const uint16_t method = b.Methodref("app/Other", "run", "(I)V");
    const uint16_t text = b.String("hello");
    const uint16_t number = b.Integer(-3);
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b.Build());
    EXPECT_EQ(javaClass->RefClassName(field), "app/Other");
    EXPECT_EQ(javaClass->RefName(field), "count");
    EXPECT_EQ(javaClass->RefDescriptor(field), "I");
    EXPECT_EQ(javaClass->ClassNameOf(javaClass->RefClassIndex(method)), "app/Other");
    EXPECT_EQ(javaClass->Utf8Text(javaClass->RefNameIndex(method)), "run");
    EXPECT_EQ(javaClass->Utf8Text(javaClass->RefDescriptorIndex(method)), "(I)V");
    EXPECT_EQ(javaClass->StringText(text), "hello");
    EXPECT_EQ(javaClass->Utf8Text(javaClass->StringIndex(text)), "hello");
    EXPECT_TRUE(javaClass->IsStringConstant(text));
    EXPECT_FALSE(javaClass->IsStringConstant(number));
    EXPECT_FALSE(javaClass->IsStringConstant(0));
    EXPECT_FALSE(javaClass->IsStringConstant(-1));
    EXPECT_FALSE(javaClass->IsStringConstant(javaClass->ConstantPoolCount()));
}

TEST(ClassModelTest, LookupsByName)
{
    TempDir dir;
    ClassFileBuilder b("app/Main");
    b.AddField({.name = "x", .descriptor = "I"});
    b.AddField({.name = "y", .descriptor = "I"});
    for (const char* descriptor : {"()V", "(I)V", "()V"}) {
        ClassFileBuilder::Method method;
        method.descriptor = descriptor;
        b.AddMethod(method);
    }
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b.Build());
    EXPECT_EQ(javaClass->MethodIndex("run", "()V"), 0) << "the first of equal methods";
    EXPECT_EQ(javaClass->MethodIndex("run", "(I)V"), 1);
    EXPECT_EQ(javaClass->FieldIndex("y"), 1);
    EXPECT_EQ(ErrorOf([&] { javaClass->MethodIndex("run", "(J)V"); }), "[Error JVM-0014] No method found for `run'.\n");
    EXPECT_EQ(ErrorOf([&] { javaClass->FieldIndex("z"); }), "[Error JVM-0014] No method found for `z'.\n");
}

TEST(ClassModelTest, LinkerTableLookupsSearchFromTheLastEntry)
{
    TempDir dir;
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", ClassFileBuilder("app/Main").Build());
    CJavaClass* self = javaClass.get();
    std::vector<MethodTableEntry> methods = {
        {"app/Base", "run", "()V", 0, 0, self, 0},
        {"app/Base", "stop", "()V", 0, 0, self, 1},
        {"app/Main", "run", "()V", 0, 0, self, 2},
    };
    std::vector<FieldTableEntry> fields = {
        {"app/Base", "x", "I", 0, 0, 1},
        {"app/Base", "big", "J", 1, 1, 2},
        {"app/Main", "x", "I", 0, 3, 1},
    };
    EXPECT_FALSE(javaClass->TablesBuilt());
    javaClass->SetTables(fields, methods);
    EXPECT_TRUE(javaClass->TablesBuilt());
    for (int k = 0; k < javaClass->MethodTableCount(); ++k) {
        javaClass->SetMethodTableImageOffset(k, static_cast<uint16_t>(23 + 7 * k));
        javaClass->SetMethodTableClassOffset(k, static_cast<uint16_t>(3 + 7 * k));
    }
    EXPECT_EQ(javaClass->MethodTableIndex("run", "()V"), 2);
    EXPECT_EQ(javaClass->MethodTableImageOffset("run", "()V"), 37);
    EXPECT_EQ(javaClass->MethodTableClassOffset("stop", "()V"), 10);
    EXPECT_EQ(javaClass->MethodTableMethodIndex(1), 1);
    EXPECT_EQ(javaClass->MethodTableDefiningClass(2), self);
    EXPECT_EQ(javaClass->FieldTableWordOffset("app/Main", "x", "I"), 3);
    EXPECT_EQ(javaClass->FieldTableWordOffset("app/Main", "big", "J"), 1);
    EXPECT_EQ(ErrorOf([&] { javaClass->MethodTableIndex("run", "(I)V"); }),
              "[Error JVM-0031] Cannot find linked method (app/Main.run).\n");
    EXPECT_EQ(ErrorOf([&] { javaClass->FieldTableWordOffset("app/Other", "x", "J"); }),
              "[Error JVM-0028] Cannot find linked field (app/Other.x).\n");
}

struct QueryCase {
    const char* name;
    std::function<void(CJavaClass&)> query;
    std::string expected;
};

// Indexes from the class file raise JVM 20, code positions JVM 23, and the
// linker's own indexes an internal error; none reads outside the class.
TEST(ClassModelTest, EveryQueryChecksItsIndex)
{
    TempDir dir;
    ClassFileBuilder b("app/Main");
    const uint16_t number = b.Integer(1);
    const uint16_t utf8 = b.Utf8("text");
    const uint16_t wide = b.Long(0, 1);
    b.AddField({.name = "x", .descriptor = "I"});
    b.AddMethod({});
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b.Build());
    const std::string corrupt = CorruptLine("app/Main");
    const std::string codeRange = "[Error JVM-0023] Code index out of range.\n";
    const std::string internal = "[Error IDE-0048] Internal error.\n";
    const int count = javaClass->ConstantPoolCount();
    const QueryCase cases[] = {
        {"Utf8 at 0", [](CJavaClass& c) { c.Utf8Text(0); }, corrupt},
        {"Utf8 past the pool", [=](CJavaClass& c) { c.Utf8Text(count); }, corrupt},
        {"Utf8 at -1", [](CJavaClass& c) { c.Utf8Text(-1); }, corrupt},
        {"Utf8 of an Integer", [=](CJavaClass& c) { c.Utf8Text(number); }, corrupt},
        {"class name of a Utf8", [=](CJavaClass& c) { c.ClassNameOf(utf8); }, corrupt},
        {"ref of an Integer", [=](CJavaClass& c) { c.RefName(number); }, corrupt},
        {"string of a Utf8", [=](CJavaClass& c) { c.StringText(utf8); }, corrupt},
        {"second slot of a Long", [=](CJavaClass& c) { c.ConstantText(wide + 1); }, corrupt},
        {"constant text past the pool", [=](CJavaClass& c) { c.ConstantText(70000); }, corrupt},
        {"field -1", [](CJavaClass& c) { c.FieldName(-1); }, internal},
        {"field 1", [](CJavaClass& c) { c.SetFieldSlot(1, 0); }, internal},
        {"method 1", [](CJavaClass& c) { c.MethodName(1); }, internal},
        {"code offset of method 5", [](CJavaClass& c) { c.SetCodeOffset(5, 0); }, internal},
        {"handler 0 of a method without", [](CJavaClass& c) { c.ExceptionAt(0, 0); }, internal},
        {"method table entry 0 of none", [](CJavaClass& c) { c.MethodTableDefiningClass(0); }, internal},
        {"method table offset of none", [](CJavaClass& c) { c.SetMethodTableImageOffset(0, 1); }, internal},
        {"code byte at the length", [](CJavaClass& c) { c.CodeByte(0, 1); }, codeRange},
        {"code word over the end", [](CJavaClass& c) { c.CodeWord(0, 0); }, codeRange},
        {"listing past the code", [](CJavaClass& c) {
             std::string text;
             c.ListInstruction(0, 1, text);
         },
         codeRange},
        {"code byte inside", [](CJavaClass& c) { EXPECT_EQ(c.CodeByte(0, 0), 0xB1); }, ""},
    };
    for (const QueryCase& c : cases)
        EXPECT_EQ(ErrorOf([&] { c.query(*javaClass); }), c.expected) << c.name;
}

} // namespace
