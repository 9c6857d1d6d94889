// The debug server's packet reader from arbitrary bytes: a handshake, then
// whatever follows, fed to a session over a linked program in pieces of
// varying size. Whatever arrives, the session answers or refuses the
// connection without reading outside its packets, and the program it
// watches still runs to its end.

#include "FuzzSupport.h"

#include "image/DebugInfo.h"
#include "jdwp/JdwpSession.h"
#include "linker/CMOXLinker.h"
#include "sim/Board.h"
#include "sim/MoxVm.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace {

class SilentLink final : public VmLink {
public:
    void SendMessage(uint8_t, const uint8_t*, size_t) override {}
    bool RequestKey() override { return false; }
};

struct Linked {
    std::vector<uint8_t> image;
    ProgramDebugInfo info;
};

const Linked& Program()
{
    static const Linked linked = [] {
        Linked result;
        CMOXLinker linker;
        linker.Link("Debugee", std::string(MORVANE_LIB_DIR) + ";" + MORVANE_FIXTURE_DIR + "/jdwp");
        result.image.assign(linker.ImageData(), linker.ImageData() + linker.ImageSize());
        result.image.resize((result.image.size() + 15) / 16 * 16, 0);
        result.info = BuildDebugInfo(linker);
        return result;
    }();
    return linked;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Linked& linked = Program();
    Board board;
    SilentLink link;
    MoxVm vm(linked.image, static_cast<uint32_t>(linked.image.size()), MoxVm::kDefaultRamBytes, board, link);
    jdwp::JdwpSession session(vm, linked.info);
    if (!session.Receive(reinterpret_cast<const uint8_t*>(jdwp::kHandshake), jdwp::kHandshakeBytes))
        std::abort();
    session.VmStarted();
    size_t at = 0;
    while (at < size) {
        // The first byte of each piece says how long it is.
        size_t piece = std::min<size_t>(1 + data[at] % 64, size - at);
        if (!session.Receive(data + at, piece))
            break;
        at += piece;
    }
    session.ResumeAll();
    vm.Run(10'000'000, INT64_MAX);
    // A debugger may set values that make the program throw or halt; it may
    // not keep it from stopping.
    if (!vm.Stopped())
        std::abort();
    return 0;
}
