#include "sim/Rfc2217Server.h"

#include "sim/SimModule.h"

using namespace rfc2217;

void Rfc2217Server::Open(int64_t nowMs)
{
    codec_ = TelnetCodec{};
    using namespace telnet;
    codec_.AcceptSerialLineOptions();
    // A serial line is 8-bit clean both ways; some clients wait for the
    // server to ask for binary before they count the link as ready.
    codec_.Request(kOptionBinary, true, true);
    codec_.Request(kOptionBinary, false, true);
    codec_.Request(kOptionSuppressGoAhead, true, true);
    codec_.Request(kOptionComPort, true, true);
    module_.SetConnected(true, nowMs);
    reportedDsr_ = module_.Dsr();
}

void Rfc2217Server::Close(int64_t nowMs) { module_.SetConnected(false, nowMs); }

void Rfc2217Server::Receive(const uint8_t* bytes, size_t size, int64_t nowMs)
{
    for (const TelnetEvent& event : codec_.Feed(bytes, size)) {
        ComPortMessage message;
        if (event.kind == TelnetEvent::evData)
            module_.ReceiveFromHost(event.bytes.data(), event.bytes.size(), nowMs);
        else if (ParseComPortMessage(event, message))
            HandleComPort(message.command, message.value, nowMs);
    }
    NotifyModemChange();
}

std::vector<uint8_t> Rfc2217Server::TakeOutput(int64_t nowMs, size_t maxModuleBytes)
{
    NotifyModemChange();
    std::vector<uint8_t> data = module_.TakeOutput(nowMs, maxModuleBytes);
    codec_.SendData(data.data(), data.size());
    return codec_.TakeOutput();
}

uint8_t Rfc2217Server::ModemState() const { return module_.Dsr() ? kModemDsr : 0; }

void Rfc2217Server::NotifyModemChange()
{
    bool dsr = module_.Dsr();
    if (dsr == reportedDsr_)
        return;
    reportedDsr_ = dsr;
    uint8_t state = static_cast<uint8_t>((ModemState() | kModemDeltaDsr) & modemMask_);
    if ((modemMask_ & (kModemDsr | kModemDeltaDsr)) != 0)
        codec_.SendComPort(kNotifyModemState + kServerOffset, {state});
}

void Rfc2217Server::HandleComPort(uint8_t command, const std::vector<uint8_t>& value, int64_t nowMs)
{
    // Every command is answered with the value now in force; a value of 0
    // (or none) only asks for it.
    const uint8_t answer = static_cast<uint8_t>(command + kServerOffset);
    uint8_t first = value.empty() ? 0 : value[0];
    switch (command) {
    case kSetBaudRate: {
        uint32_t rate = 0;
        if (BaudRateFromValue(value, rate) && rate != 0)
            baudRate_ = rate;
        codec_.SendComPort(answer, BaudRateValue(baudRate_));
        break;
    }
    case kSetDataSize:
        if (first != 0)
            dataSize_ = first;
        codec_.SendComPort(answer, {dataSize_});
        break;
    case kSetParity:
        if (first != 0)
            parity_ = first;
        codec_.SendComPort(answer, {parity_});
        break;
    case kSetStopSize:
        if (first != 0)
            stopSize_ = first;
        codec_.SendComPort(answer, {stopSize_});
        break;
    case kSetControl:
        HandleControl(first, nowMs);
        break;
    case kNotifyLineState:
        codec_.SendComPort(answer, {0});
        break;
    case kNotifyModemState:
        codec_.SendComPort(answer, {ModemState()});
        break;
    case kSetLineStateMask:
        lineMask_ = first;
        codec_.SendComPort(answer, {lineMask_});
        break;
    case kSetModemStateMask:
        modemMask_ = first;
        codec_.SendComPort(answer, {modemMask_});
        break;
    case kPurgeData:
        // Our receive buffer holds what the module sent and the client has
        // not had yet; the module takes the client's bytes at once, so there
        // is no transmit buffer to purge.
        if (first == kPurgeReceive || first == kPurgeBoth)
            module_.PurgeOutput();
        codec_.SendComPort(answer, {first});
        break;
    default:
        break; // flow suspend and resume: the module never overruns
    }
}

void Rfc2217Server::HandleControl(uint8_t value, int64_t nowMs)
{
    const uint8_t answer = kSetControl + kServerOffset;
    switch (value) {
    case kControlRequestFlow:
        codec_.SendComPort(answer, {flow_});
        break;
    case kControlNoFlow:
    case kControlXonXoffFlow:
    case kControlRtsCtsFlow:
        flow_ = value;
        codec_.SendComPort(answer, {flow_});
        break;
    case kControlRequestDtr:
        codec_.SendComPort(answer, {module_.Dtr() ? kControlDtrOn : kControlDtrOff});
        break;
    case kControlDtrOn:
    case kControlDtrOff:
        module_.SetDtr(value == kControlDtrOn, nowMs);
        codec_.SendComPort(answer, {value});
        break;
    case kControlRequestRts:
        codec_.SendComPort(answer, {module_.Rts() ? kControlRtsOn : kControlRtsOff});
        break;
    case kControlRtsOn:
    case kControlRtsOff:
        module_.SetRts(value == kControlRtsOn);
        codec_.SendComPort(answer, {value});
        break;
    default:
        // Break and the inbound flow settings: agreed to, with no effect.
        codec_.SendComPort(answer, {value});
        break;
    }
}
