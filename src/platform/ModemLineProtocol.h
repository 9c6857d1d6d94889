#pragma once

#include <cstdint>
#include <string>

// How a process that drives the modem lines of a pseudo-terminal reaches the
// simulator serving it. A pseudo-terminal has no modem lines of its own; the
// test library libmorvane_modemlines.so turns a host's TIOCMGET, TIOCMSET,
// TIOCMBIS and TIOCMBIC on such a device into one datagram to the simulator
// and waits for the one that answers it. The socket is named after the
// device's number, so that the device alone leads to it, and is gone with
// the simulator: a device nobody serves keeps its own answer.
namespace modemlines {

constexpr uint32_t kMagic = 0x4D4C4E31; // "MLN1"

enum Op : uint32_t {
    opGet = 1,   // only asks
    opSet = 2,   // the host's lines become `lines`
    opRaise = 3, // the host's lines in `lines` go high
    opLower = 4, // the host's lines in `lines` go low
};

// Bits of `lines`.
constexpr uint32_t kDtr = 1u << 0;
constexpr uint32_t kRts = 1u << 1;
constexpr uint32_t kDsr = 1u << 2;
constexpr uint32_t kHostLines = kDtr | kRts; // the lines the host drives

struct Request {
    uint32_t magic = kMagic;
    uint32_t op = opGet;
    uint32_t lines = 0;
};

struct Reply {
    uint32_t magic = kMagic;
    int32_t error = 0;  // 0, or the system error number the request fails with
    uint32_t lines = 0; // every line, after the request
};

// How long a request waits for its answer. The simulator answers within a
// turn of its loop; this only bounds what a simulator that hangs costs.
constexpr int kReplyTimeoutMs = 2000;

// The name, in the abstract socket namespace (after its leading zero byte),
// of the socket that serves the device numbered `device`: the prefix, then
// the number in decimal.
constexpr const char* kSocketPrefix = "morvane-modemlines/";
inline std::string SocketName(uint64_t device) { return kSocketPrefix + std::to_string(device); }

} // namespace modemlines
