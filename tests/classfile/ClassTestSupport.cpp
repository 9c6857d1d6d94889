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

int OpenFileCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}
