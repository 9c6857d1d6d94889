// The --load path with a fuzzed .mox file: the file is read as the run reads
// it, the module is found on the chosen port, and the image is downloaded
// into a scripted module that acknowledges every block. A file the reader
// takes must arrive whole: the run marker in front, the last block padded
// with zeros, every block checksummed, and no echo left over.

#include "FuzzDevice.h"
#include "FuzzSupport.h"

#include "driver/MoxFile.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (SilenceConsole(), true);
    (void)ready;
    const std::string fileName = ScratchDir() + "/Fuzz.mox";
    WriteScratchFile(fileName, data, size);

    MoxFileImage file;
    try {
        file = ReadMoxFile(fileName);
    } catch (const EError&) {
        FUZZ_CHECK(size == 0 || size > 65535);
        return 0;
    }
    FUZZ_CHECK(size > 0 && size <= 65535);
    FUZZ_CHECK(file.length == static_cast<int32_t>(size));
    FUZZ_CHECK(file.buffer.size() >= size + 16);
    FUZZ_CHECK(std::equal(data, data + size, file.buffer.begin()));
    FUZZ_CHECK(std::all_of(file.buffer.begin() + static_cast<long>(size), file.buffer.end(), [](uint8_t b) { return b == 0; }));

    InitialiseSettings();
    Settings().PortChosen = true;
    Settings().PortDevice = FuzzDevice::kPortName;
    FuzzDevice device;
    ScriptedModule& module = device.module.emplace(device.line, ModuleScript{});
    try {
        device.comm.FindModule();
        device.comm.DownloadMoxFile(file.buffer.data(), file.length, false);
    } catch (const EError&) {
        FUZZ_CHECK(false); // the module answers everything: no error is due
    }

    std::vector<uint8_t> expected(data, data + size);
    expected[0] = 0xA4;
    const size_t blocks = (size + 15) / 16;
    expected.resize(blocks * 16, 0);
    FUZZ_CHECK(module.badBlocks == 0);
    FUZZ_CHECK(module.blockPackets.size() == blocks);
    FUZZ_CHECK(module.image == expected);
    FUZZ_CHECK(device.comm.PendingEchoes() == 0);
    InitialiseSettings();
    return 0;
}
