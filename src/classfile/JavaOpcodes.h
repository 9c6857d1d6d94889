#pragma once

#include <cstdint>

// Names of the Java bytecodes, as listings and messages show them: the
// standard mnemonics for 0 to 201 (186 is xxxunusedxxx), breakpoint at 202 and
// the quick forms 203 to 227. Opcodes 228 to 255 have no name.
constexpr int kJavaMnemonicCount = 228;

// The mnemonic of `opcode`, or nullptr when it has none.
const char* JavaMnemonic(int opcode);

// Java opcodes the tools refer to by name.
enum JavaOpcode : int {
    opNop = 0,
    opBipush = 16,
    opSipush = 17,
    opLdc = 18,
    opLdcW = 19,
    opLdc2W = 20,
    opIinc = 132,
    opGoto = 167,
    opJsr = 168,
    opRet = 169,
    opTableswitch = 170,
    opLookupswitch = 171,
    opGetstatic = 178,
    opPutstatic = 179,
    opGetfield = 180,
    opPutfield = 181,
    opInvokevirtual = 182,
    opInvokespecial = 183,
    opInvokestatic = 184,
    opInvokeinterface = 185,
    opNew = 187,
    opNewarray = 188,
    opAnewarray = 189,
    opCheckcast = 192,
    opInstanceof = 193,
    opWide = 196,
    opMultianewarray = 197,
    opGotoW = 200,
    opJsrW = 201,
};

// Bytes taken by the instruction whose opcode is at `pc`: operands, the
// padding of a switch and its whole table included, and the opcode that a
// `wide` prefix modifies. 0 when the instruction does not lie wholly inside
// `codeLength` bytes or its switch table is malformed (a negative count),
// so that no caller ever reads an operand beyond the code.
uint32_t JavaInstructionLength(const uint8_t* code, uint32_t codeLength, uint32_t pc);
