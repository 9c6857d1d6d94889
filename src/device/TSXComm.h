#pragma once

#include <cstdint>

class ProgramMap;
class TCommPortDriver;

// One-byte codes of the module's protocol.
enum : uint8_t {
    kComQueryStatus = 0x01,
    kComMessage = 0x05,
    kComDownloadBlock = 0x0B,
    kComBeginDownload = 0x0C,
    kComPing = 0x0E,
    kComStartLoad = 0x0F,
    kComInputRequest = 0x11,
    kComInputByte = 0x12,
    kComNoInput = 0x13,
    kComEndLoad = 0x50, // any byte 0x50..0x5F
};

// The byte and packet protocol with the module, over a serial line that
// echoes everything the host sends. Each operation raises EError on
// failure. The implementation is split by concern: framing (SXFraming.cpp),
// commands (SXCommands.cpp), discovery and reset (SXDiscovery.cpp), download
// (SXDownload.cpp), the message listener (SXListener.cpp) and where a
// stopped program was (SXWhereIs.cpp).
//
// Waits keep the protocol's time-outs to the millisecond of the driver's
// clock but block on the port until a byte comes or the time is up.
class TSXComm {
public:
    static constexpr int kMessageCapacity = 3048;
    static constexpr int kKeyQueueSize = 500;

    // Uses `driver` without owning it; the port is not touched.
    explicit TSXComm(TCommPortDriver& driver);
    // Disconnects the driver if it is connected.
    virtual ~TSXComm();
    TSXComm(const TSXComm&) = delete;
    TSXComm& operator=(const TSXComm&) = delete;

    // The linked program of this run, for exception reports that arrive
    // while a command waits (null when only a stored image is downloaded).
    void SetProgramMap(const ProgramMap* program) { program_ = program; }

    // Framing.
    bool BytesWaiting();
    void TransmitByte(uint8_t b);
    void TransmitPacket(const uint8_t* bytes, int length);
    uint8_t ReadByte(unsigned timeoutMs);
    // `length`: the buffer's capacity in, the payload's length (checksum
    // included, unescaped) out.
    void ReceivePacket(uint8_t* buffer, int& length);
    static uint8_t PacketChecksum(const uint8_t* bytes, int length);
    static bool ChecksumValid(const uint8_t* bytes, int length);
    void WaitForAck(int code, unsigned timeoutMs);

    // Commands.
    void SendCommand(int code);
    void SendSimpleCommand(int code);
    void QueryStatus(int32_t& pc, int32_t& activity, int32_t& extra);

    // Discovery and reset.
    void FindModule();
    bool AutoChoosePort();
    bool TryPort(int index);
    void ProbeModule();
    void ResetModule(bool quick);

    // Download.
    void DownloadMoxFile(uint8_t* image, int32_t length, bool debug);

    // Listener.
    void ReceiveBytes(const uint8_t* bytes, int count, const ProgramMap* program);
    void QueueKey(uint8_t key);
    void AnswerInputRequest();
    int AssembleMessage(const uint8_t* bytes, int count, const ProgramMap* program, int position);
    void DispatchMessage(const ProgramMap* program);

    // A listening run that is stopped from outside is usually stopped because
    // the program hangs: asks the module once where its program is and
    // prints "Program was at <class>.<method> (<file>:<line>)". Prints
    // nothing when the module does not answer within the status command's
    // time-out, when the program counter lies outside the image, or when
    // `program` is null (SXWhereIs.cpp). Raises nothing.
    void ReportWhereProgramIs(const ProgramMap* program);

    int32_t PendingEchoes() const { return pendingEchoes_; }
    int32_t KeyCount() const { return keyCount_; }
    bool InMessage() const { return inMessage_; }

private:
    // Blocks until a byte is waiting (true) or the driver's clock is beyond
    // `lastMs` (false); raises IDE 8 when the line fails.
    bool AwaitByte(int64_t lastMs);
    // The same, raising IDE 22 for the time-out.
    void WaitForByte(int64_t lastMs);
    uint8_t ReadWaitingByte();
    void DrainInput();
    void PrintExceptionReport(const ProgramMap* program);

    TCommPortDriver& driver_;
    bool escapePending_ = false;
    bool inMessage_ = false;
    uint8_t messageBuffer_[kMessageCapacity + 1] = {};
    int32_t messageLength_ = 0;
    int32_t pendingEchoes_ = 0;
    uint8_t keyQueue_[kKeyQueueSize] = {};
    int32_t keyCount_ = 0;
    const ProgramMap* program_ = nullptr;
    // The program's text so far ends inside a line.
    bool textLineOpen_ = false;
};
