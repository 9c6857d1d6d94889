#pragma once

#include <cstdint>
#include <string>

// The vocabulary the image shares with the module's firmware: which Mox
// opcodes exist and which byte stands for each, how Java opcodes translate to
// them, and which library methods the firmware implements natively. Their
// order and numbering are part of the image format.

constexpr int kMoxOpcodeCount = 86;
constexpr int kNativeMethodCount = 48;

// The Java opcode whose mnemonic names Mox opcode `index` (0..85).
int MoxOpcodeJavaOpcode(int index);

// The byte written for Mox opcode `index`: the index below 52, then odd
// numbers from 53 (2 * index - 51).
uint8_t MoxOpcodeNumber(int index);

// Inverse of MoxOpcodeNumber, by the firmware's arithmetic: 52 and the even
// numbers fall onto a neighbour; the result can lie outside the table.
int MoxOpcodeIndexOfNumber(int number);

// True when `number` is the byte of a Mox opcode.
bool IsMoxOpcodeNumber(int number);

// The Mox opcode index a Java opcode translates to, or -1 when the module
// has no equivalent.
int MoxIndexOfJavaOpcode(int javaOpcode);

// The Mox opcode byte for a Java opcode; raises JVM 30 ("Unimplemented
// bytecode") when there is none.
uint8_t TranslateOpcode(int javaOpcode);

// The mnemonic that names Mox opcode byte `number`, or the number itself in
// decimal when it lies outside the table.
std::string MoxOpcodeName(int number);

struct NativeMethodRow {
    const char* className; // internal form; "page" for a placeholder row
    const char* methodName; // "" for a placeholder row
};

// Row `index` (0..47) of the native method table.
const NativeMethodRow& NativeMethod(int index);

// The native method index of (class, method), matched by name only, the
// first row winning; raises LNK 4 ("Unknown native method") when none.
int NativeMethodIndex(const std::string& className, const std::string& methodName);
