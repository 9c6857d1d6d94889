#include "LinkTestSupport.h"

#include "errors/EError.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

std::vector<std::string> ClassNames(const CMOXLinker& linker)
{
    std::vector<std::string> names;
    for (int i = 0; i < linker.ClassCount(); ++i)
        names.push_back(linker.ClassAt(i)->ThisClassName());
    return names;
}

// Only the linking pass, so that classes the output pass would refuse can
// still be looked at.
std::string RunLinkingPass(CMOXLinker& linker, const TempDir& dir, const std::string& name)
{
    try {
        linker.SetClassPath(dir.Path());
        linker.FindOrLoadClass(name);
        linker.LinkingPass();
    } catch (const EError& error) {
        return error.Message();
    }
    return "";
}

// A class with nothing but a static method `name` ()V with this code.
void WriteClassWithMethod(const TempDir& dir, const std::string& className, const std::string& super,
                          const std::function<std::vector<uint8_t>(ClassFileBuilder&)>& code,
                          const std::string& method = "main")
{
    ClassFileBuilder builder(className, super);
    builder.AddMethod(CodeMethod(method, "()V", code(builder), 1));
    WriteClass(dir, className, builder);
}

TEST(LinkingPassTest, ClassesJoinInTheOrderTheCodeFirstNamesThem)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    const uint16_t getB = main.Fieldref("B", "x", "I");
    const uint16_t newC = main.Class("C");
    const uint16_t callD = main.Methodref("D", "f", "()V");
    const uint16_t putE = main.Fieldref("E", "y", "I");
    const uint16_t castG = main.Class("G");
    const uint16_t catchF = main.Class("F");
    ClassFileBuilder::Method method = CodeMethod("main", "()V",
                                                 {0xB2, Hi(getB), Lo(getB), 0xB3, Hi(putE), Lo(putE),  // 0, 3
                                                  0xBB, Hi(newC), Lo(newC), 0xC0, Hi(castG), Lo(castG), // 6, 9
                                                  0xB8, Hi(callD), Lo(callD), 0xB1, 0x57, 0xB1},         // 12, 15
                                                 1);
    method.handlers = {{0, 15, 16, catchF}, {0, 15, 17, 0}};
    main.AddMethod(method);
    WriteClass(dir, "Main", main);
    ClassFileBuilder b("B");
    b.AddField({afStatic, "x", "I"});
    WriteClass(dir, "B", b);
    WriteClass(dir, "C", ClassFileBuilder("C"));
    WriteClassWithMethod(dir, "D", "java/lang/Object", [](ClassFileBuilder&) { return std::vector<uint8_t>{0xB1}; }, "f");
    WriteClass(dir, "F", ClassFileBuilder("F", "java/lang/Throwable"));
    // E and G exist but nothing loads them: put and cast name no class.
    WriteClass(dir, "E", ClassFileBuilder("E"));
    WriteClass(dir, "G", ClassFileBuilder("G"));

    CMOXLinker linker;
    ASSERT_EQ(RunLinkingPass(linker, dir, "Main"), "");
    // Object comes in as a super class, OutOfMemoryError for the header.
    EXPECT_EQ(ClassNames(linker), (std::vector<std::string>{"Main", "java/lang/Throwable", "B", "C", "D", "F",
                                                           "java/lang/Object", "java/lang/OutOfMemoryError"}));
    for (int i = 0; i < linker.ClassCount(); ++i)
        EXPECT_TRUE(linker.Resolved(i)) << linker.ClassAt(i)->ThisClassName();
}

// The output pass names such a class when it writes the putstatic; it then
// has no place in the layout, and the image cannot be completed.
TEST(LinkingPassTest, AClassNamedOnlyByPutstaticHasNoPlaceInTheImage)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    WriteClassWithMethod(dir, "Main", "java/lang/Object", [](ClassFileBuilder& c) {
        const uint16_t put = c.Fieldref("E", "y", "I");
        return std::vector<uint8_t>{0x03, 0xB3, Hi(put), Lo(put), 0xB1};
    });
    ClassFileBuilder e("E");
    e.AddField({afStatic, "y", "I"});
    e.AddMethod(CodeMethod("f", "()V", {0xB1}, 0));
    WriteClass(dir, "E", e);
    EXPECT_EQ(LinkClass(dir.Path(), "Main").error, "[Error IDE-0027] Binary too long.\n");
}

TEST(LinkingPassTest, SuperClassesNoCodeNamesAreLinkedLikeTheRest)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    WriteClassWithMethod(dir, "Main", "Mid", [](ClassFileBuilder&) { return std::vector<uint8_t>{0xB1}; });
    WriteClass(dir, "Mid", ClassFileBuilder("Mid", "Base"));
    ClassFileBuilder base("Base");
    base.AddField({afStatic, "count", "I"});
    const uint16_t text = base.String("base");
    base.AddMethod(CodeMethod("name", "()V", {0x12, Lo(text), 0x57, 0xB1}, 1));
    WriteClass(dir, "Base", base);

    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    const CMOXLinker& linker = *result.linker;
    // One sweep over the list takes each missing super class in turn,
    // those of classes it has just added included.
    EXPECT_EQ(ClassNames(linker), (std::vector<std::string>{"Main", "java/lang/Throwable", "Mid", "java/lang/Object",
                                                           "Base", "java/lang/OutOfMemoryError", "java/lang/String"}));
    EXPECT_EQ(linker.StaticFieldCount(), 1);
    ASSERT_EQ(linker.StringCount(), 1);
    EXPECT_EQ(linker.StringAt(0).text, "base");
    EXPECT_EQ(linker.ImageData()[3], 2);
}

TEST(LinkingPassTest, SuperClassesThatNameEachOtherAreRefused)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    WriteClassWithMethod(dir, "Main", "A", [](ClassFileBuilder&) { return std::vector<uint8_t>{0xB1}; });
    WriteClass(dir, "A", ClassFileBuilder("A", "B"));
    WriteClass(dir, "B", ClassFileBuilder("B", "A"));
    EXPECT_EQ(LinkClass(dir.Path(), "Main").error, "[Error JVM-0020] Java class file corrupt: `A'.\n");
}

// Main with `count` static int fields, and one more class with two.
std::string LinkWithStatics(int count, bool finalWithoutValue = false)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    for (int i = 0; i < count; ++i)
        main.AddField({afStatic, "s" + std::to_string(i), "I"});
    // Constants have no slot...
    main.AddField({afStatic | afFinal, "LIMIT", "I", main.Integer(5)});
    // ...but a final field a static initializer assigns needs one.
    if (finalWithoutValue)
        main.AddField({afStatic | afFinal, "computed", "I"});
    main.AddMethod(CodeMethod("main", "()V", {0xB1}, 0));
    WriteClass(dir, "Main", main);
    const LinkResult result = LinkClass(dir.Path(), "Main");
    return result.error.empty() ? "statics " + std::to_string(result.linker->ImageData()[3] / 2) : result.error;
}

TEST(LinkingPassTest, StaticFieldLimits)
{
    const struct {
        const char* name;
        int count;
        bool finalWithoutValue;
        std::string outcome;
    } rows[] = {
        {"none", 0, false, "statics 0"},
        {"127 fit", 127, false, "statics 127"},
        {"a 128th is told as exceeding 127", 128, false,
         "[Error IDE-0041] Maximum number of static fields exceeded (127).\n"},
        {"a 129th stops the numbering", 129, false, "[Error LNK-0007] Too many static fields.\n"},
        {"a final static without a value has a slot", 1, true, "statics 2"},
        {"and counts against the limit", 127, true,
         "[Error IDE-0041] Maximum number of static fields exceeded (127).\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LinkWithStatics(row.count, row.finalWithoutValue), row.outcome) << row.name;
}

TEST(LinkingPassTest, StaticFieldSlotsRunAcrossClassesInListOrder)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    main.AddField({afStatic, "a", "I"});
    main.AddField({0, "instance", "I"});
    main.AddField({afStatic, "b", "[I"});
    const uint16_t other = main.Fieldref("Other", "c", "I");
    main.AddMethod(CodeMethod("main", "()V", {0xB2, Hi(other), Lo(other), 0x57, 0xB1}, 0));
    WriteClass(dir, "Main", main);
    ClassFileBuilder o("Other");
    o.AddField({afStatic, "d", "I"});
    o.AddField({afStatic, "c", "I"});
    WriteClass(dir, "Other", o);

    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    const CMOXLinker& linker = *result.linker;
    ASSERT_EQ(linker.StaticFieldCount(), 4);
    const CJavaClass* mainClass = linker.ClassAt(0);
    const CJavaClass* otherClass = linker.ClassAt(2);
    EXPECT_EQ(mainClass->FieldSlot(0), 0);
    EXPECT_EQ(mainClass->FieldSlot(2), 1);
    EXPECT_EQ(otherClass->FieldSlot(0), 2);
    EXPECT_EQ(otherClass->FieldSlot(1), 3);
    EXPECT_EQ(linker.StaticFieldAt(3).owner, otherClass);
    EXPECT_EQ(linker.StaticFieldAt(3).fieldIndex, 1);
    // getstatic Other.c: slot 3, times two.
    const int code = mainClass->CodeOffset(0);
    EXPECT_EQ(std::vector<uint8_t>(linker.ImageData() + code, linker.ImageData() + code + 3),
              (std::vector<uint8_t>{0x26, 0x00, 0x06}));
}

// Main, A and B have static initializers; main's line entries move by 9.
TEST(LinkingPassTest, StaticInitializersAreListedAndMainsLinesMove)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    const uint16_t a = main.Methodref("A", "f", "()V");
    const uint16_t b = main.Methodref("B", "f", "()V");
    ClassFileBuilder::Method mainMethod =
        CodeMethod("main", "()V", {0xB8, Hi(a), Lo(a), 0xB8, Hi(b), Lo(b), 0xB1}, 0);
    mainMethod.lines = {{0, 5}, {3, 6}, {6, 7}};
    main.AddMethod(CodeMethod("<clinit>", "()V", {0xB1}, 0));
    main.AddMethod(mainMethod);
    WriteClass(dir, "Main", main);
    for (const char* name : {"A", "B"}) {
        ClassFileBuilder c(name);
        c.AddMethod(CodeMethod("f", "()V", {0xB1}, 0));
        c.AddMethod(CodeMethod("<clinit>", "()V", {0xB1}, 0));
        WriteClass(dir, name, c);
    }

    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    const CMOXLinker& linker = *result.linker;
    EXPECT_EQ(linker.ClinitCount(), 3);
    // Main @20 [main @23, <clinit> @30]; Throwable @37 (10); A @47 [f, <clinit> @57]; B @64 [f, <clinit> @74].
    // Main names A and B, so theirs run first.
    EXPECT_EQ(linker.ClinitList(), (std::vector<int32_t>{57, 74, 30}));
    ASSERT_EQ(linker.EntryClass(), linker.ClassAt(0));
    const std::vector<LineNumberEntry>& lines = linker.EntryClass()->Method(linker.EntryMethod()).lineNumbers;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].startPc, 0);
    EXPECT_EQ(lines[1].startPc, 12);
    EXPECT_EQ(lines[2].startPc, 15);
}

// A class for the initializer order: name, super class ("" for Object), the
// classes whose static f()V it calls (the closure lists them in that order),
// Class entries its pool holds before those calls, and whether it has a
// static initializer. The first class is Main.
struct OrderClass {
    std::string name, super;
    std::vector<std::string> calls, poolFirst;
    bool initializer;
};

TEST(LinkingPassTest, StaticInitializersRunAfterThoseOfTheClassesTheyName)
{
    const struct {
        const char* name;
        std::vector<OrderClass> classes;
        std::vector<std::string> order; // whose initializers the prologue calls
    } rows[] = {
        {"a class used by an earlier one goes first",
         {{"Main", "", {"A", "B"}, {}, false}, {"A", "", {"B"}, {}, true}, {"B", "", {}, {}, true}}, {"B", "A"}},
        {"in a cycle the class reached first goes last",
         {{"Main", "", {"A"}, {}, true}, {"A", "", {"B"}, {}, true}, {"B", "", {"A"}, {}, true}}, {"B", "A", "Main"}},
        {"the super class goes first",
         {{"Main", "", {"Sub"}, {}, false}, {"Sub", "Base", {}, {}, true}, {"Base", "", {}, {}, true}}, {"Base", "Sub"}},
        {"named classes in list order, not pool order",
         {{"Main", "", {"A", "B"}, {"B", "A"}, true}, {"A", "", {}, {}, true}, {"B", "", {}, {}, true}}, {"A", "B", "Main"}},
        {"a Class entry of no linked class is passed over",
         {{"Main", "", {"A"}, {"[LB;", "Nowhere"}, true}, {"A", "", {}, {}, true}}, {"A", "Main"}},
    };
    for (const auto& row : rows) {
        TempDir dir;
        WriteMinimalLibrary(dir);
        for (const OrderClass& c : row.classes) {
            ClassFileBuilder builder(c.name, c.super.empty() ? "java/lang/Object" : c.super);
            for (const std::string& named : c.poolFirst)
                builder.Class(named);
            std::vector<uint8_t> code;
            for (const std::string& callee : c.calls) {
                const uint16_t ref = builder.Methodref(callee, "f", "()V");
                code.insert(code.end(), {0xB8, Hi(ref), Lo(ref)});
            }
            code.push_back(0xB1);
            builder.AddMethod(CodeMethod(c.name == "Main" ? "main" : "f", "()V", code, 0));
            if (c.initializer)
                builder.AddMethod(CodeMethod("<clinit>", "()V", {0xB1}, 0));
            WriteClass(dir, c.name, builder);
        }
        const LinkResult result = LinkClass(dir.Path(), "Main");
        ASSERT_EQ(result.error, "") << row.name;
        std::vector<std::string> order;
        for (int32_t slot : result.linker->ClinitList())
            for (int i = 0; i < result.linker->ClassCount(); ++i)
                for (const MethodTableEntry& entry : result.linker->ClassAt(i)->MethodTable())
                    if (entry.imageOffset == slot && entry.methodName == "<clinit>")
                        order.push_back(result.linker->ClassAt(i)->ThisClassName());
        EXPECT_EQ(order, row.order) << row.name;
    }
}

struct MainRow {
    const char* name;
    std::function<void(const TempDir&)> write;
    std::string error;
    std::string entryClass; // the class whose main's lines were moved
};

TEST(LinkingPassTest, ChoiceOfMain)
{
    const auto returnOnly = [](ClassFileBuilder&) { return std::vector<uint8_t>{0xB1}; };
    const auto callsOther = [](ClassFileBuilder& c) {
        const uint16_t f = c.Methodref("Other", "f", "()V");
        return std::vector<uint8_t>{0xB8, Hi(f), Lo(f), 0xB1};
    };
    const auto otherWithMain = [=](const TempDir& dir) {
        ClassFileBuilder other("Other");
        other.AddMethod(CodeMethod("f", "()V", {0xB1}, 0));
        other.AddMethod(CodeMethod("main", "()V", {0xB1}, 0));
        WriteClass(dir, "Other", other);
    };
    const MainRow rows[] = {
        {"the named class's own main", [&](const TempDir& dir) {
             WriteClassWithMethod(dir, "Main", "java/lang/Object", callsOther);
             otherWithMain(dir);
         }, "", "Main"},
        {"main with a string array is not main", [&](const TempDir& dir) {
             ClassFileBuilder main("Main");
             main.AddMethod(CodeMethod("main", "([Ljava/lang/String;)V", {0xB1}, 1));
             WriteClass(dir, "Main", main);
         }, "[Error LNK-0002] No suitable 'main' method found.\n", ""},
        {"a main elsewhere is chosen, but the header wants the named class's", [&](const TempDir& dir) {
             WriteClassWithMethod(dir, "Main", "java/lang/Object", callsOther, "run");
             otherWithMain(dir);
         }, "[Error JVM-0031] Cannot find linked method (Main.main).\n", "Other"},
        {"an instance main", [&](const TempDir& dir) {
             ClassFileBuilder main("Main");
             main.AddMethod(CodeMethod("main", "()V", {0xB1}, 1, false));
             WriteClass(dir, "Main", main);
         }, "[Error LNK-0002] No suitable 'main' method found.\n", "Main"},
        {"main inherited from the super class", [&](const TempDir& dir) {
             WriteClass(dir, "Main", ClassFileBuilder("Main", "Base"));
             WriteClassWithMethod(dir, "Base", "java/lang/Object", returnOnly);
         }, "", "Base"},
    };
    for (const MainRow& row : rows) {
        TempDir dir;
        WriteMinimalLibrary(dir);
        row.write(dir);
        const LinkResult result = LinkClass(dir.Path(), "Main");
        EXPECT_EQ(result.error, row.error) << row.name;
        const CJavaClass* entry = result.linker->EntryClass();
        EXPECT_EQ(entry ? entry->ThisClassName() : "", row.entryClass) << row.name;
    }
}

// The header points at main's slot in the named class's own record, even
// when the code is its super class's.
TEST(LinkingPassTest, InheritedMainIsCalledThroughTheNamedClassRecord)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    WriteClass(dir, "Main", ClassFileBuilder("Main", "Base"));
    WriteClassWithMethod(dir, "Base", "java/lang/Object", [](ClassFileBuilder&) { return std::vector<uint8_t>{0xB1}; });
    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    const std::vector<uint8_t> image = result.Image();
    EXPECT_EQ(image[4] * 256 + image[5], 23); // Main @20, its only slot
    EXPECT_EQ(result.linker->ClassAt(0)->MethodTable()[0].definingClass->ThisClassName(), "Base");
}

} // namespace
