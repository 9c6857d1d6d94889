#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

TempDir::TempDir()
{
    std::random_device seed;
    std::mt19937_64 names(seed());
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        std::filesystem::path candidate = base / ("morvane-test-" + std::to_string(names() % 1000000000));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error))
            path_ = candidate.generic_string();
    }
    if (path_.empty())
        throw std::runtime_error("no temporary directory");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const
{
    std::filesystem::create_directories(std::filesystem::path(File(name)).parent_path());
    std::ofstream out(File(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void TempDir::Write(const std::string& name, const std::string& text) const
{
    Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> TempDir::Read(const std::string& name) const { return ReadFileBytes(File(name)); }

bool TempDir::Exists(const std::string& name) const { return std::filesystem::exists(File(name)); }

std::vector<std::string> TempDir::List() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
