#include "platform/Rfc2217Codec.h"

using namespace telnet;

void TelnetCodec::Accept(uint8_t option, bool local, bool accept) { SideOf(option, local).accept = accept; }

void TelnetCodec::AcceptSerialLineOptions()
{
    for (uint8_t option : {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead, telnet::kOptionComPort}) {
        Accept(option, true, true);
        Accept(option, false, true);
    }
}

bool TelnetCodec::Enabled(uint8_t option, bool local) const
{
    return (local ? local_ : remote_)[option].state == OptionState::Yes;
}

bool TelnetCodec::Pending(uint8_t option, bool local) const
{
    OptionState state = (local ? local_ : remote_)[option].state;
    return state == OptionState::WantYes || state == OptionState::WantNo;
}

void TelnetCodec::SendVerb(uint8_t verb, uint8_t option)
{
    output_.push_back(kIAC);
    output_.push_back(verb);
    output_.push_back(option);
}

void TelnetCodec::Request(uint8_t option, bool local, bool enable)
{
    Side& side = SideOf(option, local);
    // Only a settled state is changed: asking again while an answer is due
    // would let two ends ping-pong their requests.
    if (enable && side.state == OptionState::No) {
        side.state = OptionState::WantYes;
        SendVerb(local ? kWILL : kDO, option);
    } else if (!enable && side.state == OptionState::Yes) {
        side.state = OptionState::WantNo;
        SendVerb(local ? kWONT : kDONT, option);
    }
}

// The "Q method" of RFC 1143 without its queue: a verb answers our pending
// request or is a request of the peer, and only a request that changes the
// state is answered.
void TelnetCodec::Negotiate(uint8_t verb, uint8_t option, std::vector<TelnetEvent>& events)
{
    bool local = verb == kDO || verb == kDONT; // DO/DONT are about what we do
    bool positive = verb == kDO || verb == kWILL;
    Side& side = SideOf(option, local);
    uint8_t yes = local ? kWILL : kDO;
    uint8_t no = local ? kWONT : kDONT;
    auto changed = [&](bool enabled) {
        TelnetEvent event;
        event.kind = TelnetEvent::evOptionChanged;
        event.option = option;
        event.local = local;
        event.enabled = enabled;
        events.push_back(std::move(event));
    };
    switch (side.state) {
    case OptionState::No:
        if (positive) {
            if (side.accept) {
                side.state = OptionState::Yes;
                SendVerb(yes, option);
                changed(true);
            } else {
                SendVerb(no, option);
            }
        }
        break;
    case OptionState::Yes:
        if (!positive) {
            side.state = OptionState::No;
            SendVerb(no, option);
            changed(false);
        }
        break;
    case OptionState::WantYes:
        side.state = positive ? OptionState::Yes : OptionState::No;
        if (positive)
            changed(true);
        break;
    case OptionState::WantNo:
        // A positive answer to our "no" is the peer's error; either way the
        // option ends up off, as we asked.
        side.state = OptionState::No;
        changed(false);
        break;
    }
}

void TelnetCodec::FlushData(std::vector<TelnetEvent>& events)
{
    if (data_.empty())
        return;
    TelnetEvent event;
    event.kind = TelnetEvent::evData;
    event.bytes.swap(data_);
    events.push_back(std::move(event));
}

std::vector<TelnetEvent> TelnetCodec::Feed(const uint8_t* bytes, size_t size)
{
    std::vector<TelnetEvent> events;
    for (size_t i = 0; i < size; ++i) {
        uint8_t b = bytes[i];
        switch (parse_) {
        case ParseState::Data:
            if (b == kIAC)
                parse_ = ParseState::Iac;
            else
                data_.push_back(b);
            break;
        case ParseState::Iac:
            parse_ = ParseState::Data;
            if (b == kIAC) {
                data_.push_back(b);
            } else if (b == kWILL || b == kWONT || b == kDO || b == kDONT) {
                verb_ = b;
                parse_ = ParseState::Negotiate;
            } else if (b == kSB) {
                sub_.clear();
                subTooLong_ = false;
                parse_ = ParseState::Sub;
            } else if (b != kSE) { // a stray SE ends nothing
                FlushData(events);
                TelnetEvent event;
                event.kind = TelnetEvent::evCommand;
                event.option = b;
                events.push_back(std::move(event));
            }
            break;
        case ParseState::Negotiate:
            // Events keep the order of the stream: data before the verb first.
            FlushData(events);
            Negotiate(verb_, b, events);
            parse_ = ParseState::Data;
            break;
        case ParseState::Sub:
            if (b == kIAC) {
                parse_ = ParseState::SubIac;
            } else if (sub_.size() < kMaxSubNegotiation) {
                sub_.push_back(b);
            } else {
                subTooLong_ = true;
            }
            break;
        case ParseState::SubIac:
            if (b == kIAC) {
                if (sub_.size() < kMaxSubNegotiation)
                    sub_.push_back(b);
                else
                    subTooLong_ = true;
                parse_ = ParseState::Sub;
                break;
            }
            if (b == kSE && !sub_.empty() && !subTooLong_) {
                FlushData(events);
                TelnetEvent event;
                event.kind = TelnetEvent::evSubNegotiation;
                event.option = sub_[0];
                event.bytes.assign(sub_.begin() + 1, sub_.end());
                events.push_back(std::move(event));
            }
            sub_.clear();
            parse_ = ParseState::Data;
            // IAC and anything but SE inside a sub-negotiation is malformed:
            // the sub-negotiation is dropped and the byte read again as the
            // command after an IAC.
            if (b != kSE) {
                parse_ = ParseState::Iac;
                --i; // unsigned wrap-around is undone by the loop's ++i
            }
            break;
        }
    }
    FlushData(events);
    return events;
}

std::vector<uint8_t> TelnetCodec::TakeOutput()
{
    std::vector<uint8_t> out;
    out.swap(output_);
    return out;
}

void TelnetCodec::SendData(const uint8_t* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == kIAC)
            output_.push_back(kIAC);
        output_.push_back(bytes[i]);
    }
}

void TelnetCodec::SendSubNegotiation(uint8_t option, const std::vector<uint8_t>& parameters)
{
    output_.push_back(kIAC);
    output_.push_back(kSB);
    output_.push_back(option);
    SendData(parameters.data(), parameters.size());
    output_.push_back(kIAC);
    output_.push_back(kSE);
}

void TelnetCodec::SendComPort(uint8_t command, const std::vector<uint8_t>& value)
{
    std::vector<uint8_t> parameters;
    parameters.reserve(value.size() + 1);
    parameters.push_back(command);
    parameters.insert(parameters.end(), value.begin(), value.end());
    SendSubNegotiation(kOptionComPort, parameters);
}

bool ParseComPortMessage(const TelnetEvent& event, ComPortMessage& message)
{
    if (event.kind != TelnetEvent::evSubNegotiation || event.option != kOptionComPort || event.bytes.empty())
        return false;
    message.command = event.bytes[0];
    message.value.assign(event.bytes.begin() + 1, event.bytes.end());
    return true;
}

std::vector<uint8_t> BaudRateValue(uint32_t baudRate)
{
    return {static_cast<uint8_t>(baudRate >> 24), static_cast<uint8_t>(baudRate >> 16),
            static_cast<uint8_t>(baudRate >> 8), static_cast<uint8_t>(baudRate)};
}

bool BaudRateFromValue(const std::vector<uint8_t>& value, uint32_t& baudRate)
{
    if (value.size() != 4)
        return false;
    baudRate = (static_cast<uint32_t>(value[0]) << 24) | (static_cast<uint32_t>(value[1]) << 16) |
               (static_cast<uint32_t>(value[2]) << 8) | value[3];
    return true;
}
