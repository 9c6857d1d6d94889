#pragma once

#include "classfile/JavaClass.h"
#include "errors/EError.h"
#include "support/SystemFacts.h"
#include "support/TempDir.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// Writes `bytes` as <dir>/<name>.class and loads the class from there.
std::unique_ptr<CJavaClass> LoadBytes(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes);

// The one-line message of the EError that `action` raises; "" when it
// returns normally. Any other exception fails the test where it escapes.
template <class Action>
std::string ErrorOf(Action&& action)
{
    try {
        action();
    } catch (const EError& error) {
        return error.Message();
    }
    return "";
}

// "[Error JVM-0020] Java class file corrupt: `<name>'.\n"
std::string CorruptLine(const std::string& name);

// Class names (internal form) of every .class file under `root`, sorted.
std::vector<std::string> ClassNamesUnder(const std::string& root);

// Class path roots: our class library and each compiled fixture program.
std::string LibraryDir();
std::string FixtureDir(const std::string& program);

// Code bytes: a big-endian 32-bit value, and parts joined in order.
std::vector<uint8_t> Be32(int32_t value);
std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts);

// Number of open file descriptors of this process (-1 where not known).
int OpenFileCount();
