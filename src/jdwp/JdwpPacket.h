#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The debug wire protocol's packets: an 11-byte header (length, id, flags,
// then command set and command, or an error code in a reply) and big-endian
// data. Every id is 8 bytes on this wire (the sizes the server announces).

namespace jdwp {

constexpr size_t kHeaderBytes = 11;
// Commands a debugger sends are small; anything larger is hostile.
constexpr uint32_t kMaxPacketBytes = 64 * 1024;
constexpr uint8_t kReplyFlag = 0x80;
constexpr char kHandshake[] = "JDWP-Handshake";
constexpr size_t kHandshakeBytes = sizeof kHandshake - 1;

struct CommandHeader {
    uint32_t length = 0;
    uint32_t id = 0;
    uint8_t flags = 0;
    uint8_t commandSet = 0;
    uint8_t command = 0;
};

// Reads a packet's fields with a check on each: reading past the end, or a
// string longer than what is left, marks the reader failed and yields zero.
class PacketReader {
public:
    PacketReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t U8();
    bool Bool() { return U8() != 0; }
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint64_t U64();
    uint64_t Id() { return U64(); }
    std::string String();

    bool Failed() const { return failed_; }
    size_t Remaining() const { return size_ - pos_; }

private:
    bool Take(size_t bytes);

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool failed_ = false;
};

class PacketWriter {
public:
    void U8(uint8_t value) { bytes_.push_back(value); }
    void Bool(bool value) { U8(value ? 1 : 0); }
    void U16(uint16_t value);
    void U32(uint32_t value);
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
    void U64(uint64_t value);
    void Id(uint64_t value) { U64(value); }
    void String(const std::string& text);

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

// The header at the start of `data` (at least kHeaderBytes).
CommandHeader ReadHeader(const uint8_t* data);
// Appends a whole packet to `out`.
void AppendReply(std::vector<uint8_t>& out, uint32_t id, uint16_t errorCode, const PacketWriter& data);
void AppendCommand(std::vector<uint8_t>& out, uint32_t id, uint8_t commandSet, uint8_t command, const PacketWriter& data);

} // namespace jdwp
