#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Ways the simulated module can misbehave on its line, so that a host can be
// shown a noisy, half-connected or foreign peer on demand. All are off by
// default; each is deterministic, so a run against it can be repeated.
struct SimFaults {
    enum class Dsr : uint8_t { dsFollowsRts, dsLow, dsHigh };

    // This block of every download (1-based, counted from the begin-download
    // command) is written but its acknowledgement is lost.
    int32_t dropAckOfBlock = 0;
    // This byte of every status packet as it goes on the line (0-based,
    // escapes and the closing flag included) goes out with its bits inverted.
    int32_t corruptStatusByte = -1;
    // The module's transmitter dies once it has put this many bytes on the
    // line since its last start-up (echoes included); a reset revives it.
    // Bytes sent while no host is connected do not count. -1: never.
    int64_t silentAfterBytes = -1;
    // When this block of a download (1-based) has arrived, the line is cut:
    // the server hangs up, unacknowledged.
    int32_t hangUpAtBlock = 0;
    // Noise bytes sent before every kComStartLoad, as a module still talking
    // when it was reset would; never the start-up byte itself.
    int32_t garbageBeforeStartUp = 0;
    // The loader answers a ping with this byte instead of its echo, like
    // another device on the port. The start-up window's ping is answered as
    // usual, so a probe gets as far as its second ping. -1: the echo.
    int32_t pingAnswer = -1;
    Dsr dsr = Dsr::dsFollowsRts;

    bool operator==(const SimFaults&) const = default;
};

// The names of the faults, as morvane-sim takes them ("--drop-ack 3") and as
// the sim port passes them on ("sim:drop-ack=3").
const std::vector<std::string>& SimFaultNames();

// Sets the fault `name` from its value text; false when the name is not a
// fault's or the value is not one it takes.
bool ParseSimFault(const std::string& name, const std::string& value, SimFaults& faults);

// The noise sent before a start-up byte: `count` bytes, the same each time,
// none of them kComStartLoad.
std::vector<uint8_t> StartUpGarbage(int32_t count);
