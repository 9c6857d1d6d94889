#include "ClassFileBuilder.h"
#include "ClassTestSupport.h"

#include "driver/RunSettings.h"
#include "support/ConsoleCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

// A small, complete class: a constant, a field, a method with a handler and
// line numbers, as the rows below start from.
ClassFileBuilder GoodClass(const std::string& name = "app/Main")
{
    ClassFileBuilder b(name);
    ClassFileBuilder::Field count{.accessFlags = afStatic, .name = "count", .descriptor = "I"};
    b.AddField(count);
    ClassFileBuilder::Method run;
    run.code = {0x03, 0xAC, 0x57, 0x03, 0xAC}; // iconst_0 ireturn pop iconst_0 ireturn
    run.descriptor = "()I";
    run.handlers = {{0, 2, 2, b.Class("java/lang/Throwable")}};
    run.lines = {{0, 5}, {2, 6}};
    b.AddMethod(run);
    return b;
}

struct TraceGuard {
    TraceGuard() { Settings().TraceClassReader = true; }
    ~TraceGuard() { Settings().TraceClassReader = false; }
};

struct ErrorCase {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    std::string expected;
};

TEST(ClassReaderTest, EachFormatErrorGivesItsCatalogueLine)
{
    const auto patched = [](size_t offset, uint8_t value) {
        return [=] {
            std::vector<uint8_t> bytes = GoodClass().Build();
            bytes[offset] = value;
            return bytes;
        };
    };
    const auto version = [](uint16_t major, uint16_t minor) {
        return [=] {
            ClassFileBuilder b = GoodClass();
            b.majorVersion = major;
            b.minorVersion = minor;
            return b.Build();
        };
    };
    const std::string unsupported = "[Error JVM-0019] Cannot read Java class file: `app/Main'. Version not supported.\n";
    const ErrorCase cases[] = {
        {"wrong magic", patched(3, 0xBF), "[Error JVM-0018] File does not contain a Java class: `app/Main'.\n"},
        {"empty file", [] { return std::vector<uint8_t>{}; }, CorruptLine("app/Main")},
        {"version 46.0", version(46, 0), unsupported},
        {"version 45.4", version(45, 4), unsupported},
        {"version 44.3", version(44, 3), unsupported},
        {"version 45.0", version(45, 0), ""},
        {"version 45.1", version(45, 1), ""},
        {"version 45.2", version(45, 2), ""},
        // Offset 10 holds the tag of constant 1.
        {"tag 2", patched(10, 2), "[Error JVM-0021] Unknown tag (2) in java class file: `app/Main'.\n"},
        {"tag 0", patched(10, 0), "[Error JVM-0021] Unknown tag (0) in java class file: `app/Main'.\n"},
        {"tag 13", patched(10, 13), "[Error JVM-0021] Unknown tag (13) in java class file: `app/Main'.\n"},
        {"cut in the constant pool", [] {
             std::vector<uint8_t> bytes = GoodClass().Build();
             bytes.resize(14);
             return bytes;
         },
         CorruptLine("app/Main")},
        {"an interface", [] {
             ClassFileBuilder b = GoodClass();
             b.AddInterface("app/Runnable");
             return b.Build();
         },
         "[Error JVM-0032] Interfaces are not currently supported.\n"},
    };
    for (const ErrorCase& c : cases) {
        TempDir dir;
        std::unique_ptr<CJavaClass> javaClass;
        EXPECT_EQ(ErrorOf([&] { javaClass = LoadBytes(dir, "app/Main", c.bytes()); }), c.expected) << c.name;
    }
}

TEST(ClassReaderTest, FailedLoadLeavesTheClassEmpty)
{
    TempDir dir;
    std::vector<uint8_t> bytes = GoodClass().Build();
    bytes.resize(bytes.size() - 20);
    dir.Write("app/Main.class", bytes);
    CJavaClass javaClass("app/Main", dir.Path());
    EXPECT_EQ(ErrorOf([&] { javaClass.load(); }), CorruptLine("app/Main"));
    EXPECT_FALSE(javaClass.IsLoaded());
    EXPECT_EQ(javaClass.ConstantPoolCount(), 0);
    EXPECT_EQ(javaClass.MethodCount(), 0);
    EXPECT_EQ(javaClass.FilePath(), "");
    EXPECT_EQ(javaClass.SourceFileName(), "");
}

// Every prefix of a real class file that ends before the methods do is
// corrupt; from there on the rest (class attributes) is never read.
TEST(ClassReaderTest, TruncationAtEveryOffsetRaisesJvm20AndLeaksNothing)
{
    const struct {
        const char* program;
        const char* name;
    } files[] = {{"showcase", "demo/Showcase"}, {"widetypes", "Wide"}};
    const int openBefore = OpenFileCount();
    for (const auto& file : files) {
        const std::vector<uint8_t> whole = ReadFileBytes(FixtureDir(file.program) + "/" + file.name + ".class");
        ASSERT_GT(whole.size(), 100u) << file.name;
        const size_t end = EndOfMethods(whole);
        TempDir dir;
        for (size_t cut = 0; cut < whole.size(); ++cut) {
            const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            const std::string error = ErrorOf([&] { LoadBytes(dir, file.name, prefix); });
            if (cut < end)
                ASSERT_EQ(error, CorruptLine(file.name)) << file.name << " cut at " << cut;
            else
                ASSERT_EQ(error, "") << file.name << " cut at " << cut;
        }
    }
    EXPECT_EQ(OpenFileCount(), openBefore);
}

TEST(ClassReaderTest, LongOrDoubleAsTheLastConstantEndsThePool)
{
    for (uint8_t tag : {ctLong, ctDouble}) {
        TempDir dir;
        ClassFileBuilder b = GoodClass();
        const uint16_t last = tag == ctLong ? b.Long(1, 0xFFFFFFFF) : b.Double(0x3FF00000, 0);
        std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "app/Main", b.Build());
        ASSERT_EQ(javaClass->ConstantPoolCount(), last + 2) << int{tag};
        EXPECT_EQ(javaClass->ConstantTag(last), tag);
        EXPECT_EQ(javaClass->ConstantTag(last + 1), ctUnused);
        EXPECT_EQ(javaClass->Constant(last).lowWord, tag == ctLong ? 0xFFFFFFFFu : 0u);
        EXPECT_EQ(javaClass->MethodName(0), "run"); // what follows the pool is still read in step
    }
}

TEST(ClassReaderTest, FloatConstantKeepsItsBitPattern)
{
    CJavaClass wide("Wide", FixtureDir("widetypes"));
    wide.load();
    const FieldInfo& one = wide.Field(wide.FieldIndex("ONE"));
    ASSERT_NE(one.constantValueIndex, 0);
    EXPECT_EQ(wide.ConstantTag(one.constantValueIndex), ctFloat);
    EXPECT_EQ(wide.Constant(one.constantValueIndex).firstValue, 0x3F800000u);
    const FieldInfo& big = wide.Field(wide.FieldIndex("BIG"));
    EXPECT_EQ(wide.Constant(big.constantValueIndex).firstValue, 0x100u); // 2^40: high word 256
    EXPECT_EQ(wide.Constant(big.constantValueIndex).lowWord, 0u);
}

TEST(ClassReaderTest, LineNumbersAreSortedByLine)
{
    TempDir dir;
    ClassFileBuilder b("Lines");
    ClassFileBuilder::Method run;
    run.code = {0x00, 0x00, 0x00, 0x00, 0x00, 0xB1};
    run.lines = {{0, 30}, {2, 10}, {4, 20}, {5, 40}, {1, 10}};
    b.AddMethod(run);
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "Lines", b.Build());
    const std::vector<LineNumberEntry>& lines = javaClass->Method(0).lineNumbers;
    ASSERT_EQ(lines.size(), 5u);
    std::vector<int> order;
    for (const LineNumberEntry& line : lines)
        order.push_back(line.lineNumber);
    EXPECT_EQ(order, (std::vector<int>{10, 10, 20, 30, 40}));
    EXPECT_EQ(lines[2].startPc, 4);
    EXPECT_EQ(lines[3].startPc, 0);
    EXPECT_EQ(std::min(lines[0].startPc, lines[1].startPc), 1);
    EXPECT_EQ(std::max(lines[0].startPc, lines[1].startPc), 2);
}

TEST(ClassReaderTest, UnknownAttributesAreSkippedByTheirLength)
{
    TempDir dir;
    ClassFileBuilder b("Skips");
    const std::vector<uint8_t> junk = {0xCA, 0xFE, 0x00, 0xFF, 0x01};
    ClassFileBuilder::Field field{.accessFlags = afStatic | afFinal, .name = "LIMIT", .descriptor = "I",
                                  .constantValue = b.Integer(7), .extraAttributes = {{"Synthetic", junk}}};
    b.AddField(field);
    ClassFileBuilder::Method run;
    run.code = {0x10, 0x07, 0xAC};
    run.descriptor = "()I";
    run.extraAttributes = {{"Deprecated", junk}};
    run.extraCodeAttributes = {{"StackMap", junk}, {"Empty", {}}};
    run.lines = {{0, 12}};
    b.AddMethod(run);
    // The class attributes run past the end of the file: they are never read.
    b.AddClassAttribute({"", std::vector<uint8_t>(40, 0xEE)});
    std::vector<uint8_t> bytes = b.Build();
    bytes.resize(bytes.size() - 30);

    std::unique_ptr<CJavaClass> javaClass;
    {
        TraceGuard trace;
        ConsoleCapture console;
        javaClass = LoadBytes(dir, "Skips", bytes);
        const std::string text = console.Text();
        EXPECT_NE(text.find("[Debug] ClassLoader: skipping unknown attribute `Synthetic'\n"), std::string::npos) << text;
        EXPECT_NE(text.find("[Debug] ClassLoader: skipping unknown attribute `Deprecated'\n"), std::string::npos) << text;
        EXPECT_NE(text.find("[Debug] ClassLoader: skipping unknown Code attribute `StackMap' of length 5\n"), std::string::npos)
            << text;
        EXPECT_NE(text.find("[Debug] ClassLoader: skipping unknown Code attribute `Empty' of length 0\n"), std::string::npos)
            << text;
    }
    EXPECT_EQ(javaClass->Constant(javaClass->Field(0).constantValueIndex).firstValue, 7u);
    EXPECT_EQ(javaClass->Method(0).code, (std::vector<uint8_t>{0x10, 0x07, 0xAC}));
    ASSERT_EQ(javaClass->Method(0).lineNumbers.size(), 1u);
    EXPECT_EQ(javaClass->Method(0).lineNumbers[0].lineNumber, 12);
}

TEST(ClassReaderTest, TraceLinesFollowTheParse)
{
    TempDir dir;
    ClassFileBuilder empty("Empty");
    ClassFileBuilder one("One");
    one.AddField({.name = "count", .descriptor = "I"});
    ClassFileBuilder::Method run;
    run.extraCodeAttributes = {{"StackMap", {1, 2, 3}}};
    one.AddMethod(run);
    const struct {
        const char* name;
        ClassFileBuilder& builder;
        std::string expected;
    } cases[] = {
        {"Empty", empty,
         "[Debug] ClassLoader: Loading class file `Empty'\n"
         "[Debug] ClassLoader: Trying file `" + SystemPath(dir.Path() + "/Empty.class") + "'\n"
         "[Debug] ClassLoader: class file version 45.3\n"
         "[Debug] ClassLoader: 5 entries in constant pool\n"
         "[Debug] ClassLoader: 0 interfaces\n"
         "[Debug] ClassLoader: 0 methods\n"
         "[Debug] ClassLoader: ignoring any class attributes\n"},
        {"One", one,
         "[Debug] ClassLoader: Loading class file `One'\n"
         "[Debug] ClassLoader: Trying file `" + SystemPath(dir.Path() + "/One.class") + "'\n"
         "[Debug] ClassLoader: class file version 45.3\n"
         "[Debug] ClassLoader: 11 entries in constant pool\n"
         "[Debug] ClassLoader: 0 interfaces\n"
         "[Debug] ClassLoader: 1 fields\n"
         "[Debug] ClassLoader: field: `count' of type I\n"
         "[Debug] ClassLoader: 1 methods\n"
         "[Debug] ClassLoader: method: `run' of type ()V\n"
         "[Debug] ClassLoader: skipping unknown Code attribute `StackMap' of length 3\n"
         "[Debug] ClassLoader: ignoring any class attributes\n"},
    };
    for (const auto& c : cases) {
        TraceGuard trace;
        ConsoleCapture console;
        LoadBytes(dir, c.name, c.builder.Build());
        EXPECT_EQ(console.Text(), c.expected) << c.name;
    }
    ConsoleCapture quiet;
    LoadBytes(dir, "One", one.Build());
    EXPECT_EQ(quiet.Text(), "") << "tracing is off by default";
}

TEST(ClassReaderTest, OnlyValuedStaticFinalsAreConstants)
{
    TempDir dir;
    ClassFileBuilder b("Slots");
    const uint16_t seven = b.Integer(7);
    const struct {
        uint16_t flags;
        const char* name;
        const char* descriptor;
        std::optional<uint16_t> constant;
    } fields[] = {
        {afStatic, "a", "I", {}},
        {0, "b", "I", {}},
        {afFinal, "c", "I", seven},
        {afFinal | afStatic, "d", "I", {}},
        {afFinal, "e", "Ljava/lang/Object;", {}},
        {afFinal | afStatic, "f", "[I", {}},
        {afFinal, "g", "J", {}},
        {afStatic, "h", "Ljava/lang/String;", {}},
        {0, "i", "D", {}},
        {afFinal | afStatic, "j", "I", seven},
        {afFinal | afStatic, "k", "Ljava/lang/String;", seven},
    };
    for (const auto& f : fields)
        b.AddField({.accessFlags = f.flags, .name = f.name, .descriptor = f.descriptor, .constantValue = f.constant});
    std::unique_ptr<CJavaClass> javaClass = LoadBytes(dir, "Slots", b.Build());

    const struct {
        const char* name;
        bool constant;
        bool isStatic;
        int slot;
        int size;
    } expected[] = {
        // Only a static final of a primitive type with a value is a constant:
        // a final instance field is stored by its constructor and a static
        // final without a value by the static initializer.
        {"a", false, true, 0, 1},  {"b", false, false, 0, 1}, {"c", false, false, 1, 1},
        {"d", false, true, 1, 1},  {"e", false, false, 2, 1}, {"f", false, true, 2, 1},
        {"g", false, false, 3, 2}, {"h", false, true, 3, 1},  {"i", false, false, 4, 2},
        {"j", true, true, 0, 1},   {"k", false, true, 4, 1},
    };
    for (const auto& e : expected) {
        const int i = javaClass->FieldIndex(e.name);
        EXPECT_EQ(javaClass->FieldIsConstant(i), e.constant) << e.name;
        EXPECT_EQ(javaClass->FieldIsStatic(i), e.isStatic) << e.name;
        EXPECT_EQ(javaClass->FieldSize(i), e.size) << e.name;
        if (!e.constant) {
            EXPECT_EQ(javaClass->FieldSlot(i), e.slot) << e.name;
        }
    }
    EXPECT_EQ(javaClass->InstanceFieldCount(), 5);
    EXPECT_EQ(javaClass->Field(javaClass->FieldIndex("c")).constantValueIndex, seven);
}

struct CorruptCase {
    const char* name;
    std::function<void(ClassFileBuilder&, ClassFileBuilder::Method&, ClassFileBuilder::Field&)> change;
};

// A well-formed class with one change each; every change breaks an index or
// a range that some query relies on.
TEST(ClassReaderTest, BadIndexesAndRangesRejectTheClass)
{
    using B = ClassFileBuilder;
    using M = ClassFileBuilder::Method;
    using F = ClassFileBuilder::Field;
    const CorruptCase cases[] = {
        {"well-formed", [](B&, M&, F&) {}},
        {"this class names a Utf8", [](B& b, M&, F&) { b.thisClass = b.Utf8("app/Bad"); }},
        {"this class beyond the pool", [](B& b, M&, F&) { b.thisClass = 999; }},
        {"this class is 0", [](B& b, M&, F&) { b.thisClass = 0; }},
        {"super class names a String", [](B& b, M&, F&) { b.superClass = b.String("x"); }},
        {"Class names an Integer", [](B& b, M&, F&) { b.RawEntry(ctClass, {b.Integer(3)}); }},
        {"String names a Class", [](B& b, M&, F&) { b.RawEntry(ctString, {b.thisClass}); }},
        {"String names the slot after a Long",
         [](B& b, M&, F&) { b.RawEntry(ctString, {static_cast<uint16_t>(b.Long(0, 1) + 1)}); }},
        {"Fieldref class names a Utf8",
         [](B& b, M&, F&) { b.RawEntry(ctFieldref, {b.Utf8("x"), b.NameAndType("f", "I")}); }},
        {"Methodref names a Class as its NameAndType",
         [](B& b, M&, F&) { b.RawEntry(ctMethodref, {b.thisClass, b.thisClass}); }},
        {"InterfaceMethodref beyond the pool",
         [](B& b, M&, F&) { b.RawEntry(ctInterfaceMethodref, {b.thisClass, 4000}); }},
        {"NameAndType descriptor names an Integer",
         [](B& b, M&, F&) { b.RawEntry(ctNameAndType, {b.Utf8("x"), b.Integer(1)}); }},
        {"NameAndType name is 0", [](B& b, M&, F&) { b.RawEntry(ctNameAndType, {0, b.Utf8("I")}); }},
        {"ConstantValue names a Class", [](B& b, M&, F& f) { f.constantValue = b.thisClass; }},
        {"ConstantValue beyond the pool", [](B&, M&, F& f) { f.constantValue = 999; }},
        {"field name names a Class", [](B& b, M&, F& f) { f.nameIndex = b.thisClass; }},
        {"field descriptor empty", [](B&, M&, F& f) { f.descriptor = ""; }},
        {"method name names an Integer", [](B& b, M& m, F&) { m.nameIndex = b.Integer(0); }},
        {"method descriptor without parenthesis", [](B&, M& m, F&) { m.descriptor = "V"; }},
        {"catch type names a Utf8", [](B& b, M& m, F&) { m.handlers[0].catchType = b.Utf8("x"); }},
        {"handler end beyond the code", [](B&, M& m, F&) { m.handlers[0].endPc = 6; }},
        {"handler range empty", [](B&, M& m, F&) { m.handlers[0].endPc = m.handlers[0].startPc; }},
        {"handler pc beyond the code", [](B&, M& m, F&) { m.handlers[0].handlerPc = 5; }},
        {"line starts at the code length", [](B&, M& m, F&) { m.lines.push_back({5, 9}); }},
        {"local variable runs past the code",
         [](B& b, M& m, F&) { m.locals = {{1, 5, b.Utf8("x"), b.Utf8("I"), 0}}; }},
        {"local variable name names a Class",
         [](B& b, M& m, F&) { m.locals = {{0, 5, b.thisClass, b.Utf8("I"), 0}}; }},
        {"declared exception names a Utf8", [](B& b, M& m, F&) { m.declaredExceptions = {b.Utf8("x")}; }},
    };
    for (const CorruptCase& c : cases) {
        ClassFileBuilder b("app/Bad");
        F field{.accessFlags = afStatic | afFinal, .name = "LIMIT", .descriptor = "I", .constantValue = b.Integer(9)};
        M method;
        method.descriptor = "()I";
        method.code = {0x03, 0xAC, 0x57, 0x03, 0xAC};
        method.handlers = {{0, 2, 2, b.Class("java/lang/Throwable")}};
        method.lines = {{0, 1}, {2, 2}};
        method.locals = {{0, 5, b.Utf8("x"), b.Utf8("I"), 0}};
        method.declaredExceptions = {b.Class("java/lang/Exception")};
        c.change(b, method, field);
        b.AddField(field);
        b.AddMethod(method);
        TempDir dir;
        const std::string expected = std::string(c.name) == "well-formed" ? "" : CorruptLine("app/Bad");
        EXPECT_EQ(ErrorOf([&] { LoadBytes(dir, "app/Bad", b.Build()); }), expected) << c.name;
    }
}

TEST(ClassReaderTest, ImplementingAnInterfaceIsRejected)
{
    const struct {
        const char* name;
        std::string expected;
    } cases[] = {
        {"Polite", "[Error JVM-0032] Interfaces are not currently supported.\n"},
        {"Greeter", ""}, // an interface itself extends nothing
        {"Caller", ""},  // calling through one is the linker's concern
    };
    for (const auto& c : cases) {
        CJavaClass javaClass(c.name, FixtureDir("iface"));
        EXPECT_EQ(ErrorOf([&] { javaClass.load(); }), c.expected) << c.name;
    }
}

// Every class of our library and of the fixtures is read without error, is
// the class it was asked for, and its code can be walked instruction by
// instruction to exactly its end.
TEST(ClassReaderTest, EveryLibraryAndFixtureClassLoads)
{
    // Fixtures that exist to be refused.
    const std::vector<std::string> refused = {"iface/Polite"};
    std::vector<std::pair<std::string, std::string>> roots = {{"", LibraryDir()}};
    for (const char* program : {"showcase", "iface", "widetypes", "renamed"})
        roots.push_back({std::string(program) + "/", FixtureDir(program)});
    int loaded = 0;
    for (const auto& [prefix, root] : roots) {
        for (const std::string& name : ClassNamesUnder(root)) {
            CJavaClass javaClass(name, root);
            const std::string error = ErrorOf([&] { javaClass.load(); });
            if (std::find(refused.begin(), refused.end(), prefix + name) != refused.end()) {
                EXPECT_NE(error, "") << prefix << name;
                continue;
            }
            ASSERT_EQ(error, "") << prefix << name;
            EXPECT_EQ(javaClass.ThisClassName(), name);
            for (int m = 0; m < javaClass.MethodCount(); ++m) {
                uint32_t pc = 0;
                while (pc < javaClass.CodeLength(m))
                    javaClass.NextInstruction(m, pc);
                EXPECT_EQ(pc, javaClass.CodeLength(m)) << name << "." << javaClass.MethodName(m);
                javaClass.ParameterCount(m);
            }
            ++loaded;
        }
    }
    EXPECT_GE(loaded, 35);
}

} // namespace
