#pragma once

#include "sim/Board.h"
#include "sim/ModuleWatcher.h"
#include "sim/MoxVm.h"
#include "sim/SimFaults.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// The module as its serial line sees it: bytes from the host in, bytes for
// the host out, and the modem lines. It owns the board, the program EEPROM
// and the virtual machine, and knows nothing of sockets or Telnet, so the
// same object sits behind the RFC 2217 server and behind test ports.
//
// What the line shows:
// - every byte the host sends comes back at once (the echo);
// - DSR follows RTS;
// - DTR high holds the module in reset; when it drops the module starts up:
//   it sends 0x0F, waits kStartUpWindowMs for a ping (0x0E), then sends an
//   end-of-start-up byte. A ping keeps it in the loader (0x50); without one
//   it runs the program in EEPROM (0x51), or stays in the loader (0x50)
//   when there is none;
// - in the loader: 0x01 is answered with a status packet, 0x0C with 0x8C,
//   and each checked 19-byte block packet (0x0B ...) is written to EEPROM and
//   answered with 0x8B;
// - while a program runs: messages (0x05 ... 0x7E), key requests (0x11,
//   answered with 0x12 and the key or 0x13), and status packets on request.
//
// Faults (SimFaults.h) make it misbehave on purpose.
//
// Time comes in as milliseconds of the caller's clock.
class SimModule final : private VmLink {
public:
    struct Options {
        uint32_t ramBytes = MoxVm::kDefaultRamBytes;
        // Keep the timing of the 28,800 baud line and of the module's own
        // clock: bytes leave at 10 bits each, and the program's simulated
        // time never runs ahead of the caller's clock.
        bool paced = false;
        SimFaults faults;
        // A bench and trace around every program the module runs; it must
        // outlive the module.
        ModuleWatcher* watcher = nullptr;
    };

    static constexpr int64_t kStartUpWindowMs = 400;
    // How long a key request waits for "no key" while nobody is connected:
    // as long as a host takes to look at its line.
    static constexpr int64_t kNoHostAnswerMs = 50;
    // Every image the linker writes fits: they are below 64 KiB.
    static constexpr uint32_t kProgramEepromBytes = 64 * 1024;
    static constexpr int64_t kByteTimeUs = 10 * 1000000 / 28800; // 347 us
    static constexpr uint64_t kSliceInstructions = 20000;

    enum class Mode : uint8_t { mdResetHeld, mdStartUp, mdLoader, mdRunning };

    // Status packet activity codes.
    enum Activity : uint8_t {
        acLoader = 0,
        acRunning = 1,
        acWaitingForKey = 2,
        acEnded = 3,
        acUncaught = 4,
        acFaulted = 5,
        acStarting = 6,
    };

    explicit SimModule(const Options& options);
    ~SimModule() override;
    SimModule(const SimModule&) = delete;
    SimModule& operator=(const SimModule&) = delete;

    // Power on: the start-up exchange, as after a reset.
    void PowerOn(int64_t nowMs);

    // The line. While nobody is connected, what the module sends is lost and
    // key requests get "no key" after kNoHostAnswerMs.
    void SetConnected(bool connected, int64_t nowMs);
    bool Connected() const { return connected_; }
    void ReceiveFromHost(const uint8_t* bytes, size_t size, int64_t nowMs);
    void SetDtr(bool on, int64_t nowMs);
    void SetRts(bool on) { rts_ = on; }
    bool Dtr() const { return dtr_; }
    bool Rts() const { return rts_; }
    bool Dsr() const;
    // True once (then false again) when the line is to be cut: whoever
    // carries it hangs up.
    bool TakeHangUp();

    // Does what is due at `nowMs`: the end of the start-up window, a slice of
    // the program.
    void Run(int64_t nowMs);
    // When Run has more to do: a time (at or before now: at once), or -1 when
    // only the host or the line can give it work.
    int64_t NextRunMs(int64_t nowMs) const;

    // Bytes for the host that the line has carried by `nowMs` (all of them
    // when unpaced), at most `maxBytes`.
    std::vector<uint8_t> TakeOutput(int64_t nowMs, size_t maxBytes = SIZE_MAX);
    size_t OutputQueued() const { return output_.size(); }
    // When the next byte will have crossed the line; -1 when none waits.
    int64_t NextOutputMs() const;
    // Drops what has not left yet (the server's purge).
    void PurgeOutput() { output_.clear(); }

    // Lines for the simulator's own log: program start and end, faults. An
    // end is best shown after the program's last output has been shown.
    struct Notice {
        std::string text;
        bool afterOutput = false;
    };
    std::vector<Notice> TakeNotices();

    // Puts an image into EEPROM as a download would.
    void LoadProgram(const std::vector<uint8_t>& image);

    Mode GetMode() const { return mode_; }
    const MoxVm* Vm() const { return vm_.get(); }
    const Board& GetBoard() const { return board_; }
    uint32_t ProgramLength() const { return programLength_; }
    const std::vector<uint8_t>& ProgramEeprom() const { return program_; }
    uint8_t StatusActivity() const;

private:
    enum class Receive : uint8_t { rxCommand, rxKey, rxBlock };

    void SendMessage(uint8_t kind, const uint8_t* bytes, size_t size) override;
    bool RequestKey() override;

    void Send(uint8_t byte);
    void SendStuffed(uint8_t byte);
    void StartUp(int64_t nowMs);
    void EndStartUp(bool pinged);
    void StopProgram();
    void HandleByte(uint8_t byte);
    void HandleBlockByte(uint8_t byte);
    void SendStatus();
    void CompleteBlock();
    void NoteProgramStop();
    bool OutputBlocked() const;

    Options options_;
    Board board_;
    std::unique_ptr<MoxVm> vm_;
    Mode mode_ = Mode::mdResetHeld;
    bool connected_ = false;
    bool dtr_ = false;
    bool rts_ = false;
    int64_t nowMs_ = 0;
    int64_t windowEndMs_ = 0;
    int64_t programStartMs_ = 0;
    bool stopNoted_ = false;
    int64_t noHostAnswerMs_ = -1; // when a request nobody heard gets "no key"

    std::vector<uint8_t> program_;
    uint32_t programLength_ = 0;
    uint32_t writePosition_ = 0;

    Receive receive_ = Receive::rxCommand;
    uint8_t block_[19] = {};
    size_t blockLength_ = 0;
    bool blockEscape_ = false;
    int32_t blocksThisDownload_ = 0;
    bool hangUp_ = false;

    std::deque<uint8_t> output_;
    int64_t lineFreeUs_ = 0; // paced: when the line has carried the last byte taken
    int64_t carriedBytes_ = 0; // to the host since the last start-up
    std::vector<Notice> notices_;
    bool poweringOn_ = false;
    std::string programText_; // for the watcher: what the running program printed
};
