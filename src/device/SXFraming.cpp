// Bytes and packets on the line: echoes, byte stuffing, checksums, and the
// acknowledgement of a command.

#include "device/TSXComm.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "serial/TCommPortDriver.h"

#include <algorithm>
#include <vector>

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;
constexpr int kMaxPacket = 512;
constexpr unsigned kByteTimeoutMs = 5000;
constexpr int64_t kPacketByteGapMs = 1000;
constexpr int64_t kPacketTotalMs = 2000;

bool Traced(int level) { return Settings().LogLevel >= level; }

// What a byte looks like inside '%c' of a trace line.
int Shown(uint8_t b) { return b >= 0x20 && b < 0x7F ? b : '.'; }

} // namespace

TSXComm::TSXComm(TCommPortDriver& driver) : driver_(driver) {}

TSXComm::~TSXComm()
{
    if (driver_.Connected())
        driver_.Disconnect();
}

bool TSXComm::BytesWaiting() { return driver_.CharCount() > 0; }

bool TSXComm::AwaitByte(int64_t lastMs)
{
    while (!BytesWaiting()) {
        if (driver_.NowMs() > lastMs)
            return false;
        // The first moment that is beyond `lastMs`.
        if (driver_.WaitForData(lastMs + 1) < 0)
            throw EError(ecIDE, 8, driver_.LastError());
    }
    return true;
}

void TSXComm::WaitForByte(int64_t lastMs)
{
    if (!AwaitByte(lastMs))
        throw EError(ecIDE, 22);
}

uint8_t TSXComm::ReadWaitingByte()
{
    uint8_t b = 0;
    if (driver_.ReadChar(b))
        throw EError(ecIDE, 8, driver_.LastError());
    return b;
}

void TSXComm::TransmitByte(uint8_t b)
{
    if (Traced(3))
        DebugPrint("Transmit: $%2.2X '%c'", b, b);
    if (driver_.SendData(&b, 1) != 1)
        throw EError(ecIDE, 7, driver_.LastError());
    ++pendingEchoes_;
}

void TSXComm::TransmitPacket(const uint8_t* bytes, int length)
{
    // The stuffed form of the largest packet fits twice its size; a longer
    // packet is the caller's error and must not overrun the work buffer.
    if (length < 0 || length > kMaxPacket)
        throw EError(ecIDE, 11);
    std::vector<uint8_t> stuffed;
    stuffed.reserve(2 * static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        if (bytes[i] == kEscape || bytes[i] == kFlag) {
            stuffed.push_back(kEscape);
            stuffed.push_back(static_cast<uint8_t>(bytes[i] ^ kEscapeXor));
        } else {
            stuffed.push_back(bytes[i]);
        }
    }
    if (Traced(3))
        DebugPrint("Transmiting packet");
    int32_t size = static_cast<int32_t>(stuffed.size());
    pendingEchoes_ += size;
    if (driver_.SendData(stuffed.data(), size) != size)
        throw EError(ecIDE, 7, driver_.LastError());
}

uint8_t TSXComm::ReadByte(unsigned timeoutMs)
{
    int64_t start = driver_.NowMs();
    if (!Settings().IgnoreEcho) {
        // One time-out for all the echoes: a line that trickles them back
        // slowly cannot stretch it.
        while (pendingEchoes_ > 0) {
            WaitForByte(start + timeoutMs);
            uint8_t echo = ReadWaitingByte();
            if (Traced(3))
                DebugPrint("Discarding echo 0x%2.2X '%c'", echo, echo);
            --pendingEchoes_;
        }
    }
    start = driver_.NowMs();
    WaitForByte(start + timeoutMs);
    return ReadWaitingByte();
}

void TSXComm::ReceivePacket(uint8_t* buffer, int& length)
{
    const int capacity = length;
    for (;;) {
        int64_t packetStart = driver_.NowMs();
        int count = 0;
        bool escaped = false;
        for (;;) {
            int64_t byteStart = driver_.NowMs();
            WaitForByte(std::min(byteStart + kPacketByteGapMs, packetStart + kPacketTotalMs));
            uint8_t b = ReadByte(kByteTimeoutMs);
            if (b == kFlag) {
                if (count > 0) {
                    if (Traced(3))
                        DebugPrint("Flag - end");
                    break;
                }
                if (Traced(3))
                    DebugPrint("Flag - resetting");
                escaped = false;
                continue;
            }
            if (b == kEscape) {
                if (Traced(3))
                    DebugPrint("Escape");
                escaped = true;
                continue;
            }
            if (escaped) {
                b ^= kEscapeXor;
                if (Traced(3))
                    DebugPrint("Escaped data");
            }
            if (Traced(3))
                DebugPrint("Receive 0x%2.2X '%c'", b, b);
            if (count < capacity)
                buffer[count] = b;
            ++count;
            if (count >= capacity)
                throw EError(ecIDE, 11);
            escaped = false;
        }
        // Only the newest reply counts: an older one still queued ahead of
        // it answered an earlier question.
        if (!BytesWaiting()) {
            length = count;
            return;
        }
        DebugPrint("Discarding packet");
    }
}

uint8_t TSXComm::PacketChecksum(const uint8_t* bytes, int length)
{
    uint8_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(~sum + 1);
}

bool TSXComm::ChecksumValid(const uint8_t* bytes, int length)
{
    uint8_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum == 0;
}

void TSXComm::WaitForAck(int code, unsigned timeoutMs)
{
    const uint8_t expected = static_cast<uint8_t>(code | 0x80);
    // Counted from the call: unsolicited bytes cannot extend it.
    const int64_t start = driver_.NowMs();
    for (;;) {
        WaitForByte(start + timeoutMs);
        int64_t readStart = driver_.NowMs();
        uint8_t b = ReadByte(kByteTimeoutMs);
        if (Traced(3))
            DebugPrint("TSXComm::received byte $%2.2X '%c' in %dms", b, Shown(b), static_cast<int>(readStart - start));
        if (b == expected)
            return;
        // A message, an input request or a start-up signal of the module.
        ReceiveBytes(&b, 1, program_);
        if (driver_.NowMs() > start + static_cast<int64_t>(timeoutMs))
            throw EError(ecIDE, 22);
    }
}
