#pragma once

#include "ClassFileBuilder.h"
#include "linker/CMOXLinker.h"
#include "support/SystemFacts.h"
#include "support/TempDir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Small programs whose every class file the test writes, so that whole
// images can be worked out by hand.

// <dir>/<name>.class from `builder`.
void WriteClass(const TempDir& dir, const std::string& name, const ClassFileBuilder& builder);

// The classes every image names and nothing else: java/lang/Object (no
// methods, or only <init> ()V { return } when asked), java/lang/Throwable
// with static throwVMException (I)V { return }, java/lang/OutOfMemoryError
// and java/lang/String, both without methods.
void WriteMinimalLibrary(const TempDir& dir, bool objectConstructor = false);

// A method with code; max stack 2.
ClassFileBuilder::Method CodeMethod(const std::string& name, const std::string& descriptor, std::vector<uint8_t> code,
                                    uint16_t maxLocals, bool isStatic = true);

// Big-endian halves of a constant-pool index, for writing operands.
uint8_t Hi(int value);
uint8_t Lo(int value);

struct LinkResult {
    std::unique_ptr<CMOXLinker> linker;
    std::string error;   // the EError's one-line message; "" when the link succeeded
    std::string printed; // what the link printed on the console
    std::vector<uint8_t> Image() const;
};

// Links `name` along `classPath` with a fresh linker.
LinkResult LinkClass(const std::string& classPath, const std::string& name);
