// Seeds made from real inputs at build time, since class files and images
// are build outputs and never committed:
//   <out>/classfile  every class file of our library and the test programs
//   <out>/link       those test program classes that link as a program
//   <out>/mox        the images they link into
// Class files in the CLASS_DIRs are seeds of the class reader only.
// Usage: fuzz_make_seeds LIB_DIR FIXTURE_DIR OUT_DIR [CLASS_DIR...]

#include "FuzzSupport.h"

#include "errors/EError.h"
#include "linker/CMOXLinker.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> ClassFiles(const fs::path& root)
{
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file() && it->path().extension() == ".class")
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

// "demo/Shapes$Circle" for <root>/demo/Shapes$Circle.class.
std::string ClassName(const fs::path& root, const fs::path& file)
{
    fs::path relative = fs::relative(file, root);
    relative.replace_extension();
    return relative.generic_string();
}

std::string SeedName(const std::string& prefix, const std::string& className)
{
    std::string name = prefix + "-" + className;
    std::replace(name.begin(), name.end(), '/', '.');
    return name;
}

bool Copy(const fs::path& from, const fs::path& to)
{
    std::error_code error;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
    return !error;
}

bool Write(const fs::path& to, const uint8_t* data, int32_t size)
{
    FILE* file = std::fopen(to.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(data, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s LIB_DIR FIXTURE_DIR OUT_DIR [CLASS_DIR...]\n", argv[0]);
        return 2;
    }
    SilenceConsole();
    const fs::path lib = argv[1];
    const fs::path fixtures = argv[2];
    const fs::path out = argv[3];
    for (const char* folder : {"classfile", "link", "mox"}) {
        std::error_code error;
        fs::create_directories(out / folder, error);
        if (error) {
            std::fprintf(stderr, "cannot make %s\n", (out / folder).c_str());
            return 1;
        }
    }

    bool copied = true;
    int classes = 0, programs = 0;
    for (const fs::path& file : ClassFiles(lib)) {
        copied = Copy(file, out / "classfile" / SeedName("lib", ClassName(lib, file))) && copied;
        ++classes;
    }
    for (int extra = 4; extra < argc; ++extra) {
        const fs::path dir = argv[extra];
        for (const fs::path& file : ClassFiles(dir)) {
            copied = Copy(file, out / "classfile" / SeedName("extra", ClassName(dir, file))) && copied;
            ++classes;
        }
    }

    std::vector<fs::path> programDirs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fixtures, error))
        if (entry.is_directory())
            programDirs.push_back(entry.path());
    std::sort(programDirs.begin(), programDirs.end());
    for (const fs::path& program : programDirs) {
        const std::string prefix = program.filename().string();
        for (const fs::path& file : ClassFiles(program)) {
            const std::string name = ClassName(program, file);
            copied = Copy(file, out / "classfile" / SeedName(prefix, name)) && copied;
            ++classes;
            CMOXLinker linker;
            try {
                linker.Link(name, program.string() + ":" + lib.string());
            } catch (const EError&) {
                continue; // not a program of its own
            }
            copied = Copy(file, out / "link" / SeedName(prefix, name)) && copied;
            copied = Write(out / "mox" / SeedName(prefix, name), linker.ImageData(), linker.ImageSize()) && copied;
            ++programs;
        }
    }
    std::printf("fuzz seeds: %d class files, %d linked programs\n", classes, programs);
    return copied ? 0 : 1;
}
