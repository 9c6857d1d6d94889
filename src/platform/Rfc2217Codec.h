#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The Telnet layer of a network serial port (RFC 854/855, the COM port
// option of RFC 2217): bytes in, events out, no I/O. The client port of this
// tool and the module simulator's server share it, so it knows both
// directions of every message.

namespace telnet {
constexpr uint8_t kSE = 240;
constexpr uint8_t kNOP = 241;
constexpr uint8_t kSB = 250;
constexpr uint8_t kWILL = 251;
constexpr uint8_t kWONT = 252;
constexpr uint8_t kDO = 253;
constexpr uint8_t kDONT = 254;
constexpr uint8_t kIAC = 255;

constexpr uint8_t kOptionBinary = 0;
constexpr uint8_t kOptionEcho = 1;
constexpr uint8_t kOptionSuppressGoAhead = 3;
constexpr uint8_t kOptionComPort = 44;
} // namespace telnet

// COM-PORT-OPTION sub-negotiation commands: the client sends the numbers
// below, the server answers and notifies with the number plus kServerOffset.
namespace rfc2217 {
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kNotifyLineState = 6;
constexpr uint8_t kNotifyModemState = 7;
constexpr uint8_t kFlowControlSuspend = 8;
constexpr uint8_t kFlowControlResume = 9;
constexpr uint8_t kSetLineStateMask = 10;
constexpr uint8_t kSetModemStateMask = 11;
constexpr uint8_t kPurgeData = 12;
constexpr uint8_t kServerOffset = 100;

// Values of kSetParity and kSetStopSize (0 asks for the current value).
constexpr uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4, kParitySpace = 5;
constexpr uint8_t kStopOne = 1, kStopTwo = 2, kStopOneAndHalf = 3;

// Values of kSetControl.
constexpr uint8_t kControlRequestFlow = 0;
constexpr uint8_t kControlNoFlow = 1;
constexpr uint8_t kControlXonXoffFlow = 2;
constexpr uint8_t kControlRtsCtsFlow = 3;
constexpr uint8_t kControlRequestDtr = 7;
constexpr uint8_t kControlDtrOn = 8;
constexpr uint8_t kControlDtrOff = 9;
constexpr uint8_t kControlRequestRts = 10;
constexpr uint8_t kControlRtsOn = 11;
constexpr uint8_t kControlRtsOff = 12;

// Bits of a modem state report and of kSetModemStateMask.
constexpr uint8_t kModemCd = 0x80;
constexpr uint8_t kModemRi = 0x40;
constexpr uint8_t kModemDsr = 0x20;
constexpr uint8_t kModemCts = 0x10;
constexpr uint8_t kModemDeltaCd = 0x08;
constexpr uint8_t kModemTrailingRi = 0x04;
constexpr uint8_t kModemDeltaDsr = 0x02;
constexpr uint8_t kModemDeltaCts = 0x01;

// Values of kPurgeData.
constexpr uint8_t kPurgeReceive = 1;
constexpr uint8_t kPurgeTransmit = 2;
constexpr uint8_t kPurgeBoth = 3;
} // namespace rfc2217

struct TelnetEvent {
    enum Kind {
        evData,           // `bytes`: line data, IAC doubling undone
        evSubNegotiation, // `option` and its parameters in `bytes`, doubling undone
        evOptionChanged,  // `option` on `local` side (ours) or the peer's became `enabled`
        evCommand,        // a two-byte command other than the negotiation ones
    };
    Kind kind = evData;
    uint8_t option = 0; // also the command byte of evCommand
    bool local = false;
    bool enabled = false;
    std::vector<uint8_t> bytes;
};

class TelnetCodec {
public:
    // A sub-negotiation longer than this is dropped whole: the peer is not
    // trusted to bound its messages.
    static constexpr size_t kMaxSubNegotiation = 256;

    // Options we agree to when the peer asks: `local` for what we do (the peer
    // sends DO), otherwise for what the peer does (the peer sends WILL).
    void Accept(uint8_t option, bool local, bool accept);
    // What either end of a serial line over Telnet agrees to, both ways:
    // binary, suppressed go-ahead and the COM port option.
    void AcceptSerialLineOptions();

    // Asks to switch an option of ours (local) or of the peer on or off. A
    // request that changes nothing sends nothing.
    void Request(uint8_t option, bool local, bool enable);

    bool Enabled(uint8_t option, bool local) const;
    // True while a request of ours has had no answer.
    bool Pending(uint8_t option, bool local) const;

    // Takes bytes from the peer. Data and sub-negotiations come out as events;
    // negotiation is answered (into the output) only when it changes a state,
    // so two ends running this codec cannot loop.
    std::vector<TelnetEvent> Feed(const uint8_t* bytes, size_t size);

    // Bytes to send to the peer: answers and requests made so far.
    std::vector<uint8_t> TakeOutput();
    // Queues data (IAC doubled) or a sub-negotiation for sending.
    void SendData(const uint8_t* bytes, size_t size);
    void SendSubNegotiation(uint8_t option, const std::vector<uint8_t>& parameters);

    // COM-PORT-OPTION sub-negotiation: command then value.
    void SendComPort(uint8_t command, const std::vector<uint8_t>& value);

private:
    enum class OptionState : uint8_t { No, Yes, WantYes, WantNo };
    struct Side {
        OptionState state = OptionState::No;
        bool accept = false;
    };
    enum class ParseState : uint8_t { Data, Iac, Negotiate, Sub, SubIac };

    Side& SideOf(uint8_t option, bool local) { return local ? local_[option] : remote_[option]; }
    void Negotiate(uint8_t verb, uint8_t option, std::vector<TelnetEvent>& events);
    void SendVerb(uint8_t verb, uint8_t option);
    void FlushData(std::vector<TelnetEvent>& events);

    std::array<Side, 256> local_{};
    std::array<Side, 256> remote_{};
    ParseState parse_ = ParseState::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> data_;
    std::vector<uint8_t> sub_;
    bool subTooLong_ = false;
    std::vector<uint8_t> output_;
};

// A COM-PORT-OPTION sub-negotiation, as either end sends it.
struct ComPortMessage {
    uint8_t command = 0;
    std::vector<uint8_t> value;
};

// The COM port message an event carries; false for any other event or an
// empty sub-negotiation.
bool ParseComPortMessage(const TelnetEvent& event, ComPortMessage& message);

// Four bytes, network order, as kSetBaudRate carries its value.
std::vector<uint8_t> BaudRateValue(uint32_t baudRate);
// The rate of a kSetBaudRate value; false when it is not four bytes.
bool BaudRateFromValue(const std::vector<uint8_t>& value, uint32_t& baudRate);
