#include "HandLinkedPrograms.h"
#include "LinkTestSupport.h"

#include "driver/RunSettings.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// Runs a test in a directory of its own, with the listing switched on, and
// puts both back afterwards: the listing files go to the working directory.
class ListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(work_.Path());
        Settings().WriteListing = true;
    }

    void TearDown() override
    {
        Settings().WriteListing = false;
        std::filesystem::current_path(previous_);
    }

    std::string ReadText(const std::string& name) const
    {
        const std::vector<uint8_t> bytes = work_.Read(name);
        return std::string(bytes.begin(), bytes.end());
    }

    TempDir program_;
    TempDir work_;
    std::filesystem::path previous_;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ListingTest, ListingFilesDescribeEveryByte)
{
    WriteTwoClassProgram(program_);
    const LinkResult result = LinkClass(program_.Path(), "Main");
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.Image(), kTwoClassImage);
    EXPECT_EQ(work_.Read("mox.bin"), kTwoClassImage);

    const std::string hex = ReadText("mox.hex");
    ASSERT_EQ(hex.size(), 3 * kTwoClassImage.size());
    EXPECT_EQ(hex.substr(0, 12), "A4 14 01 02 ");
    EXPECT_EQ(hex.substr(hex.size() - 6), "79 6F ");

    const std::string out = ReadText("mox.out");
    // One sample of each kind of line.
    const std::vector<std::pair<const char*, std::string>> parts = {
        {"header",
         "0:\tdw\t164\t; Placeholder for run/debug.\n"
         "1:\tdw\t$0\t; Placeholder for the length.\n"
         "2:\tdw\t$1\t; Version: 0.1\n"
         "3:\tdw\t2\t; Number of static fields = 1\n"
         "4:\tdw\t0\t; `main' method: Offset hi = 0\n"
         "5:\tdw\t23\t;                       lo = 23\n"},
        {"class record",
         "\n; (20) Class = `Main'\n"
         "20:\tdw\t0\t; Superclass offset hi = 0\n"
         "21:\tdw\t91\t; Superclass offset lo = 91\n"
         "22:\tdw\t2\t; Number of (non-final, non-static) fields = 1\n"
         "; Method = `main'\n"
         "23:\tdw\t0\t; Number of parameters = 0\n"
         "24:\tdw\t2\t; Number of locals = 1\n"
         "25:\tdw\t0\t; Flags hi = 0\n"
         "26:\tdw\t0\t; Offset hi = 0\n"
         "27:\tdw\t116\t; Offset lo = 116\n"
         "28:\tdw\t0\t; Empty exception table hi = 0\n"},
        {"slot with handlers",
         "77:\tdw\t128\t; Number of parameters = 0 (exception table present)\n"},
        {"exception table offset", "83:\tdw\t169\t; Exception table offset lo = 169\n"},
        {"prologue",
         "; (116) Method main /* ()V */\n"
         "116:\tdw\t37\t;      invokestatic <??.<clinit>>\n"
         "117:\tdw\t0\t;      Offset hi = 0\n"
         "118:\tdw\t84\t;      Offset lo = 84\n"},
        {"instruction", "125:\tdw\t$2A\t;    3 dup \n"},
        {"rewritten operands", "127:\tdw\t$00\t;      0\n128:\tdw\t$2C\t;      44\n"},
        {"virtual call", "132:\tdw\t$02\t;      Object offset = -2\n133:\tdw\t$0A\t;      10\n"},
        {"string number", "136:\tdw\t$00\t;      index = 0\n"},
        {"native method", "; (157) Method delay /* (I)V */\n;      Native\n\n; Class = `Helper'\n"},
        {"exception table",
         "169:\tdw\t1\t; Number of exception handlers = 1\n"
         "170:\tdw\t0\t; start_pc hi = 0\n171:\tdw\t165\t; start_pc lo = 165\n"},
        {"string tables",
         "\n; String index table.\n179:\tdw\t0\t; String offset hi = 0\n180:\tdw\t183\t;               lo = 183\n"},
        {"string record", "187:\tdw\t0\t; Pointer hi = 0\n188:\tdw\t189\t;         lo = 189\n"},
        {"string text", "String Data: \"hi\"\n193:h194:i\n"},
        {"end of the image and native table",
         "205:y206:o\n\n\n;\n; Native method dispatch table.\n;\n"
         "\tjmp\tnm_tolve_core_CPU_writeRegister\t; 0\n"},
        {"placeholder row", "\tjmp\tnm_page_\t; 5\n"},
        {"opcode equates", "\tjmp\tnm_page_\t; 47\n; Mox opcodes.\n\tj_nop\t=\t0\n"},
        {"the nop before the two-slot part", "\tjmp\tl_j_ineg\t; $33\n\tnop\n\tjmp\t@_l_j_ior\t; $35\n"},
    };
    for (const auto& [name, part] : parts)
        EXPECT_TRUE(Contains(out, part)) << name;
    EXPECT_EQ(out.substr(0, 5), "0:\tdw");
    EXPECT_EQ(out.substr(out.size() - 30), "\tjmp\t@_l_j_lookupswitch\t; $77\n");
}

TEST_F(ListingTest, WithoutTheSettingNoFileIsWritten)
{
    Settings().WriteListing = false;
    WriteTwoClassProgram(program_);
    const LinkResult result = LinkClass(program_.Path(), "Main");
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.Image(), kTwoClassImage);
    EXPECT_TRUE(work_.List().empty());
}

TEST_F(ListingTest, AListingFileThatCannotBeWrittenStopsTheLink)
{
    WriteSmallestProgram(program_);
    std::filesystem::create_directory(work_.File("mox.out"));
    EXPECT_EQ(LinkClass(program_.Path(), "Main").error,
              "[Error IDE-0017] Unable to open file for writing `mox.out' (21, Is a directory).\n");

    std::filesystem::remove(work_.File("mox.out"));
    std::filesystem::create_directory(work_.File("mox.hex"));
    EXPECT_EQ(LinkClass(program_.Path(), "Main").error,
              "[Error IDE-0017] Unable to open file for writing `mox.hex' (21, Is a directory).\n");
    // Written before the failure, and kept.
    EXPECT_TRUE(work_.Exists("mox.out"));
    EXPECT_FALSE(work_.Exists("mox.bin"));
}

} // namespace
