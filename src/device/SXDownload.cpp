// Sending a Mox image: a start command, then 19-byte block packets of 16
// image bytes, each acknowledged before the next goes out.

#include "device/TSXComm.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kBlockData = 16;
constexpr int kBlockPacket = kBlockData + 3;
constexpr unsigned kBlockAckTimeoutMs = 2000;
constexpr uint8_t kRunMarker = 0xA4;
constexpr int kDotsWanted = 20;

} // namespace

void TSXComm::DownloadMoxFile(uint8_t* image, int32_t length, bool /*debug*/)
{
    if (Settings().LogLevel >= 1)
        DebugPrint("TSXComm::DownloadMoxFile(%d)", length);
    SendSimpleCommand(kComBeginDownload);
    // The header's run/debug byte: the module runs the program after reset.
    if (length > 0)
        image[0] = kRunMarker;
    ConsolePrint("Downloading ");

    int32_t blocks = length > 0 ? (length + kBlockData - 1) / kBlockData : 0;
    // Under 20 blocks the interval would be 0: a dot for every block then.
    int32_t interval = std::max(blocks / kDotsWanted, 1);
    for (int32_t i = 0; i < blocks; ++i) {
        if (i % interval == 0)
            ConsolePrint(".");
        uint8_t packet[kBlockPacket] = {};
        packet[0] = kComDownloadBlock;
        packet[1] = i == 0 ? 1 : 0;
        // Past the end of the image the block is filled with zeros; the
        // caller's buffer need not hold them.
        int32_t offset = i * kBlockData;
        int32_t take = std::min(kBlockData, length - offset);
        std::memcpy(packet + 2, image + offset, static_cast<size_t>(take));
        packet[kBlockPacket - 1] = PacketChecksum(packet, kBlockPacket - 1);
        TransmitPacket(packet, kBlockPacket);
        WaitForAck(kComDownloadBlock, kBlockAckTimeoutMs);
    }
    ConsolePrint("\n");
}
