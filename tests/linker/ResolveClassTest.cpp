#include "LinkTestSupport.h"
#include "support/SystemFacts.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using CodeMaker = std::function<ClassFileBuilder::Method(ClassFileBuilder&)>;

// Main's main is made by the row; the minimal library is there, and so is a
// tolve/core/CPU with one native method that the table does not know.
LinkResult LinkMain(const CodeMaker& makeMain, const TempDir& dir)
{
    WriteMinimalLibrary(dir);
    ClassFileBuilder cpu("tolve/core/CPU");
    ClassFileBuilder::Method bogus;
    bogus.accessFlags = afStatic | afNative;
    bogus.name = "bogus";
    bogus.descriptor = "()V";
    bogus.hasCode = false;
    cpu.AddMethod(bogus);
    WriteClass(dir, "tolve/core/CPU", cpu);
    ClassFileBuilder main("Main");
    main.AddMethod(makeMain(main));
    WriteClass(dir, "Main", main);
    return LinkClass(dir.Path(), "Main");
}

CodeMaker Code(std::vector<uint8_t> code)
{
    return [code](ClassFileBuilder&) { return CodeMethod("main", "()V", code, 1); };
}

struct ErrorRow {
    const char* name;
    CodeMaker main;
    std::string printed; // before the error; "<dir>" stands for the class path
    std::string error;
};

// "<dir>/" becomes the directory as the class search spells it.
std::string WithDir(std::string text, const std::string& dir)
{
    const std::string spelled = SystemPath(dir + "/");
    for (size_t at = text.find("<dir>/"); at != std::string::npos; at = text.find("<dir>/", at + spelled.size()))
        text.replace(at, 6, spelled);
    return text;
}

TEST(ResolveClassTest, RejectedCodeAndMissingClasses)
{
    const auto loadsMissing = [](uint8_t opcode) {
        return [opcode](ClassFileBuilder& c) {
            const uint16_t ref = opcode == 0xBB ? c.Class("Missing") : c.Methodref("Missing", "f", "()V");
            return CodeMethod("main", "()V", {opcode, Hi(ref), Lo(ref), 0xB1}, 1);
        };
    };
    // Main also has a static method of these argument words and locals.
    const auto withMethod = [](int argumentWords, uint16_t maxLocals) {
        return [=](ClassFileBuilder& c) {
            c.AddMethod(CodeMethod("wide", "(" + std::string(static_cast<size_t>(argumentWords), 'I') + ")V", {0xB1},
                                   maxLocals));
            return CodeMethod("main", "()V", {0xB1}, 0);
        };
    };
    const auto instanceofClass = [](const char* name) {
        return [name](ClassFileBuilder& c) {
            const uint16_t type = c.Class(name);
            return CodeMethod("main", "()V", {0x01, 0xC1, Hi(type), Lo(type), 0x57, 0xB1}, 1);
        };
    };
    const auto castTo = [](const char* name) {
        return [name](ClassFileBuilder& c) {
            const uint16_t type = c.Class(name);
            return CodeMethod("main", "()V", {0x01, 0xC0, Hi(type), Lo(type), 0x57, 0xB1}, 1);
        };
    };
    const auto loadsText = [](const char* text) {
        return [text](ClassFileBuilder& c) {
            const uint16_t value = c.String(text);
            return CodeMethod("main", "()V", {0x12, Lo(value), 0x57, 0xB1}, 1);
        };
    };
    const std::string arrayTest = "Method Main::main uses `instanceof %s', which the module cannot answer: its arrays "
                                  "keep no element type.\n";
    const auto arrayTestOf = [&](const std::string& type) {
        std::string line = arrayTest;
        return line.replace(line.find("%s"), 2, type);
    };
    const std::string missingPrinted = "[Error JVM-0017] Unable to load class file: `Missing', '<dir>/Missing.class'.\n";
    const ErrorRow rows[] = {
        {"ladd, even where it never runs", Code({0xB1, 0x61, 0xB1}), "", "[Error LNK-0010] Unsupported float or long operation.\n"},
        {"lconst_0", Code({0x09, 0x58, 0xB1}), "", "[Error LNK-0010] Unsupported float or long operation.\n"},
        {"dcmpg", Code({0x0E, 0x0E, 0x98, 0x57, 0xB1}), "", "[Error LNK-0010] Unsupported float or long operation.\n"},
        {"i2l", Code({0x04, 0x85, 0x58, 0xB1}), "", "[Error LNK-0010] Unsupported float or long operation.\n"},
        {"ldc of an int",
         [](ClassFileBuilder& c) {
             const uint16_t value = c.Integer(100000);
             return CodeMethod("main", "()V", {0x12, Lo(value), 0x57, 0xB1}, 1);
         },
         "", "[Error JVM-0029] Method Main::main contains a constant out of range (Integer 100000).\n"},
        {"ldc_w of a float",
         [](ClassFileBuilder& c) {
             const uint16_t value = c.Float(0x3FC00000);
             return CodeMethod("main", "()V", {0x13, Hi(value), Lo(value), 0x57, 0xB1}, 1);
         },
         "", "[Error JVM-0029] Method Main::main contains a constant out of range (Float 1.500000).\n"},
        {"a character above 255 in a text", loadsText("next \xE2\x86\x92 done"), "",
         "[Error JVM-0029] Method Main::main contains a constant out of range (\"next \xE2\x86\x92 done\").\n"},
        {"U+0000 in a text", loadsText("a\xC0\x80"), "",
         "[Error JVM-0029] Method Main::main contains a constant out of range (\"a\xC0\x80\").\n"},
        {"a text cut inside a character", loadsText("a\xC2"), "", "[Error JVM-0020] Java class file corrupt: `Main'.\n"},
        {"a text with a stray continuation byte", loadsText("\xB0"), "",
         "[Error JVM-0020] Java class file corrupt: `Main'.\n"},
        {"a text in four-byte UTF-8", loadsText("\xF0\x9F\x98\x80"), "",
         "[Error JVM-0020] Java class file corrupt: `Main'.\n"},
        {"instanceof int[]", instanceofClass("[I"), arrayTestOf("int[]"), "[Error JVM-0030] Unimplemented bytecode (193).\n"},
        {"instanceof String[]", instanceofClass("[Ljava/lang/String;"), arrayTestOf("java.lang.String[]"),
         "[Error JVM-0030] Unimplemented bytecode (193).\n"},
        {"instanceof boolean[][]", instanceofClass("[[Z"), arrayTestOf("boolean[][]"),
         "[Error JVM-0030] Unimplemented bytecode (193).\n"},
        // The module checks no casts, so a cast to an array type names no class to load.
        {"a cast to int[]", castTo("[I"), "", ""},
        {"invokeinterface",
         [](ClassFileBuilder& c) {
             const uint16_t ref = c.InterfaceMethodref("Greeter", "greet", "()V");
             return CodeMethod("main", "()V", {0x01, 0xB9, Hi(ref), Lo(ref), 0x01, 0x00, 0xB1}, 1);
         },
         "", "[Error JVM-0032] Interfaces are not currently supported.\n"},
        {"a called class that is missing", loadsMissing(0xB8), missingPrinted, "[Error LNK-0003] Unable to load class `Missing'.\n"},
        {"a class made with new that is missing", loadsMissing(0xBB), missingPrinted,
         "[Error LNK-0003] Unable to load class `Missing'.\n"},
        {"a caught class that is missing",
         [](ClassFileBuilder& c) {
             ClassFileBuilder::Method method = CodeMethod("main", "()V", {0x00, 0xB1, 0x57, 0xB1}, 1);
             method.handlers = {{0, 1, 2, c.Class("Missing")}};
             return method;
         },
         missingPrinted, "[Error LNK-0003] Unable to load class `Missing'.\n"},
        {"a native method the module lacks",
         [](ClassFileBuilder& c) {
             const uint16_t ref = c.Methodref("tolve/core/CPU", "bogus", "()V");
             return CodeMethod("main", "()V", {0xB8, Hi(ref), Lo(ref), 0xB1}, 1);
         },
         "", "[Error LNK-0004] Unknown native method `tolve/core/CPU.bogus'.\n"},
        // The slot's counts are bytes: at the limits the link goes through.
        {"63 argument words, 127 further locals", withMethod(63, 63 + 127), "", ""},
        {"64 argument words", withMethod(64, 64), "", "[Error JVM-0010] Too many arguments to function.\n"},
        {"128 further locals", withMethod(2, 2 + 128), "", "[Error JVM-0027] Invalid local variable index.\n"},
        {"fewer locals than arguments", withMethod(2, 1), "", "[Error JVM-0020] Java class file corrupt: `Main'.\n"},
    };
    for (const ErrorRow& row : rows) {
        TempDir dir;
        const LinkResult result = LinkMain(row.main, dir);
        EXPECT_EQ(result.printed, WithDir(row.printed, dir.Path())) << row.name;
        EXPECT_EQ(result.error, row.error) << row.name;
    }
}

// A handler without a catch type names no class; the image gives it the
// exception root.
TEST(ResolveClassTest, CatchAllHandlerLoadsNothing)
{
    TempDir dir;
    const LinkResult result = LinkMain(
        [](ClassFileBuilder&) {
            ClassFileBuilder::Method method = CodeMethod("main", "()V", {0x00, 0xB1, 0x57, 0xB1}, 1);
            method.handlers = {{0, 1, 2, 0}};
            return method;
        },
        dir);
    ASSERT_EQ(result.error, "");
    const CMOXLinker& linker = *result.linker;
    EXPECT_EQ(linker.ClassCount(), 4); // Main, Throwable, Object, OutOfMemoryError
    const int table = linker.ClassAt(0)->CodeOffset(0) + 4;
    EXPECT_EQ(linker.ImageData()[table + 5] * 256 + linker.ImageData()[table + 6],
              linker.ClassOffset(linker.FindClassIndex("java/lang/Throwable")));
}

// `count` distinct strings loaded with ldc_w in main, plus one of them
// again in a second class.
std::string LinkWithStrings(int count)
{
    TempDir dir;
    return LinkMain(
               [count](ClassFileBuilder& c) {
                   std::vector<uint8_t> code;
                   for (int i = 0; i < count; ++i) {
                       const uint16_t s = c.String("s" + std::to_string(i));
                       code.insert(code.end(), {0x13, Hi(s), Lo(s), 0x57});
                   }
                   code.push_back(0xB1);
                   return CodeMethod("main", "()V", code, 1);
               },
               dir)
        .error;
}

// The module keeps one byte per character: what a class file writes in
// modified UTF-8 arrives as characters 1 to 255, ASCII unchanged.
TEST(ResolveClassTest, TextsKeepOneBytePerCharacter)
{
    const struct {
        const char* name;
        std::string stored;
        std::string kept;
    } rows[] = {
        {"ASCII", "Hello, 7!", "Hello, 7!"},
        {"two-byte characters", "\xC2\xB0" "C \xC3\xBF", "\xB0" "C \xFF"},
        {"a control character", "\x01", "\x01"},
        {"a three-byte form of a Latin-1 character", "\xE0\x83\xA9", "\xE9"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        const LinkResult result = LinkMain(
            [&](ClassFileBuilder& c) {
                const uint16_t value = c.String(row.stored);
                return CodeMethod("main", "()V", {0x12, Lo(value), 0x57, 0xB1}, 1);
            },
            dir);
        ASSERT_EQ(result.error, "") << row.name;
        const CMOXLinker& linker = *result.linker;
        ASSERT_EQ(linker.StringCount(), 1) << row.name;
        const int32_t record = linker.StringAt(0).imageOffset;
        const std::vector<uint8_t> image = result.Image();
        const auto length = static_cast<size_t>(image[record + 2] * 256 + image[record + 3]);
        EXPECT_EQ(length, row.kept.size()) << row.name;
        EXPECT_EQ(std::string(image.begin() + record + 10, image.begin() + record + 10 + length), row.kept) << row.name;
    }
}

TEST(ResolveClassTest, StringLimits)
{
    EXPECT_EQ(LinkWithStrings(127), "");
    // The 128th is refused when the strings are placed, a 129th already
    // when the code is read.
    EXPECT_EQ(LinkWithStrings(128), "[Error IDE-0031] Maximum number of strings exceeded (128).\n");
    EXPECT_EQ(LinkWithStrings(129), "[Error IDE-0031] Maximum number of strings exceeded (128).\n");
}

} // namespace
