// A whole link with a fuzzed main class: the bytes are the class file of
// "Fuzz", found first on a class path that goes on with our class library
// and the compiled test programs, so a mutated program still reaches real
// classes. Every outcome must be a catalogue error or an image of exactly
// the size the layout computed, whose header agrees with the layout and
// whose offsets the listener can turn back into classes and lines.

#include "FuzzSupport.h"

#include "errors/EError.h"
#include "image/LinkedProgramMap.h"
#include "linker/CMOXLinker.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

std::string ClassPath()
{
    std::string path = ScratchDir() + ":" + MORVANE_LIB_DIR;
    std::vector<std::string> programs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(MORVANE_FIXTURE_DIR, error))
        if (entry.is_directory())
            programs.push_back(entry.path().string());
    // A fixed order: the same input must link the same way in every run.
    std::sort(programs.begin(), programs.end());
    for (const std::string& program : programs)
        path += ":" + program;
    return path;
}

int Word(const uint8_t* image, int at) { return image[at] * 256 + image[at + 1]; }

void CheckImage(const CMOXLinker& linker)
{
    const int32_t size = linker.ImageSize();
    FUZZ_CHECK(size >= 20 && size <= CMOXLinker::kMaxImageSize);
    FUZZ_CHECK(linker.LaidOutClassCount() == linker.ClassCount());
    const uint8_t* image = linker.ImageData();
    FUZZ_CHECK(image[0] == 0xA4);
    FUZZ_CHECK(image[3] == static_cast<uint8_t>(linker.StaticFieldCount() * 2));
    FUZZ_CHECK(Word(image, 12) == linker.StringTableOffset());
    FUZZ_CHECK(linker.StringTableOffset() + 2 * linker.StringCount() <= size);
    const int mainSlot = Word(image, 4);
    FUZZ_CHECK(mainSlot >= 20 && mainSlot + 7 <= size);
    for (int index = 0; index < linker.ClassCount(); ++index) {
        const int32_t offset = linker.ClassOffset(index);
        FUZZ_CHECK(offset >= 20 && offset + 3 <= size);
    }
    for (int number = 0; number < linker.StringCount(); ++number) {
        const StringTableEntry& entry = linker.StringAt(number);
        FUZZ_CHECK(Word(image, linker.StringTableOffset() + 2 * number) == entry.imageOffset);
        FUZZ_CHECK(entry.imageOffset + 10 + static_cast<int64_t>(entry.text.size()) <= size);
    }
}

// What the listener does with a report from this image.
void ExplainOffsets(const CMOXLinker& linker)
{
    const LinkedProgramMap program(linker);
    for (int index = 0; index < linker.ClassCount(); ++index) {
        try {
            FUZZ_CHECK(program.ClassNameAt(linker.ClassOffset(index)) == linker.ClassAt(index)->DottedName());
        } catch (const EError&) {
            FUZZ_CHECK(false); // every placed class has a record
        }
        const CJavaClass& c = *linker.ClassAt(index);
        for (int method = 0; method < c.MethodCount(); ++method) {
            for (int32_t pc : {c.CodeOffset(method), c.CodeOffset(method) + static_cast<int32_t>(c.CodeLength(method))}) {
                try {
                    program.LineOfPc(pc);
                } catch (const EError&) {
                }
            }
        }
    }
    // Reports the module may send about any place, or none, in the image.
    const int32_t size = linker.ImageSize();
    for (int32_t k = -1; k <= 64; ++k) {
        const int32_t place = k < 0 ? 0xFFFF : static_cast<int32_t>(int64_t{size} * k / 64);
        try {
            program.LineOfPc(place);
        } catch (const EError&) {
        }
        try {
            program.ClassNameAt(place);
        } catch (const EError&) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string classPath = (SilenceConsole(), ClassPath());
    WriteScratchFile(ScratchDir() + "/Fuzz.class", data, size);

    CMOXLinker linker;
    try {
        linker.Link("Fuzz", classPath);
    } catch (const EError& error) {
        // "Binary too long." is the answer for a class that only the
        // translation brought in (named by instanceof, putstatic and the
        // like), which has no place in the layout. Any other disagreement
        // of the writer with the layout, and the linker's own indexes going
        // wrong, is a fault of ours whatever the input.
        FUZZ_CHECK(!error.Is(ecIDE, 27) || linker.ClassCount() > linker.LaidOutClassCount());
        FUZZ_CHECK(!error.Is(ecIDE, 48));
        return 0;
    }
    CheckImage(linker);
    ExplainOffsets(linker);
    return 0;
}
