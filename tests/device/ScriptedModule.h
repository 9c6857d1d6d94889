#pragma once

// A Morvane module on a FakeLine, with the behaviour the protocol relies on
// and knobs to make it misbehave. Echoes arrive at once, answers after
// `replyDelayMs`, so every time the host waits is exact on the fake clock.

#include "serial/FakeSerialPort.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

struct ModuleScript {
    bool echo = true;
    bool dsrFollowsRts = true;
    bool dsrFixed = false; // DSR when it does not follow RTS

    // What the module sends after a DTR pulse: (delay from the previous
    // item, bytes). The default start-up: kComStartLoad, then kComEndLoad.
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> onReset = {{5, {0x0F}}, {100, {0x55}}};
    int resetsIgnored = 0; // the first resets get no answer at all

    // What a ping after the first one since a reset gets instead of its
    // echo (another device on the line); empty: the echo.
    std::vector<uint8_t> pingAnswer;
    bool pingSilent = false; // such a ping gets nothing back at all

    // The status reply's payload; the checksum is added unless given.
    std::vector<uint8_t> status = {0x81, 0x2A, 0x00, 0x05, 0x00};
    bool statusChecksumGiven = false;
    bool answerStatus = true;

    int64_t replyDelayMs = 2;
    int stallAtBlock = -1;        // this block (1-based) gets no acknowledgement
    int inputRequestAtBlock = -1; // before this block's acknowledgement, ask for a key
    std::vector<uint8_t> beforeAck; // unsolicited bytes before every block acknowledgement
};

class ScriptedModule {
public:
    ScriptedModule(FakeLine& line, ModuleScript script);

    // What the module received and did.
    std::vector<uint8_t> image;
    std::vector<std::vector<uint8_t>> blockPackets; // unstuffed, as received
    std::vector<uint8_t> keys;                      // keys answered to input requests
    int noInputAnswers = 0;
    int resets = 0;
    std::vector<int64_t> dtrRises;
    std::vector<int64_t> dtrFalls;
    int badBlocks = 0;

    ModuleScript& Script() { return script_; }

private:
    void OnHostByte(uint8_t b);
    void Reset();
    void Command(uint8_t b);
    void DownloadByte(uint8_t b);
    void SendAfter(int64_t delayMs, std::vector<uint8_t> bytes);
    void AskForKey(std::function<void()> then);

    FakeLine& line_;
    ModuleScript script_;
    bool downloading_ = false;
    std::vector<uint8_t> block_;
    bool escaped_ = false;
    bool keyNext_ = false;
    int pingsSinceReset_ = 0;
    std::function<void()> afterAnswer_;
};
