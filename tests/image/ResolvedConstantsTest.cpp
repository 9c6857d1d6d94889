#include "LinkTestSupport.h"

#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "image/MoxImageWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

// The Mox code of `method` of `className` as the image holds it.
std::vector<uint8_t> CodeOf(const LinkResult& result, const std::string& className, const std::string& method)
{
    const CMOXLinker& linker = *result.linker;
    const CJavaClass& c = *linker.ClassAt(linker.FindClassIndex(className));
    for (int m = 0; m < c.MethodCount(); ++m) {
        if (c.MethodName(m) != method)
            continue;
        const std::vector<uint8_t> image = result.Image();
        const auto start = image.begin() + c.CodeOffset(m) + linker.PrologueLength(c, m);
        return std::vector<uint8_t>(start, start + static_cast<std::ptrdiff_t>(c.CodeLength(m)));
    }
    ADD_FAILURE() << "no method " << method;
    return {};
}

const MethodTableEntry& SlotOf(const LinkResult& result, const std::string& className, const std::string& method)
{
    const CMOXLinker& linker = *result.linker;
    const CJavaClass& c = *linker.ClassAt(linker.FindClassIndex(className));
    return c.MethodTable()[c.MethodTableIndex(method, "()V")];
}

struct CallRow {
    const char* name;
    std::vector<uint8_t> opcodes; // each a call through the one reference to f
};

// What a constant resolves to is kept per kind of use: the same method
// reference, called directly and virtually, gets each kind's operands at
// every call, whichever comes first.
TEST(ResolvedConstantsTest, OneReferenceCalledTwoWaysGetsBothOperands)
{
    const CallRow rows[] = {
        {"static, then virtual", {0xB8, 0xB6, 0xB8}},
        {"virtual, then static", {0xB6, 0xB8, 0xB6}},
        {"special and static share the slot's offset", {0xB7, 0xB8, 0xB7}},
    };
    for (const CallRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        WriteMinimalLibrary(dir);
        ClassFileBuilder main("Main");
        const uint16_t f = main.Methodref("Main", "f", "()V");
        std::vector<uint8_t> code;
        for (uint8_t opcode : row.opcodes)
            code.insert(code.end(), {opcode, Hi(f), Lo(f)});
        code.push_back(0xB1);
        main.AddMethod(CodeMethod("main", "()V", code, 1));
        main.AddMethod(CodeMethod("f", "()V", {0xB1}, 0));
        WriteClass(dir, "Main", main);

        const LinkResult result = LinkClass(dir.Path(), "Main");
        ASSERT_EQ(result.error, "");
        const MethodTableEntry& slot = SlotOf(result, "Main", "f");
        const std::vector<uint8_t> mox = CodeOf(result, "Main", "main");
        ASSERT_EQ(mox.size(), code.size());
        for (size_t k = 0; k < row.opcodes.size(); ++k) {
            const std::vector<uint8_t> operands(mox.begin() + static_cast<std::ptrdiff_t>(3 * k + 1),
                                                mox.begin() + static_cast<std::ptrdiff_t>(3 * k + 3));
            // A virtual call gives the argument words (none: f is static
            // and takes nothing) and the slot's place in the class record.
            const std::vector<uint8_t> expected =
                row.opcodes[k] == 0xB6 ? std::vector<uint8_t>{0, static_cast<uint8_t>(slot.classRelativeOffset)}
                                       : std::vector<uint8_t>{Hi(slot.imageOffset), Lo(slot.imageOffset)};
            EXPECT_EQ(operands, expected) << "call " << k;
        }
    }
}

struct FieldRow {
    const char* name;
    std::vector<uint8_t> opcodes; // each a use of the one reference to x
    std::string error;
};

// A static field's slot is no answer for getfield: each kind of use looks
// the field up its own way.
TEST(ResolvedConstantsTest, OneFieldReferenceUsedTwoWaysIsLookedUpEachWay)
{
    const std::string notLinked = "[Error JVM-0028] Cannot find linked field (Main.x).\n";
    const FieldRow rows[] = {
        {"getstatic twice", {0xB2, 0xB2}, ""},
        {"getstatic, then getfield", {0xB2, 0xB4}, notLinked},
        {"putstatic, then getfield", {0xB3, 0xB4}, notLinked},
    };
    for (const FieldRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        WriteMinimalLibrary(dir);
        ClassFileBuilder main("Main");
        main.AddField({afStatic, "x", "I"});
        const uint16_t x = main.Fieldref("Main", "x", "I");
        std::vector<uint8_t> code;
        for (uint8_t opcode : row.opcodes) {
            if (opcode == 0xB4)
                code.push_back(0x01); // aconst_null as the object
            if (opcode == 0xB3)
                code.push_back(0x03); // iconst_0 as the value
            code.insert(code.end(), {opcode, Hi(x), Lo(x)});
            if (opcode != 0xB3)
                code.push_back(0x57);
        }
        code.push_back(0xB1);
        main.AddMethod(CodeMethod("main", "()V", code, 1));
        WriteClass(dir, "Main", main);
        EXPECT_EQ(LinkClass(dir.Path(), "Main").error, row.error);
    }
}

// A class whose file declares another name is never answered by the list,
// so the output pass loads it again at each use, as the look-up by name
// always did; those late classes have no place, and the image overflows.
TEST(ResolvedConstantsTest, ARenamedClassIsLoadedAgainAtEveryUse)
{
    for (int uses : {1, 2, 3}) {
        SCOPED_TRACE(uses);
        TempDir dir;
        WriteMinimalLibrary(dir);
        ClassFileBuilder renamed("Original");
        renamed.AddMethod(CodeMethod("f", "()V", {0xB1}, 0));
        WriteClass(dir, "Renamed", renamed);
        ClassFileBuilder main("Main");
        const uint16_t c = main.Class("Renamed");
        std::vector<uint8_t> code;
        for (int k = 0; k < uses; ++k)
            code.insert(code.end(), {0x01, 0xC1, Hi(c), Lo(c), 0x57}); // aconst_null instanceof pop
        code.push_back(0xB1);
        main.AddMethod(CodeMethod("main", "()V", code, 1));
        WriteClass(dir, "Main", main);

        const LinkResult result = LinkClass(dir.Path(), "Main");
        EXPECT_EQ(result.error, "[Error IDE-0027] Binary too long.\n");
        // instanceof loads nothing while linking: every copy comes from the output pass.
        EXPECT_EQ(result.linker->ClassCount() - result.linker->LaidOutClassCount(), uses);
    }
}

struct ProgramRow {
    const char* name;
    std::string program; // fixture folder
    std::string main;
};

// Without a listing the code bytes take a shorter way into the image; the
// bytes must be those the listed way writes.
TEST(ResolvedConstantsTest, ImagesAreTheSameWithAndWithoutAListing)
{
    const ProgramRow rows[] = {
        {"linkdemo", "linkdemo", "Main"},       {"showcase", "showcase", "demo/Showcase"},
        {"switches", "differential", "Switches"}, {"handlers", "differential", "Handlers"},
        {"strings", "differential", "StringWork"}, {"statics", "differential", "StaticInit"},
        {"module run", "modulerun", "Hello"},     {"long operands", "widetypes", "Wide"},
    };
    TempDir work;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(work.Path());
    for (const ProgramRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string classPath = std::string(MORVANE_LIB_DIR) + ";" + MORVANE_FIXTURE_DIR + "/" + row.program;
        const LinkResult plain = LinkClass(classPath, row.main);
        Settings().WriteListing = true;
        const LinkResult listed = LinkClass(classPath, row.main);
        Settings().WriteListing = false;
        EXPECT_EQ(plain.error, listed.error);
        EXPECT_EQ(plain.Image(), listed.Image());
        if (listed.error.empty()) {
            EXPECT_EQ(work.Read("mox.bin"), listed.Image());
        }
    }
    std::filesystem::current_path(previous);
}

struct WriterRow {
    const char* name;
    std::function<void(MoxImageWriter&)> append;
    std::string error;
    std::vector<uint8_t> buffer; // after the appends
};

// The unlisted append is the same checked append: what fits goes in, one
// byte too many is "Binary too long.".
TEST(ResolvedConstantsTest, UnlistedAppendsStopAtTheImageSize)
{
    const uint8_t three[] = {7, 8, 9};
    const WriterRow rows[] = {
        {"bytes that fit", [&](MoxImageWriter& out) { out.AppendUnlisted(three, 3); }, "", {7, 8, 9, 0}},
        {"one byte, then a block",
         [&](MoxImageWriter& out) {
             out.AppendUnlisted(1);
             out.AppendUnlisted(three, 3);
         },
         "", {1, 7, 8, 9}},
        {"a block one byte too long",
         [&](MoxImageWriter& out) {
             out.AppendUnlisted(1);
             out.AppendUnlisted(2);
             out.AppendUnlisted(three, 3);
         },
         "[Error IDE-0027] Binary too long.\n", {1, 2, 7, 8}},
        {"a byte into a full image",
         [&](MoxImageWriter& out) {
             out.AppendUnlisted(three, 3);
             out.Append(4, "%d", 4);
             out.AppendUnlisted(5);
         },
         "[Error IDE-0027] Binary too long.\n", {7, 8, 9, 4}},
        {"nothing", [&](MoxImageWriter& out) { out.AppendUnlisted(three, 0); }, "", {0, 0, 0, 0}},
    };
    for (const WriterRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> buffer(4, 0);
        MoxImageWriter out(buffer.data(), 4, nullptr);
        std::string error;
        try {
            row.append(out);
        } catch (const EError& e) {
            error = e.Message();
        }
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(buffer, row.buffer);
    }
}

} // namespace
