#include "sim/SimModule.h"

#include <algorithm>
#include <climits>

namespace {

constexpr uint8_t kQueryStatus = 0x01;
constexpr uint8_t kMessage = 0x05;
constexpr uint8_t kDownloadBlock = 0x0B;
constexpr uint8_t kBeginDownload = 0x0C;
constexpr uint8_t kPing = 0x0E;
constexpr uint8_t kStartLoad = 0x0F;
constexpr uint8_t kInputRequest = 0x11;
constexpr uint8_t kInputByte = 0x12;
constexpr uint8_t kNoInput = 0x13;
constexpr uint8_t kEndLoadLoader = 0x50;
constexpr uint8_t kEndLoadRunning = 0x51;
constexpr uint8_t kAck = 0x80;
constexpr uint8_t kStatusPacket = 0x81;
constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;
constexpr size_t kBlockBytes = 19;
constexpr size_t kBlockData = 16;

// A module's transmit buffer: the program waits while more than this is
// still to go out. Unpaced, the limit only bounds memory when the host stops
// reading.
constexpr size_t kPacedTransmitLimit = 64;
constexpr size_t kUnpacedTransmitLimit = 4096;

std::string Hex(uint32_t value)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return "0x" + text;
}

} // namespace

SimModule::SimModule(const Options& options) : options_(options), program_(kProgramEepromBytes, 0xFF) {}

SimModule::~SimModule()
{
    if (vm_ && options_.watcher != nullptr)
        options_.watcher->ProgramLeaving(*vm_);
}

void SimModule::PowerOn(int64_t nowMs)
{
    nowMs_ = nowMs;
    StartUp(nowMs);
    poweringOn_ = true;
}

void SimModule::SetConnected(bool connected, int64_t nowMs)
{
    nowMs_ = nowMs;
    if (connected == connected_)
        return;
    connected_ = connected;
    output_.clear();
    lineFreeUs_ = nowMs * 1000;
    receive_ = Receive::rxCommand;
    if (!connected) {
        // An unplugged cable: the lines fall, and whoever waits for the
        // host's answer gets none.
        if (vm_)
            vm_->ProvideKey(-1);
        SetDtr(false, nowMs);
        rts_ = false;
    }
}

void SimModule::SetDtr(bool on, int64_t nowMs)
{
    nowMs_ = nowMs;
    if (on == dtr_)
        return;
    dtr_ = on;
    if (on) {
        // Held in reset: the program stops and what the UART still held
        // never leaves.
        StopProgram();
        mode_ = Mode::mdResetHeld;
        output_.clear();
        receive_ = Receive::rxCommand;
    } else {
        StartUp(nowMs);
    }
}

void SimModule::StartUp(int64_t nowMs)
{
    poweringOn_ = false;
    StopProgram();
    board_.Reset();
    receive_ = Receive::rxCommand;
    mode_ = Mode::mdStartUp;
    windowEndMs_ = nowMs + kStartUpWindowMs;
    carriedBytes_ = 0;
    for (uint8_t noise : StartUpGarbage(options_.faults.garbageBeforeStartUp))
        Send(noise);
    Send(kStartLoad);
}

void SimModule::EndStartUp(bool pinged)
{
    MoxHeader header;
    bool runnable = !pinged && ReadMoxHeader(program_, programLength_, header);
    if (!runnable) {
        // A fresh module without a program is what everyone expects.
        if (!pinged && !(poweringOn_ && programLength_ == 0))
            notices_.push_back({programLength_ == 0 ? "no program in EEPROM" : "the program in EEPROM is not a Mox image"});
        mode_ = Mode::mdLoader;
        Send(kEndLoadLoader);
        return;
    }
    Send(kEndLoadRunning);
    mode_ = Mode::mdRunning;
    programStartMs_ = nowMs_;
    stopNoted_ = false;
    if (vm_ && options_.watcher != nullptr)
        options_.watcher->ProgramLeaving(*vm_);
    vm_ = std::make_unique<MoxVm>(program_, programLength_, options_.ramBytes, board_, static_cast<VmLink&>(*this));
    programText_.clear();
    if (options_.watcher != nullptr)
        options_.watcher->ProgramStarted(*vm_, board_);
    // The RAM is told every time: it is what `--memory` asked for, or less.
    std::string ram = ", " + std::to_string(vm_->RamBytes()) + " bytes of RAM";
    if (vm_->RamBytes() < options_.ramBytes)
        ram += ": what fits below 64 KiB";
    notices_.push_back({"program started (" + std::to_string(header.stackBase) + " bytes of program memory" + ram + ")"});
    NoteProgramStop();
}

void SimModule::StopProgram()
{
    if (vm_ && options_.watcher != nullptr)
        options_.watcher->ProgramLeaving(*vm_);
    vm_.reset();
    noHostAnswerMs_ = -1;
}

void SimModule::NoteProgramStop()
{
    if (!vm_ || stopNoted_ || !vm_->Stopped())
        return;
    stopNoted_ = true;
    std::string time = " after " + std::to_string(vm_->NowUs() / 1000) + " ms of module time";
    switch (vm_->GetState()) {
    case MoxVm::State::vsEnded:
        notices_.push_back({"program ended: main returned" + time, true});
        break;
    case MoxVm::State::vsUncaught:
        notices_.push_back({"program ended: uncaught exception (class record " + std::to_string(vm_->UncaughtClass()) +
                                ", pc " + std::to_string(vm_->UncaughtPc()) + ")" + time,
                            true});
        break;
    default:
        notices_.push_back({std::string("program halted: ") + VmFaultText(vm_->Fault().code) + " (" +
                                Hex(vm_->Fault().address) + ")" + time,
                            true});
        break;
    }
}

void SimModule::Run(int64_t nowMs)
{
    nowMs_ = nowMs;
    if (mode_ == Mode::mdStartUp && nowMs >= windowEndMs_)
        EndStartUp(false);
    if (noHostAnswerMs_ >= 0 && nowMs >= noHostAnswerMs_) {
        noHostAnswerMs_ = -1;
        if (vm_)
            vm_->ProvideKey(-1);
    }
    if (mode_ != Mode::mdRunning || !vm_ || vm_->GetState() != MoxVm::State::vsRunning || OutputBlocked())
        return;
    int64_t untilUs = options_.paced ? (nowMs - programStartMs_) * 1000 : INT64_MAX;
    if (options_.watcher != nullptr)
        untilUs = std::min(untilUs, std::max(options_.watcher->NextCheckUs(), vm_->NowUs() + 1));
    vm_->Run(kSliceInstructions, untilUs);
    if (options_.watcher != nullptr) {
        options_.watcher->Watch(*vm_, programText_);
        for (std::string& text : options_.watcher->TakeNotices())
            notices_.push_back({std::move(text), false});
    }
    NoteProgramStop();
}

int64_t SimModule::NextRunMs(int64_t nowMs) const
{
    if (mode_ == Mode::mdStartUp)
        return windowEndMs_;
    if (noHostAnswerMs_ >= 0)
        return noHostAnswerMs_;
    if (mode_ != Mode::mdRunning || !vm_ || vm_->GetState() != MoxVm::State::vsRunning || OutputBlocked())
        return -1;
    if (!options_.paced)
        return nowMs;
    // The program's clock is ahead after a delay: wait for ours to catch up.
    return std::max(nowMs, programStartMs_ + vm_->NowUs() / 1000 + 1);
}

bool SimModule::OutputBlocked() const
{
    return output_.size() > (options_.paced ? kPacedTransmitLimit : kUnpacedTransmitLimit);
}

std::vector<uint8_t> SimModule::TakeOutput(int64_t nowMs, size_t maxBytes)
{
    nowMs_ = nowMs;
    size_t count = std::min(output_.size(), maxBytes);
    if (options_.paced) {
        int64_t nowUs = nowMs * 1000;
        int64_t carried = lineFreeUs_ >= nowUs ? 0 : (nowUs - lineFreeUs_) / kByteTimeUs;
        count = std::min<size_t>(count, static_cast<size_t>(carried));
        lineFreeUs_ += static_cast<int64_t>(count) * kByteTimeUs;
    }
    std::vector<uint8_t> bytes(output_.begin(), output_.begin() + static_cast<long>(count));
    output_.erase(output_.begin(), output_.begin() + static_cast<long>(count));
    // A silent line still takes the bytes (and their time) but delivers none.
    if (options_.faults.silentAfterBytes >= 0) {
        int64_t left = std::max<int64_t>(options_.faults.silentAfterBytes - carriedBytes_, 0);
        if (static_cast<int64_t>(bytes.size()) > left)
            bytes.resize(static_cast<size_t>(left));
    }
    carriedBytes_ += static_cast<int64_t>(bytes.size());
    return bytes;
}

int64_t SimModule::NextOutputMs() const
{
    if (output_.empty())
        return -1;
    if (!options_.paced)
        return nowMs_;
    return (lineFreeUs_ + kByteTimeUs + 999) / 1000;
}

std::vector<SimModule::Notice> SimModule::TakeNotices()
{
    std::vector<Notice> notices;
    notices.swap(notices_);
    return notices;
}

void SimModule::LoadProgram(const std::vector<uint8_t>& image)
{
    std::fill(program_.begin(), program_.end(), 0xFF);
    size_t length = std::min<size_t>(image.size(), program_.size());
    std::copy_n(image.begin(), length, program_.begin());
    // A download sends whole blocks, the last one filled up with zeros.
    size_t padded = std::min<size_t>((length + kBlockData - 1) / kBlockData * kBlockData, program_.size());
    std::fill(program_.begin() + static_cast<long>(length), program_.begin() + static_cast<long>(padded), 0);
    programLength_ = static_cast<uint32_t>(padded);
}

void SimModule::Send(uint8_t byte)
{
    if (!connected_)
        return; // nobody on the line
    if (output_.empty() && lineFreeUs_ < nowMs_ * 1000)
        lineFreeUs_ = nowMs_ * 1000;
    output_.push_back(byte);
}

void SimModule::SendStuffed(uint8_t byte)
{
    if (byte == kFlag || byte == kEscape) {
        Send(kEscape);
        Send(byte ^ kEscapeXor);
    } else {
        Send(byte);
    }
}

void SimModule::SendMessage(uint8_t kind, const uint8_t* bytes, size_t size)
{
    if (kind == 3 && options_.watcher != nullptr) {
        programText_.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(std::find(bytes, bytes + size, 0) - bytes));
        // The bench looks at the text when it was sent, not a wait later.
        if (vm_)
            vm_->EndSlice();
    }
    Send(kMessage);
    SendStuffed(kind);
    for (size_t i = 0; i < size; ++i)
        SendStuffed(bytes[i]);
    Send(kFlag);
}

bool SimModule::RequestKey()
{
    if (!connected_) {
        // Nobody to ask: "no key", but no sooner than a host would answer,
        // so that a program waiting for a key costs no processor meanwhile.
        noHostAnswerMs_ = nowMs_ + kNoHostAnswerMs;
        return true;
    }
    Send(kInputRequest);
    return true;
}

bool SimModule::Dsr() const
{
    switch (options_.faults.dsr) {
    case SimFaults::Dsr::dsLow: return false;
    case SimFaults::Dsr::dsHigh: return true;
    case SimFaults::Dsr::dsFollowsRts: break;
    }
    return rts_;
}

bool SimModule::TakeHangUp()
{
    bool hangUp = hangUp_;
    hangUp_ = false;
    return hangUp;
}

uint8_t SimModule::StatusActivity() const
{
    switch (mode_) {
    case Mode::mdResetHeld:
    case Mode::mdStartUp: return acStarting;
    case Mode::mdLoader: return acLoader;
    case Mode::mdRunning: break;
    }
    if (!vm_)
        return acLoader;
    switch (vm_->GetState()) {
    case MoxVm::State::vsRunning: return acRunning;
    case MoxVm::State::vsWaitingForKey: return acWaitingForKey;
    case MoxVm::State::vsEnded: return acEnded;
    case MoxVm::State::vsUncaught: return acUncaught;
    case MoxVm::State::vsFaulted: return acFaulted;
    }
    return acLoader;
}

void SimModule::SendStatus()
{
    int32_t pc = mode_ == Mode::mdRunning && vm_ ? vm_->Pc() : -1;
    uint16_t field = static_cast<uint16_t>(pc + 1);
    uint8_t extra = vm_ ? static_cast<uint8_t>(vm_->Fault().code) : 0;
    uint8_t packet[6] = {kStatusPacket, static_cast<uint8_t>(field), static_cast<uint8_t>(field >> 8), StatusActivity(),
                         extra, 0};
    uint8_t sum = 0;
    for (size_t i = 0; i < 5; ++i)
        sum = static_cast<uint8_t>(sum + packet[i]);
    packet[5] = static_cast<uint8_t>(-sum);
    std::vector<uint8_t> line;
    for (uint8_t byte : packet) {
        if (byte == kFlag || byte == kEscape) {
            line.push_back(kEscape);
            line.push_back(byte ^ kEscapeXor);
        } else {
            line.push_back(byte);
        }
    }
    line.push_back(kFlag);
    int32_t corrupt = options_.faults.corruptStatusByte;
    if (corrupt >= 0 && static_cast<size_t>(corrupt) < line.size())
        line[static_cast<size_t>(corrupt)] = static_cast<uint8_t>(~line[static_cast<size_t>(corrupt)]);
    for (uint8_t byte : line)
        Send(byte);
}

void SimModule::ReceiveFromHost(const uint8_t* bytes, size_t size, int64_t nowMs)
{
    nowMs_ = nowMs;
    for (size_t i = 0; i < size && !hangUp_; ++i) {
        // The line echoes whatever the host sends, before anything else;
        // another device on the port answers a ping its own way instead.
        bool ping = bytes[i] == kPing && mode_ == Mode::mdLoader && receive_ == Receive::rxCommand;
        if (ping && options_.faults.pingAnswer >= 0)
            Send(static_cast<uint8_t>(options_.faults.pingAnswer));
        else
            Send(bytes[i]);
        if (mode_ != Mode::mdResetHeld)
            HandleByte(bytes[i]);
    }
}

void SimModule::HandleByte(uint8_t byte)
{
    if (receive_ == Receive::rxBlock) {
        HandleBlockByte(byte);
        return;
    }
    if (receive_ == Receive::rxKey) {
        receive_ = Receive::rxCommand;
        if (vm_)
            vm_->ProvideKey(byte);
        return;
    }
    switch (mode_) {
    case Mode::mdStartUp:
        // A ping in the window claims the module for a download.
        if (byte == kPing)
            EndStartUp(true);
        return;
    case Mode::mdLoader:
        if (byte == kQueryStatus) {
            SendStatus();
        } else if (byte == kBeginDownload) {
            writePosition_ = 0;
            programLength_ = 0;
            blocksThisDownload_ = 0;
            Send(kBeginDownload | kAck);
        } else if (byte == kDownloadBlock) {
            block_[0] = byte;
            blockLength_ = 1;
            blockEscape_ = false;
            receive_ = Receive::rxBlock;
        }
        return;
    case Mode::mdRunning:
        if (byte == kQueryStatus) {
            SendStatus();
        } else if (byte == kInputByte) {
            receive_ = Receive::rxKey;
        } else if (byte == kNoInput && vm_) {
            vm_->ProvideKey(-1);
        }
        return;
    case Mode::mdResetHeld:
        return;
    }
}

void SimModule::HandleBlockByte(uint8_t byte)
{
    if (byte == kEscape && !blockEscape_) {
        blockEscape_ = true;
        return;
    }
    block_[blockLength_++] = blockEscape_ ? static_cast<uint8_t>(byte ^ kEscapeXor) : byte;
    blockEscape_ = false;
    if (blockLength_ < kBlockBytes)
        return;
    receive_ = Receive::rxCommand;
    CompleteBlock();
}

void SimModule::CompleteBlock()
{
    ++blocksThisDownload_;
    if (blocksThisDownload_ == options_.faults.hangUpAtBlock) {
        // The cable comes out as the block arrives: neither its echo nor
        // anything after it reaches the host.
        output_.clear();
        hangUp_ = true;
        return;
    }
    uint8_t sum = 0;
    for (uint8_t b : block_)
        sum = static_cast<uint8_t>(sum + b);
    // A damaged block is not acknowledged: the host's time-out reports it.
    if (sum != 0)
        return;
    if (block_[1] == 1)
        writePosition_ = 0;
    if (writePosition_ + kBlockData > program_.size())
        return; // beyond the EEPROM: the host learns it from the missing answer
    std::copy_n(block_ + 2, kBlockData, program_.begin() + writePosition_);
    writePosition_ += kBlockData;
    programLength_ = writePosition_;
    if (blocksThisDownload_ != options_.faults.dropAckOfBlock)
        Send(kDownloadBlock | kAck);
}
