// Commands to the module and the one query with a structured reply.

#include "device/TSXComm.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

namespace {

constexpr unsigned kAckTimeoutMs = 5000;
constexpr int kStatusCapacity = 100;
constexpr int kStatusLength = 6;
constexpr uint8_t kStatusType = 0x81;

} // namespace

void TSXComm::SendCommand(int code)
{
    if (Settings().LogLevel >= 1)
        DebugPrint("TSXComm::SendCommand(%d)", code);
    TransmitByte(static_cast<uint8_t>(code));
}

void TSXComm::SendSimpleCommand(int code)
{
    if (Settings().LogLevel >= 1)
        DebugPrint("TSXComm::SendSimpleCommand(%d)", code);
    TransmitByte(static_cast<uint8_t>(code));
    WaitForAck(code, kAckTimeoutMs);
}

void TSXComm::QueryStatus(int32_t& pc, int32_t& activity, int32_t& extra)
{
    if (Settings().LogLevel >= 1)
        DebugPrint("TSXComm::QueryStatus");
    SendCommand(kComQueryStatus);
    uint8_t packet[kStatusCapacity] = {};
    int length = kStatusCapacity;
    ReceivePacket(packet, length);
    // The order of the checks is part of what the user sees: a 6-byte reply
    // with a bad checksum is a checksum error even if its type is wrong too.
    if (length != kStatusLength)
        throw EError(ecIDE, 10, packet[0]);
    if (!ChecksumValid(packet, kStatusLength))
        throw EError(ecIDE, 9);
    if (packet[0] != kStatusType)
        throw EError(ecIDE, 10, packet[0]);
    // Little-endian here, unlike the exception report.
    pc = static_cast<int32_t>(packet[1] + 256 * packet[2]) - 1;
    activity = packet[3];
    extra = packet[4];
}
