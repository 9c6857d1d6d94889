#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using CodeMaker = std::function<std::vector<uint8_t>(ClassFileBuilder&)>;

int CountRequested(const CMOXLinker& linker, const std::string& name)
{
    int count = 0;
    for (int i = 0; i < linker.ClassCount(); ++i)
        count += linker.ClassAt(i)->RequestedName() == name ? 1 : 0;
    return count;
}

// Other declares its own name; Renamed.class declares Original, so the
// class list never answers the name Renamed.
void WriteReferencedClasses(const TempDir& dir)
{
    WriteMinimalLibrary(dir);
    for (const char* file : {"Other", "Renamed"}) {
        ClassFileBuilder b(file == std::string("Other") ? "Other" : "Original");
        b.AddField({afStatic, "x", "I"});
        b.AddMethod(CodeMethod("f", "()V", {0xB1}, 0));
        WriteClass(dir, file, b);
    }
}

struct ReferenceRow {
    const char* name;
    CodeMaker main;
    int others;   // copies of Other in the list after Main is resolved
    int renamed;  // copies of Renamed
};

// A name the list answers is looked up once however often the code uses
// it; a name it does not answer is looked up, and its file loaded, at
// every use, through whichever constant the use goes.
TEST(RepeatedReferenceTest, OnlyNamesTheListAnswersAreLookedUpOnce)
{
    const auto call = [](ClassFileBuilder& b, const char* owner) {
        const uint16_t f = b.Methodref(owner, "f", "()V");
        return std::vector<uint8_t>{0xB8, Hi(f), Lo(f)};
    };
    const auto read = [](ClassFileBuilder& b, const char* owner) {
        const uint16_t x = b.Fieldref(owner, "x", "I");
        return std::vector<uint8_t>{0xB2, Hi(x), Lo(x), 0x57};
    };
    const auto make = [](ClassFileBuilder& b, const char* owner) {
        const uint16_t c = b.Class(owner);
        return std::vector<uint8_t>{0xBB, Hi(c), Lo(c), 0x57};
    };
    const auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> code;
        for (const std::vector<uint8_t>& part : parts)
            code.insert(code.end(), part.begin(), part.end());
        code.push_back(0xB1);
        return code;
    };
    const ReferenceRow rows[] = {
        {"one call", [&](ClassFileBuilder& b) { return join({call(b, "Other")}); }, 1, 0},
        {"one reference used three times",
         [&](ClassFileBuilder& b) {
             const std::vector<uint8_t> once = call(b, "Other");
             return join({once, once, once});
         },
         1, 0},
        {"new, a field and a method of one class",
         [&](ClassFileBuilder& b) { return join({make(b, "Other"), read(b, "Other"), call(b, "Other")}); }, 1, 0},
        {"a renamed file's reference used twice",
         [&](ClassFileBuilder& b) {
             const std::vector<uint8_t> once = call(b, "Renamed");
             return join({once, once});
         },
         0, 2},
        {"new, a field and a method of a renamed file",
         [&](ClassFileBuilder& b) { return join({make(b, "Renamed"), read(b, "Renamed"), call(b, "Renamed")}); }, 0, 3},
        {"both, interleaved",
         [&](ClassFileBuilder& b) {
             const std::vector<uint8_t> other = call(b, "Other");
             const std::vector<uint8_t> renamed = read(b, "Renamed");
             return join({other, renamed, other, renamed, make(b, "Other")});
         },
         1, 2},
    };
    for (const ReferenceRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        WriteReferencedClasses(dir);
        ClassFileBuilder main("Main");
        main.AddMethod(CodeMethod("main", "()V", row.main(main), 1));
        WriteClass(dir, "Main", main);

        CMOXLinker linker;
        linker.SetClassPath(dir.Path());
        linker.ResolveClass(linker.FindOrLoadClass("Main"));
        EXPECT_EQ(CountRequested(linker, "Other"), row.others);
        EXPECT_EQ(CountRequested(linker, "Renamed"), row.renamed);
    }
}

struct ProgramRow {
    const char* name;
    std::string program; // fixture folder
    std::string main;
};

// The layout builds the string list from the ldc constants the linking
// pass noted for each class; a class resolved some other way is scanned
// again. Both give one list: same texts, same first users, same numbers.
TEST(RepeatedReferenceTest, NotedAndScannedStringsMakeTheSameList)
{
    const ProgramRow rows[] = {
        {"linkdemo", "linkdemo", "Main"},
        {"showcase", "showcase", "demo/Showcase"},
        {"strings", "differential", "StringWork"},
        {"handlers", "differential", "Handlers"},
    };
    for (const ProgramRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string classPath = std::string(MORVANE_LIB_DIR) + ";" + MORVANE_FIXTURE_DIR + "/" + row.program;
        const LinkResult noted = LinkClass(classPath, row.main);
        ASSERT_EQ(noted.error, "");
        const CMOXLinker& a = *noted.linker;
        ASSERT_GT(a.StringCount(), 0);

        // The same class list, resolved class by class, so nothing is noted.
        CMOXLinker b;
        b.SetClassPath(classPath);
        for (int i = 0; i < a.ClassCount(); ++i)
            b.FindOrLoadClass(a.ClassAt(i)->RequestedName());
        ASSERT_EQ(b.ClassCount(), a.ClassCount());
        for (int i = 0; i < b.ClassCount(); ++i)
            b.ResolveClass(b.ClassAt(i));
        for (int i = 0; i < b.ClassCount(); ++i)
            b.BuildTables(b.ClassAt(i));
        b.ComputeOffsets();

        ASSERT_EQ(b.StringCount(), a.StringCount());
        for (int s = 0; s < a.StringCount(); ++s) {
            EXPECT_EQ(b.StringAt(s).text, a.StringAt(s).text) << s;
            EXPECT_EQ(b.StringAt(s).javaClass->ThisClassName(), a.StringAt(s).javaClass->ThisClassName()) << s;
            EXPECT_EQ(b.StringAt(s).constantIndex, a.StringAt(s).constantIndex) << s;
            EXPECT_EQ(b.StringAt(s).ordinal, s);
            EXPECT_EQ(b.StringNumberOf(a.StringAt(s).text), s);
        }
        for (int i = 0; i < a.ClassCount(); ++i)
            EXPECT_EQ(b.ClassStringBytes(i), a.ClassStringBytes(i)) << a.ClassAt(i)->ThisClassName();
    }
}

} // namespace
