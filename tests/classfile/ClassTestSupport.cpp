#include "ClassTestSupport.h"

#include <algorithm>
#include <filesystem>

std::unique_ptr<CJavaClass> LoadBytes(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes)
{
    dir.Write(name + ".class", bytes);
    auto javaClass = std::make_unique<CJavaClass>(name, dir.Path());
    javaClass->load();
    return javaClass;
}

std::string CorruptLine(const std::string& name) { return "[Error JVM-0020] Java class file corrupt: `" + name + "'.\n"; }

std::vector<std::string> ClassNamesUnder(const std::string& root)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".class")
            continue;
        std::string name = std::filesystem::relative(entry.path(), root).replace_extension().generic_string();
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string LibraryDir() { return MORVANE_LIB_DIR; }

std::string FixtureDir(const std::string& program) { return std::string(MORVANE_FIXTURE_DIR) + "/" + program; }

std::vector<uint8_t> Be32(int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t>& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

int OpenFileCount() { return OpenDescriptorCount(); }
