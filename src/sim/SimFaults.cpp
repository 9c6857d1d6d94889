#include "sim/SimFaults.h"

#include <cctype>

namespace {

constexpr uint8_t kStartLoad = 0x0F;
// Beyond any download (2048 blocks fill the EEPROM) and any start-up a host
// would wait for; the bounds only keep the numbers sane.
constexpr long kMaxBlock = 4096;
constexpr long kMaxGarbage = 65535;
constexpr long kMaxStatusByte = 13; // six bytes, each possibly escaped, and the flag
constexpr long kMaxSilentAfter = 999999;

// A decimal number in [low, high], or hexadecimal after "0x".
bool ParseNumber(const std::string& text, long low, long high, long& value)
{
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 6)
        return false;
    value = 0;
    for (char c : digits) {
        unsigned char u = static_cast<unsigned char>(c);
        if (hex ? !std::isxdigit(u) : !std::isdigit(u))
            return false;
        int digit = std::isdigit(u) ? c - '0' : std::tolower(u) - 'a' + 10;
        value = value * (hex ? 16 : 10) + digit;
    }
    return value >= low && value <= high;
}

} // namespace

const std::vector<std::string>& SimFaultNames()
{
    static const std::vector<std::string> names = {"drop-ack", "corrupt-status", "silent-after", "hang-up-at-block",
                                                   "garbage",  "ping-answer",    "dsr"};
    return names;
}

bool ParseSimFault(const std::string& name, const std::string& value, SimFaults& faults)
{
    long number = 0;
    if (name == "dsr") {
        if (value == "low")
            faults.dsr = SimFaults::Dsr::dsLow;
        else if (value == "high")
            faults.dsr = SimFaults::Dsr::dsHigh;
        else if (value == "rts")
            faults.dsr = SimFaults::Dsr::dsFollowsRts;
        else
            return false;
        return true;
    }
    if (name == "drop-ack" && ParseNumber(value, 1, kMaxBlock, number)) {
        faults.dropAckOfBlock = static_cast<int32_t>(number);
    } else if (name == "hang-up-at-block" && ParseNumber(value, 1, kMaxBlock, number)) {
        faults.hangUpAtBlock = static_cast<int32_t>(number);
    } else if (name == "corrupt-status" && ParseNumber(value, 0, kMaxStatusByte, number)) {
        faults.corruptStatusByte = static_cast<int32_t>(number);
    } else if (name == "silent-after" && ParseNumber(value, 0, kMaxSilentAfter, number)) {
        faults.silentAfterBytes = number;
    } else if (name == "garbage" && ParseNumber(value, 1, kMaxGarbage, number)) {
        faults.garbageBeforeStartUp = static_cast<int32_t>(number);
    } else if (name == "ping-answer" && ParseNumber(value, 0, 255, number)) {
        faults.pingAnswer = static_cast<int32_t>(number);
    } else {
        return false;
    }
    return true;
}

std::vector<uint8_t> StartUpGarbage(int32_t count)
{
    // A fixed linear congruential sequence: every byte value turns up, the
    // protocol's own codes (flags, escapes, message and input-request bytes,
    // end-of-start-up bytes) among them.
    std::vector<uint8_t> bytes;
    uint32_t state = 0x2545F491;
    while (static_cast<int32_t>(bytes.size()) < count) {
        state = state * 1664525u + 1013904223u;
        uint8_t b = static_cast<uint8_t>(state >> 24);
        if (b != kStartLoad)
            bytes.push_back(b);
    }
    return bytes;
}
