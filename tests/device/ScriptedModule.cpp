#include "device/ScriptedModule.h"

namespace {

std::vector<uint8_t> Stuffed(const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> out;
    for (uint8_t b : payload) {
        if (b == 0x7D || b == 0x7E) {
            out.push_back(0x7D);
            out.push_back(static_cast<uint8_t>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    }
    return out;
}

} // namespace

ScriptedModule::ScriptedModule(FakeLine& line, ModuleScript script) : line_(line), script_(std::move(script))
{
    line_.onHostByte = [this](uint8_t b) { OnHostByte(b); };
    line_.onRts = [this](bool on) { line_.dsr = script_.dsrFollowsRts ? on : script_.dsrFixed; };
    line_.onDtr = [this](bool on) {
        (on ? dtrRises : dtrFalls).push_back(line_.ClockOf().NowMs());
        if (!on)
            Reset();
    };
    line_.dsr = script_.dsrFollowsRts ? line_.rts : script_.dsrFixed;
}

void ScriptedModule::SendAfter(int64_t delayMs, std::vector<uint8_t> bytes) { line_.DeliverAfter(delayMs, bytes); }

void ScriptedModule::Reset()
{
    ++resets;
    pingsSinceReset_ = 0;
    downloading_ = false;
    keyNext_ = false;
    afterAnswer_ = nullptr;
    if (resets <= script_.resetsIgnored)
        return;
    int64_t at = 0;
    for (const auto& [delay, bytes] : script_.onReset) {
        at += delay;
        SendAfter(at, bytes);
    }
}

void ScriptedModule::AskForKey(std::function<void()> then)
{
    afterAnswer_ = std::move(then);
    SendAfter(script_.replyDelayMs, {0x11});
}

void ScriptedModule::OnHostByte(uint8_t b)
{
    bool laterPing = b == 0x0E && !downloading_ && ++pingsSinceReset_ > 1;
    if (laterPing && !script_.pingAnswer.empty())
        SendAfter(0, script_.pingAnswer);
    else if (script_.echo && !(laterPing && script_.pingSilent))
        SendAfter(0, {b});

    if (keyNext_) {
        keyNext_ = false;
        keys.push_back(b);
        if (auto then = std::exchange(afterAnswer_, nullptr))
            then();
        return;
    }
    if (afterAnswer_ && (b == 0x12 || b == 0x13)) {
        if (b == 0x12) {
            keyNext_ = true;
        } else {
            ++noInputAnswers;
            std::exchange(afterAnswer_, nullptr)();
        }
        return;
    }
    if (!downloading_ && (b == 0x12 || b == 0x13)) {
        // An answer nobody asked for in this script (the listener tests
        // send requests themselves).
        if (b == 0x12)
            keyNext_ = true;
        else
            ++noInputAnswers;
        return;
    }
    if (downloading_)
        DownloadByte(b);
    else
        Command(b);
}

void ScriptedModule::Command(uint8_t b)
{
    if (b == 0x01 && script_.answerStatus) {
        std::vector<uint8_t> payload = script_.status;
        if (!script_.statusChecksumGiven) {
            uint8_t sum = 0;
            for (uint8_t x : payload)
                sum = static_cast<uint8_t>(sum + x);
            payload.push_back(static_cast<uint8_t>(-sum));
        }
        std::vector<uint8_t> line = Stuffed(payload);
        line.push_back(0x7E);
        SendAfter(script_.replyDelayMs, line);
    } else if (b == 0x0C) {
        downloading_ = true;
        block_.clear();
        escaped_ = false;
        image.clear();
        blockPackets.clear();
        SendAfter(script_.replyDelayMs, {0x8C});
    }
}

void ScriptedModule::DownloadByte(uint8_t b)
{
    if (b == 0x7D && !escaped_) {
        escaped_ = true;
        return;
    }
    if (escaped_) {
        b ^= 0x20;
        escaped_ = false;
    }
    block_.push_back(b);
    if (block_.size() < 19)
        return;
    std::vector<uint8_t> block = std::exchange(block_, {});
    uint8_t sum = 0;
    for (uint8_t x : block)
        sum = static_cast<uint8_t>(sum + x);
    if (block[0] != 0x0B || sum != 0) {
        ++badBlocks;
        return;
    }
    blockPackets.push_back(block);
    image.insert(image.end(), block.begin() + 2, block.begin() + 18);
    int number = static_cast<int>(blockPackets.size());
    if (number == script_.stallAtBlock)
        return;
    if (!script_.beforeAck.empty())
        SendAfter(script_.replyDelayMs, script_.beforeAck);
    if (number == script_.inputRequestAtBlock) {
        AskForKey([this] { SendAfter(script_.replyDelayMs, {0x8B}); });
        return;
    }
    SendAfter(script_.replyDelayMs, {0x8B});
}
