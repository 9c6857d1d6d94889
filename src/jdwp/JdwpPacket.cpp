#include "jdwp/JdwpPacket.h"

namespace jdwp {

namespace {

void AppendHeader(std::vector<uint8_t>& out, uint32_t length, uint32_t id, uint8_t flags)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(length >> shift));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(id >> shift));
    out.push_back(flags);
}

} // namespace

bool PacketReader::Take(size_t bytes)
{
    if (failed_ || bytes > size_ - pos_) {
        failed_ = true;
        return false;
    }
    return true;
}

uint8_t PacketReader::U8()
{
    if (!Take(1))
        return 0;
    return data_[pos_++];
}

uint32_t PacketReader::U32()
{
    if (!Take(4))
        return 0;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | data_[pos_++];
    return value;
}

uint64_t PacketReader::U64()
{
    if (!Take(8))
        return 0;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | data_[pos_++];
    return value;
}

std::string PacketReader::String()
{
    uint32_t length = U32();
    if (!Take(length))
        return {};
    std::string text(reinterpret_cast<const char*>(data_ + pos_), length);
    pos_ += length;
    return text;
}

void PacketWriter::U16(uint16_t value)
{
    U8(static_cast<uint8_t>(value >> 8));
    U8(static_cast<uint8_t>(value));
}

void PacketWriter::U32(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        U8(static_cast<uint8_t>(value >> shift));
}

void PacketWriter::U64(uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8)
        U8(static_cast<uint8_t>(value >> shift));
}

void PacketWriter::String(const std::string& text)
{
    U32(static_cast<uint32_t>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}

CommandHeader ReadHeader(const uint8_t* data)
{
    CommandHeader header;
    header.length = static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
                    static_cast<uint32_t>(data[2]) << 8 | data[3];
    header.id = static_cast<uint32_t>(data[4]) << 24 | static_cast<uint32_t>(data[5]) << 16 |
                static_cast<uint32_t>(data[6]) << 8 | data[7];
    header.flags = data[8];
    header.commandSet = data[9];
    header.command = data[10];
    return header;
}

void AppendReply(std::vector<uint8_t>& out, uint32_t id, uint16_t errorCode, const PacketWriter& data)
{
    AppendHeader(out, static_cast<uint32_t>(kHeaderBytes + data.Size()), id, kReplyFlag);
    out.push_back(static_cast<uint8_t>(errorCode >> 8));
    out.push_back(static_cast<uint8_t>(errorCode));
    out.insert(out.end(), data.Bytes().begin(), data.Bytes().end());
}

void AppendCommand(std::vector<uint8_t>& out, uint32_t id, uint8_t commandSet, uint8_t command, const PacketWriter& data)
{
    AppendHeader(out, static_cast<uint32_t>(kHeaderBytes + data.Size()), id, 0);
    out.push_back(commandSet);
    out.push_back(command);
    out.insert(out.end(), data.Bytes().begin(), data.Bytes().end());
}

} // namespace jdwp
