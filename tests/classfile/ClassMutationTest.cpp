#include "ClassFileBuilder.h"
#include "ClassTestSupport.h"

#include "classfile/JavaOpcodes.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Runs one query; a catalogue error is a fine answer to a corrupt class.
template <class Query>
void Try(Query&& query)
{
    try {
        query();
    } catch (const EError&) {
    }
}

bool HasConstantIndex16(int opcode)
{
    return opcode == opLdcW || opcode == opLdc2W || (opcode >= opGetstatic && opcode <= opInvokeinterface) ||
           opcode == opNew || opcode == opAnewarray || opcode == opCheckcast || opcode == opInstanceof ||
           opcode == opMultianewarray;
}

// Every query of the model on every index it exposes (and one past each
// end), and the code read as the linker reads it: walked instruction by
// instruction with each constant operand followed to its texts.
void ScanEverything(CJavaClass& c)
{
    for (int i = -1; i <= c.ConstantPoolCount(); ++i) {
        Try([&] { c.ConstantTag(i); });
        Try([&] { c.ConstantText(i); });
        Try([&] { c.ConstantText(i, 8); });
        Try([&] { c.Utf8Text(i); });
        Try([&] { c.ClassNameOf(i); });
        Try([&] { c.RefClassName(i); });
        Try([&] { c.RefName(i); });
        Try([&] { c.RefDescriptor(i); });
        Try([&] { c.StringText(i); });
        c.IsStringConstant(i);
    }
    Try([&] { c.ThisClassName(); });
    Try([&] { c.SuperClassName(); });
    c.SourceFileName();
    for (int i = 0; i <= c.FieldCount(); ++i) {
        Try([&] { c.FieldIndex(c.FieldName(i)); });
        Try([&] { c.FieldDescriptor(i); });
        Try([&] { c.FieldSlot(i); });
        Try([&] { c.FieldIsStatic(i); });
        Try([&] { c.FieldIsConstant(i); });
        Try([&] { c.FieldSize(i); });
    }
    Try([&] { c.InstanceFieldCount(); });
    for (int m = 0; m <= c.MethodCount(); ++m) {
        Try([&] { c.MethodIndex(c.MethodName(m), c.MethodDescriptor(m)); });
        Try([&] { c.ParameterCount(m); });
        Try([&] { c.MethodIsStatic(m); });
        Try([&] { c.MethodIsNative(m); });
        Try([&] {
            uint32_t pc = 0;
            while (pc < c.CodeLength(m)) {
                const uint32_t at = pc;
                const int opcode = c.NextInstruction(m, pc);
                if (opcode == opLdc)
                    Try([&] { c.ConstantText(c.CodeByte(m, at + 1)); });
                if (HasConstantIndex16(opcode)) {
                    const int index = c.CodeWord(m, at + 1);
                    Try([&] { c.ConstantText(index); });
                    Try([&] { c.RefClassName(index); });
                    Try([&] { c.ClassNameOf(index); });
                }
            }
        });
        Try([&] {
            std::string text;
            for (uint32_t pc = 0; pc <= c.CodeLength(m); ++pc)
                Try([&] { c.ListInstruction(m, pc, text); });
        });
        Try([&] {
            for (int k = 0; k <= c.ExceptionCount(m); ++k)
                Try([&] { c.ExceptionAt(m, k); });
        });
        Try([&] {
            for (int64_t pc : {int64_t{-1}, int64_t{0}, int64_t{c.CodeLength(m)}})
                Try([&] { c.LineOfPc(m, pc); });
        });
        Try([&] { c.ShiftLineNumbers(m, 3); });
    }
}

struct Source {
    std::string name;
    std::vector<uint8_t> bytes;
    size_t end; // mutations after the methods would never be read
};

// A few thousand single-byte changes of real class files, from a fixed seed:
// each load either succeeds or raises a reader error, and a class that loads
// answers every query without reading outside what it holds (the sanitizer
// run makes that last part a real check).
TEST(ClassMutationTest, MutatedClassFilesLoadOrRaiseACatalogueError)
{
    std::vector<Source> sources;
    for (const char* name : {"java/lang/String", "java/lang/Throwable", "java/io/PrintStream", "tolve/core/CPU"})
        sources.push_back({name, ReadFileBytes(LibraryDir() + "/" + name + ".class"), 0});
    for (const char* name : {"demo/Showcase", "demo/Circle", "demo/Showcase$Tally"})
        sources.push_back({name, ReadFileBytes(FixtureDir("showcase") + "/" + name + ".class"), 0});
    sources.push_back({"Wide", ReadFileBytes(FixtureDir("widetypes") + "/Wide.class"), 0});
    sources.push_back({"Caller", ReadFileBytes(FixtureDir("iface") + "/Caller.class"), 0});
    for (Source& source : sources) {
        ASSERT_FALSE(source.bytes.empty()) << source.name;
        source.end = EndOfMethods(source.bytes);
    }

    const int openBefore = OpenFileCount();
    std::mt19937 random(20240601);
    const uint8_t edges[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    constexpr int kMutations = 4000;
    int loaded = 0;
    int refused = 0;
    TempDir dir;
    for (int n = 0; n < kMutations; ++n) {
        const Source& source = sources[random() % sources.size()];
        std::vector<uint8_t> bytes = source.bytes;
        const size_t offset = random() % source.end;
        // Half the changes put a boundary value (a count or length at its
        // extreme), half flip random bits.
        const uint8_t value = random() % 2 ? edges[random() % std::size(edges)]
                                           : static_cast<uint8_t>(bytes[offset] ^ (1 + random() % 255));
        if (value == bytes[offset])
            continue;
        bytes[offset] = value;
        std::unique_ptr<CJavaClass> javaClass;
        try {
            javaClass = LoadBytes(dir, source.name, bytes);
        } catch (const EError& error) {
            const bool readerError = error.Is(ecJVM, 18) || error.Is(ecJVM, 19) || error.Is(ecJVM, 20) ||
                                     error.Is(ecJVM, 21) || error.Is(ecJVM, 32) || error.Is(ecSYS, 30);
            ASSERT_TRUE(readerError) << source.name << " byte " << offset << " = " << int{value} << ": "
                                     << error.Message();
            ++refused;
            continue;
        }
        ScanEverything(*javaClass);
        ++loaded;
    }
    EXPECT_GT(loaded, kMutations / 10);
    EXPECT_GT(refused, kMutations / 10);
    EXPECT_EQ(OpenFileCount(), openBefore);
}

} // namespace
