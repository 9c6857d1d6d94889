#include "image/MoxTables.h"

#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"

#include <array>
#include <cstring>

namespace {

// Entry i is the Java opcode whose mnemonic names Mox opcode i. Note ifle
// before ifgt and ifge, and ior heading the part numbered in odd steps.
constexpr int kMoxToJava[kMoxOpcodeCount] = {
    0,   // nop
    2,   // iconst_m1
    3,   4,   5,   6,   7,   8,   // iconst_0 .. iconst_5
    16,  // bipush
    17,  // sipush
    21,  // iload
    26,  27,  28,  29,  // iload_0 .. iload_3
    54,  // istore
    59,  60,  61,  62,  // istore_0 .. istore_3
    153, // ifeq
    154, // ifne
    155, // iflt
    158, // ifle
    157, // ifgt
    156, // ifge
    159, 160, 161, 162, 163, 164, // if_icmpeq .. if_icmple
    165, 166, // if_acmpeq, if_acmpne
    172, // ireturn
    177, // return
    182, // invokevirtual
    184, // invokestatic
    178, // getstatic
    179, // putstatic
    87,  88,  89,  90,  91,  92,  93,  94,  95, // pop .. swap
    96,  // iadd
    100, // isub
    116, // ineg
    128, // ior
    120, // ishl
    122, // ishr
    124, // iushr
    126, // iand
    130, // ixor
    145, // i2b
    167, // goto
    185, // invokeinterface
    190, // arraylength
    191, // athrow
    192, // checkcast
    193, // instanceof
    196, // wide
    132, // iinc
    180, // getfield
    181, // putfield
    187, // new
    188, // newarray
    189, // anewarray
    46,  // iaload
    79,  // iastore
    51,  // baload
    84,  // bastore
    18,  // ldc
    19,  // ldc_w
    20,  // ldc2_w
    104, // imul
    108, // idiv
    112, // irem
    168, // jsr
    169, // ret
    170, // tableswitch
    171, // lookupswitch
};

// Java opcodes the module runs under another opcode's name: references and
// shorts are words, chars are bytes.
constexpr std::pair<int, int> kAliases[] = {
    {1, 3},     // aconst_null -> iconst_0
    {25, 21},   // aload -> iload
    {42, 26},   {43, 27}, {44, 28}, {45, 29}, // aload_n -> iload_n
    {58, 54},   // astore -> istore
    {75, 59},   {76, 60}, {77, 61}, {78, 62}, // astore_n -> istore_n
    {50, 46},   // aaload -> iaload
    {53, 46},   // saload -> iaload
    {83, 79},   // aastore -> iastore
    {86, 79},   // sastore -> iastore
    {52, 51},   // caload -> baload
    {85, 84},   // castore -> bastore
    {146, 145}, // i2c -> i2b
    {147, 0},   // i2s -> nop
    {176, 172}, // areturn -> ireturn
    {183, 184}, // invokespecial -> invokestatic
    {198, 153}, // ifnull -> ifeq
    {199, 154}, // ifnonnull -> ifne
};

std::array<int, 256> BuildTranslation()
{
    std::array<int, 256> table;
    table.fill(-1);
    for (int index = 0; index < kMoxOpcodeCount; ++index)
        table[static_cast<size_t>(kMoxToJava[index])] = index;
    for (const auto& [java, named] : kAliases)
        table[static_cast<size_t>(java)] = table[static_cast<size_t>(named)];
    return table;
}

const std::array<int, 256>& Translation()
{
    static const std::array<int, 256> table = BuildTranslation();
    return table;
}

const NativeMethodRow kNatives[kNativeMethodCount + 1] = {
    {"tolve/core/CPU", "writeRegister"},   // 0
    {"tolve/core/CPU", "readRegister"},    // 1
    {"tolve/core/CPU", "writeObject"},     // 2
    {"tolve/core/CPU", "delay"},           // 3
    {"tolve/core/CPU", "message"},         // 4
    {"page", ""},                          // 5
    {"tolve/core/CPU", "count"},           // 6
    {"tolve/core/CPU", "rcTime"},          // 7
    {"tolve/core/CPU", "pulseIn"},         // 8
    {"tolve/core/CPU", "pulseOut"},        // 9
    {"tolve/core/CPU", "readPin"},         // 10
    {"tolve/core/CPU", "writePin"},        // 11
    {"tolve/core/CPU", "shiftIn"},         // 12
    {"tolve/core/CPU", "shiftOut"},        // 13
    {"tolve/core/CPU", "carry"},           // 14
    {"page", ""},                          // 15
    {"tolve/core/CPU", "uninstall"},       // 16
    {"tolve/core/CPU", "install"},         // 17
    {"tolve/core/CPU", "nap"},             // 18
    {"tolve/core/CPU", "setOutput"},       // 19
    {"page", ""},                          // 20
    {"tolve/core/CPU", "setInput"},        // 21
    {"page", ""},                          // 22
    {"tolve/core/CPU", "readSRAM"},        // 23
    {"page", ""},                          // 24
    {"tolve/core/CPU", "writeSRAM"},       // 25
    {"page", ""},                          // 26
    {"tolve/core/EEPROM", "eeRead"},       // 27
    {"page", ""},                          // 28
    {"tolve/core/EEPROM", "eeWrite"},      // 29
    {"page", ""},                          // 30
    {"tolve/core/Uart", "txInit"},         // 31
    {"tolve/core/Uart", "rxInit"},         // 32
    {"tolve/core/Uart", "rxRead"},         // 33
    {"tolve/core/Callback", "returnTwo"},  // 34
    {"tolve/core/Timer", "init"},          // 35
    {"tolve/core/Timer", "latch"},         // 36
    {"page", ""},                          // 37
    {"tolve/core/PWM", "install"},         // 38
    {"page", ""},                          // 39
    {"tolve/core/PWM", "updateInternal"},  // 40
    {"page", ""},                          // 41
    {"tolve/core/DAC", "install"},         // 42
    {"page", ""},                          // 43
    {"tolve/core/ADC", "install"},         // 44
    {"page", ""},                          // 45
    {"tolve/core/Terminal", "getByte"},    // 46
    {"page", ""},                          // 47
    {"", ""},                              // end of the table
};

} // namespace

int MoxOpcodeJavaOpcode(int index)
{
    if (index < 0 || index >= kMoxOpcodeCount)
        return -1;
    return kMoxToJava[index];
}

uint8_t MoxOpcodeNumber(int index) { return static_cast<uint8_t>(index < 52 ? index : 2 * index - 51); }

int MoxOpcodeIndexOfNumber(int number) { return number <= 51 ? number : 51 + (number - 51) / 2; }

bool IsMoxOpcodeNumber(int number)
{
    if (number < 0 || number > 119)
        return false;
    return number <= 51 || (number >= 53 && number % 2 == 1);
}

int MoxIndexOfJavaOpcode(int javaOpcode)
{
    if (javaOpcode < 0 || javaOpcode > 255)
        return -1;
    return Translation()[static_cast<size_t>(javaOpcode)];
}

uint8_t TranslateOpcode(int javaOpcode)
{
    int index = MoxIndexOfJavaOpcode(javaOpcode);
    if (index < 0)
        throw EError(ecJVM, 30, javaOpcode);
    return MoxOpcodeNumber(index);
}

std::string MoxOpcodeName(int number)
{
    int index = MoxOpcodeIndexOfNumber(number);
    if (number < 0 || index < 0 || index >= kMoxOpcodeCount)
        return std::to_string(number);
    return JavaMnemonic(kMoxToJava[index]);
}

const NativeMethodRow& NativeMethod(int index)
{
    if (index < 0 || index >= kNativeMethodCount)
        return kNatives[kNativeMethodCount];
    return kNatives[index];
}

int NativeMethodIndex(const std::string& className, const std::string& methodName)
{
    for (int index = 0; kNatives[index].className[0] != '\0'; ++index)
        if (kNatives[index].methodName[0] != '\0' && className == kNatives[index].className &&
            methodName == kNatives[index].methodName)
            return index;
    throw EError(ecLNK, 4, className, methodName);
}
