#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"
#include "image/MoxTables.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct TranslationCase {
    const char* name;
    int javaOpcode;
    int moxNumber;
};

TEST(MoxTablesTest, TranslatesJavaOpcodes)
{
    const TranslationCase cases[] = {
        {"aload_0 is iload_0", 42, 0x0B},     {"areturn is ireturn", 176, 0x22},  {"ifnull is ifeq", 198, 0x14},
        {"ifnonnull is ifne", 199, 0x15},     {"i2s is nop", 147, 0x00},          {"i2c is i2b", 146, 0x41},
        {"ldc", 18, 0x65},                    {"ldc_w", 19, 0x67},                {"ldc2_w", 20, 0x69},
        {"getfield", 180, 0x53},              {"getstatic", 178, 0x26},           {"invokevirtual", 182, 0x24},
        {"invokespecial is invokestatic", 183, 0x25}, {"newarray", 188, 0x59},    {"checkcast", 192, 0x4B},
        {"anewarray", 189, 0x5B},             {"wide", 196, 0x4F},                {"ior heads the odd numbers", 128, 53},
        {"lookupswitch is the last", 171, 119}, {"ifle sits before ifgt", 158, 23}, {"ifgt", 157, 24},
        {"ifge", 156, 25},                    {"caload is baload", 52, 0x61},     {"sastore is iastore", 86, 0x5F},
        {"aconst_null is iconst_0", 1, 0x02}, {"invokeinterface", 185, 0x45},
    };
    for (const TranslationCase& c : cases)
        EXPECT_EQ(TranslateOpcode(c.javaOpcode), c.moxNumber) << c.name;
}

TEST(MoxTablesTest, OpcodesWithoutEquivalentRaiseJvm30)
{
    // long, float and double work, monitors, multianewarray, wide jumps,
    // breakpoint, the unused opcode, the quick forms and everything above.
    for (int opcode : {9, 11, 14, 22, 47, 97, 98, 133, 148, 173, 174, 175, 194, 195, 197, 200, 201, 202, 186,
                       203, 227, 228, 255}) {
        try {
            TranslateOpcode(opcode);
            ADD_FAILURE() << opcode << " translated";
        } catch (const EError& error) {
            EXPECT_EQ(std::string(error.Message()), "[Error JVM-0030] Unimplemented bytecode (" + std::to_string(opcode) + ").\n");
        }
    }
}

TEST(MoxTablesTest, NumberingIsABijectionOnTheTable)
{
    std::set<int> numbers, javaOpcodes;
    for (int index = 0; index < kMoxOpcodeCount; ++index) {
        int number = MoxOpcodeNumber(index);
        EXPECT_TRUE(IsMoxOpcodeNumber(number)) << index;
        EXPECT_EQ(MoxOpcodeIndexOfNumber(number), index);
        EXPECT_TRUE(numbers.insert(number).second);
        int java = MoxOpcodeJavaOpcode(index);
        EXPECT_TRUE(javaOpcodes.insert(java).second) << index;
        EXPECT_EQ(MoxIndexOfJavaOpcode(java), index) << JavaMnemonic(java);
    }
    EXPECT_FALSE(IsMoxOpcodeNumber(52));
    EXPECT_FALSE(IsMoxOpcodeNumber(54));
    EXPECT_FALSE(IsMoxOpcodeNumber(120));
}

TEST(MoxTablesTest, NamesOfOpcodeNumbers)
{
    EXPECT_EQ(MoxOpcodeName(0x77), "lookupswitch");
    EXPECT_EQ(MoxOpcodeName(0x53), "getfield");
    EXPECT_EQ(MoxOpcodeName(0x33), "ineg");
    EXPECT_EQ(MoxOpcodeName(0x00), "nop");
    // Bytes that are no opcode fall onto a neighbour, as the firmware computes it.
    EXPECT_EQ(MoxOpcodeName(52), "ineg");
    EXPECT_EQ(MoxOpcodeName(54), "ior");
    EXPECT_EQ(MoxOpcodeName(120), "lookupswitch");
    EXPECT_EQ(MoxOpcodeName(121), "121");
    EXPECT_EQ(MoxOpcodeName(255), "255");
}

TEST(MoxTablesTest, NativeMethodIndices)
{
    EXPECT_EQ(NativeMethodIndex("tolve/core/CPU", "delay"), 3);
    EXPECT_EQ(NativeMethodIndex("tolve/core/CPU", "count"), 6);
    EXPECT_EQ(NativeMethodIndex("tolve/core/Terminal", "getByte"), 46);
    EXPECT_EQ(NativeMethodIndex("tolve/core/PWM", "install"), 38);
    EXPECT_EQ(NativeMethodIndex("tolve/core/CPU", "install"), 17);
    EXPECT_STREQ(NativeMethod(5).className, "page");
    EXPECT_STREQ(NativeMethod(47).methodName, "");
    struct Unknown {
        const char* className;
        const char* methodName;
    };
    for (const Unknown& u : {Unknown{"tolve/core/CPU", "reboot"}, Unknown{"page", ""}, Unknown{"tolve/core/cpu", "delay"},
                             Unknown{"", ""}}) {
        try {
            NativeMethodIndex(u.className, u.methodName);
            ADD_FAILURE() << u.className << "." << u.methodName;
        } catch (const EError& error) {
            EXPECT_EQ(std::string(error.Message()),
                      std::string("[Error LNK-0004] Unknown native method `") + u.className + "." + u.methodName + "'.\n");
        }
    }
}

} // namespace
