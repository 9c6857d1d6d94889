#include "LinkTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Base { int a; int b; static int s; final int K = 3; <init>, f, g, s, <clinit> }
// Sub extends Base { int d; long c; g (override), h, <init> }
// Leaf extends Sub { int e; }
// Main { main: new Sub, invokevirtual Base.g, new Leaf }
class TablesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteMinimalLibrary(dir_);
        ClassFileBuilder base("Base");
        base.AddField({0, "a", "I"});
        base.AddField({0, "b", "I"});
        base.AddField({afStatic, "s", "I"});
        base.AddField({afFinal, "K", "I", base.Integer(3)});
        base.AddMethod(CodeMethod("<init>", "()V", {0xB1}, 1, false));
        base.AddMethod(CodeMethod("f", "()I", {0x03, 0xAC}, 1, false));
        base.AddMethod(CodeMethod("g", "()I", {0x03, 0xAC}, 1, false));
        base.AddMethod(CodeMethod("s", "()V", {0xB1}, 0));
        base.AddMethod(CodeMethod("<clinit>", "()V", {0xB1}, 0));
        WriteClass(dir_, "Base", base);

        ClassFileBuilder sub("Sub", "Base");
        sub.AddField({0, "d", "I"});
        sub.AddField({0, "c", "J"});
        sub.AddMethod(CodeMethod("g", "()I", {0x04, 0xAC}, 1, false));
        sub.AddMethod(CodeMethod("h", "()V", {0xB1}, 1, false));
        sub.AddMethod(CodeMethod("<init>", "()V", {0xB1}, 1, false));
        WriteClass(dir_, "Sub", sub);

        ClassFileBuilder leaf("Leaf", "Sub");
        leaf.AddField({0, "e", "I"});
        WriteClass(dir_, "Leaf", leaf);

        ClassFileBuilder main("Main");
        const uint16_t sub_ = main.Class("Sub");
        const uint16_t g = main.Methodref("Base", "g", "()I");
        const uint16_t leaf_ = main.Class("Leaf");
        main.AddMethod(CodeMethod(
            "main", "()V", {0xBB, Hi(sub_), Lo(sub_), 0xB6, Hi(g), Lo(g), 0x57, 0xBB, Hi(leaf_), Lo(leaf_), 0x57, 0xB1}, 1));
        WriteClass(dir_, "Main", main);

        result_ = LinkClass(dir_.Path(), "Main");
        ASSERT_EQ(result_.error, "");
    }

    const CJavaClass& Named(const std::string& name) const
    {
        return *result_.linker->ClassAt(result_.linker->FindClassIndex(name));
    }

    TempDir dir_;
    LinkResult result_;
};

std::string Describe(const FieldTableEntry& e)
{
    return e.ownerClassName + "." + e.fieldName + " @" + std::to_string(e.wordOffset) + " x" + std::to_string(e.size);
}

std::string Describe(const MethodTableEntry& e)
{
    return e.methodName + e.descriptor + " from " + e.definingClass->ThisClassName() + "#" + std::to_string(e.methodIndex);
}

template <class Entry>
std::vector<std::string> DescribeAll(const std::vector<Entry>& table)
{
    std::vector<std::string> out;
    for (const Entry& e : table)
        out.push_back(Describe(e));
    return out;
}

TEST_F(TablesTest, FieldTablesPutInheritedFieldsFirstInWords)
{
    // K is final but belongs to each object, so it has a place like a and b.
    EXPECT_EQ(DescribeAll(Named("Base").FieldTable()),
              (std::vector<std::string>{"Base.a @0 x1", "Base.b @1 x1", "Base.K @2 x1"}));
    EXPECT_EQ(DescribeAll(Named("Sub").FieldTable()),
              (std::vector<std::string>{"Base.a @0 x1", "Base.b @1 x1", "Base.K @2 x1", "Sub.d @3 x1", "Sub.c @4 x2"}));
    // After a super class that ends with a two-word field.
    EXPECT_EQ(DescribeAll(Named("Leaf").FieldTable()).back(), "Leaf.e @6 x1");
    EXPECT_TRUE(Named("java/lang/Object").FieldTable().empty());
}

TEST_F(TablesTest, OverridesKeepTheirPlaceAndConstructorsAreNotInherited)
{
    EXPECT_EQ(DescribeAll(Named("Base").MethodTable()),
              (std::vector<std::string>{"f()I from Base#1", "g()I from Base#2", "s()V from Base#3", "<init>()V from Base#0",
                                        "<clinit>()V from Base#4"}));
    EXPECT_EQ(DescribeAll(Named("Sub").MethodTable()),
              (std::vector<std::string>{"f()I from Base#1", "g()I from Sub#0", "s()V from Base#3", "h()V from Sub#1",
                                        "<init>()V from Sub#2"}));
}

TEST_F(TablesTest, VirtualCallsUseThePositionShownByTheReferencedClass)
{
    // invokevirtual Base.g: one argument word, Base's second slot, 3 + 7;
    // after the prologue that calls Base.<clinit> and new Sub.
    const int code = Named("Main").CodeOffset(0) + 3 + 3;
    EXPECT_EQ(std::vector<uint8_t>(result_.linker->ImageData() + code, result_.linker->ImageData() + code + 3),
              (std::vector<uint8_t>{0x24, 0x02, 0x0A}));
}

// Main [main, <clinit>]; Other [main(I)V, tenBytes, x, <clinit>]: a
// 4-entry record, a second main, a 10-byte method with two handlers, and
// a string that Main uses first. Sub extends Base, neither with methods.
//   Main @20 (17), Throwable @37 (10), Sub @47 (3), Other @50 (31),
//   String @81 (3), Object @84 (3), Base @87 (3), OutOfMemoryError @90 (10)
//   code from 100: Main.main 6 + 14, Main.<clinit> 1, throwVMException 1,
//   Other.main 6 + 1, tenBytes 10 + 1 + 16, x 1, Other.<clinit> 4
//   strings from 161: index 4 bytes, "" @165 (10), "dup" @175 (13): 188.
TEST(LayoutTest, OffsetsOfEveryRegion)
{
    TempDir dir;
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    const uint16_t sub = main.Class("Sub");
    const uint16_t otherMain = main.Methodref("Other", "main", "(I)V");
    const uint16_t empty = main.String("");
    const uint16_t dup = main.String("dup");
    main.AddMethod(CodeMethod("main", "()V",
                              {0xBB, Hi(sub), Lo(sub), 0x04, 0xB8, Hi(otherMain), Lo(otherMain), 0x12, Lo(empty), 0x57,
                               0x12, Lo(dup), 0x57, 0xB1},
                              1));
    main.AddMethod(CodeMethod("<clinit>", "()V", {0xB1}, 0));
    WriteClass(dir, "Main", main);
    ClassFileBuilder other("Other");
    const uint16_t dupAgain = other.String("dup");
    other.AddMethod(CodeMethod("main", "(I)V", {0xB1}, 1));
    ClassFileBuilder::Method tenBytes = CodeMethod("tenBytes", "()V", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0xB1}, 0);
    tenBytes.handlers = {{0, 2, 3, 0}, {0, 4, 5, 0}};
    other.AddMethod(tenBytes);
    other.AddMethod(CodeMethod("x", "()V", {0xB1}, 0));
    other.AddMethod(CodeMethod("<clinit>", "()V", {0x12, Lo(dupAgain), 0x57, 0xB1}, 0));
    WriteClass(dir, "Other", other);
    WriteClass(dir, "Sub", ClassFileBuilder("Sub", "Base"));
    WriteClass(dir, "Base", ClassFileBuilder("Base"));

    const LinkResult result = LinkClass(dir.Path(), "Main");
    ASSERT_EQ(result.error, "");
    const CMOXLinker& l = *result.linker;
    const auto index = [&](const char* name) { return l.FindClassIndex(name); };
    const CJavaClass& m = *l.ClassAt(index("Main"));
    const CJavaClass& o = *l.ClassAt(index("Other"));
    const struct {
        const char* name;
        int actual;
        int expected;
    } rows[] = {
        {"first record after the header", l.ClassOffset(0), 20},
        {"Other's record", l.ClassOffset(index("Other")), 50},
        {"a 4-entry record is 31 bytes", l.ClassOffset(index("java/lang/String")), 81},
        {"an empty record is 3 bytes", l.ClassOffset(index("java/lang/Object")), 84},
        {"Base follows Object directly", l.ClassOffset(index("Base")), 87},
        {"a slot's image offset", o.MethodTable()[3].imageOffset, 50 + 3 + 21},
        {"a slot's place in its record", o.MethodTable()[3].classRelativeOffset, 24},
        {"code after the last record", m.CodeOffset(0), 100},
        {"main is 6 bytes longer", m.CodeOffset(1), 120},
        {"so is a main in another class", o.CodeOffset(1), 129},
        {"10 bytes and two handlers take 27", o.CodeOffset(2), 156},
        {"string index table", l.StringTableOffset(), 161},
        {"an empty text is a 10-byte record", l.StringAt(1).imageOffset, 175},
        {"equal texts share a record", l.StringCount(), 2},
        {"image size", l.ImageSize(), 188},
        {"Main's record and code", l.ClassSize(index("Main")), 17 + 20 + 1},
        {"Other's record and code", l.ClassSize(index("Other")), 31 + 7 + 27 + 1 + 4},
        {"strings count for the class that used them first", l.ClassStringBytes(index("Main")), 10 + 13},
        {"and not for the one that used one again", l.ClassStringBytes(index("Other")), 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.actual, row.expected) << row.name;
    EXPECT_EQ(l.StringAt(1).javaClass, &m);
}

} // namespace
