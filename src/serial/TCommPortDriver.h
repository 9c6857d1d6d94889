#pragma once

#include "platform/SerialPort.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Clock;
class EventLoop;

// The serial port component under the device protocol: line settings as
// properties, direct reads and writes, the modem lines, and a poll timer that
// hands what arrived to OnReceiveData (raw) or OnReceivePacket (fixed-size
// packets). It raises nothing: failures are results, which the protocol
// turns into catalogue errors.

enum TComPortNumber : int {
    pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8,
    pnCOM9, pnCOM10, pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16,
};
enum TComPortBaudRate : int {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br28800, br38400, br56000, br57600, br115200,
};
enum TComPortDataBits : int { db5BITS, db6BITS, db7BITS, db8BITS };
enum TComPortStopBits : int { sb1BITS, sb1HALFBITS, sb2BITS };
enum TComPortParity : int { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TComPortHwHandshaking : int { hhNONE, hhRTSCTS };
enum TComPortSwHandshaking : int { shNONE, shXONXOFF };
enum TPacketMode : int { pmDiscard, pmPass };

class TCommPortDriver;

using TComPortReceiveDataEvent = std::function<void(TCommPortDriver& sender, const uint8_t* dataPtr, int32_t dataSize)>;
using TComPortReceivePacketEvent =
    std::function<void(TCommPortDriver& sender, const uint8_t* packet, int32_t dataSize, int32_t elapsedTimeMs)>;

// The rate in baud of `rate`.
int BaudRateOf(TComPortBaudRate rate);
// Milliseconds `count` characters of 10 bits take on the line, rounded to
// the nearest (halves to even).
int DelayForRX(TComPortBaudRate rate, int count);

class TCommPortDriver {
public:
    // The system clock, the main event loop and the platform's ports.
    TCommPortDriver();
    // Tests bring their own clock, loop and ports.
    TCommPortDriver(Clock& clock, EventLoop& loop, SerialPortFactory factory);
    ~TCommPortDriver();
    TCommPortDriver(const TCommPortDriver&) = delete;
    TCommPortDriver& operator=(const TCommPortDriver&) = delete;

    // Properties. A line setting written while connected is applied at once;
    // the port and the queue sizes change only while disconnected.
    TComPortNumber ComPort() const { return comPort_; }
    void SetComPort(TComPortNumber port);
    // A port named directly (a device path, "rfc2217://HOST:PORT"); when set
    // it is opened instead of the COM number. Changes only while disconnected.
    const std::string& ComPortName() const { return comPortName_; }
    void SetComPortName(const std::string& name);
    // The port as the user knows it: the name given, or "COM<n>".
    std::string PortName() const;

    TComPortBaudRate ComPortSpeed() const { return speed_; }
    void SetComPortSpeed(TComPortBaudRate speed);
    TComPortDataBits ComPortDataBits() const { return dataBits_; }
    void SetComPortDataBits(TComPortDataBits bits);
    TComPortStopBits ComPortStopBits() const { return stopBits_; }
    void SetComPortStopBits(TComPortStopBits bits);
    TComPortParity ComPortParity() const { return parity_; }
    void SetComPortParity(TComPortParity parity);
    TComPortHwHandshaking ComPortHwHandshaking() const { return hwHandshaking_; }
    void SetComPortHwHandshaking(TComPortHwHandshaking handshaking);
    TComPortSwHandshaking ComPortSwHandshaking() const { return swHandshaking_; }
    void SetComPortSwHandshaking(TComPortSwHandshaking handshaking);
    uint16_t ComPortInBufSize() const { return inBufSize_; }
    void SetComPortInBufSize(uint16_t size);
    uint16_t ComPortOutBufSize() const { return outBufSize_; }
    void SetComPortOutBufSize(uint16_t size);
    int16_t PacketSize() const { return packetSize_; }
    void SetPacketSize(int16_t size);
    int32_t PacketTimeout() const { return packetTimeout_; }
    void SetPacketTimeout(int32_t timeoutMs);
    TPacketMode PacketMode() const { return packetMode_; }
    void SetPacketMode(TPacketMode mode) { packetMode_ = mode; }
    uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void SetComPortPollingDelay(uint16_t delayMs);
    bool EnableDTROnOpen() const { return enableDtrOnOpen_; }
    void SetEnableDTROnOpen(bool enable) { enableDtrOnOpen_ = enable; }
    uint16_t OutputTimeout() const { return outputTimeout_; }
    void SetOutputTimeout(uint16_t timeoutMs) { outputTimeout_ = timeoutMs; }
    void SetOnReceiveData(TComPortReceiveDataEvent handler) { onReceiveData_ = std::move(handler); }
    void SetOnReceivePacket(TComPortReceivePacketEvent handler) { onReceivePacket_ = std::move(handler); }

    bool Connect();
    void Disconnect();
    bool Connected() const { return port_ != nullptr; }
    // Adopts an open port (nullptr: disconnects), as a second owner of a
    // line would hand it over.
    void SetComHandle(std::unique_ptr<SerialPort> port);

    void ApplyCOMSettings();
    void FlushBuffers(bool inBuf, bool outBuf);
    uint16_t OutFreeSpace();
    // Received bytes waiting; -1 when disconnected (or the line failed).
    int32_t CharCount();
    // Bytes written; negated when the line stalled for OutputTimeout; 0 when
    // disconnected.
    int32_t SendData(const uint8_t* dataPtr, int32_t dataSize);
    bool SendString(const std::string& text);
    bool SendZString(const char* text);
    // Reads one byte into `c`. True when the read failed or delivered no
    // byte: the caller has nothing to use.
    bool ReadChar(uint8_t& c);
    void ToggleDTR(bool onOff);
    void ToggleRTS(bool onOff);
    bool ReadDSR();

    // Blocks until a byte is waiting or the clock reaches `deadlineMs`:
    // >0 bytes waiting, 0 deadline reached, -1 not connected or the line
    // failed (LastError tells why). Never spins.
    int32_t WaitForData(int64_t deadlineMs);
    // A real pause of `ms`; a network port keeps up with its peer meanwhile.
    void Pause(int64_t ms);
    int64_t NowMs() const;
    // The system error number of the line's last failure.
    int LastError() const;
    // True once a read of the poll timer has failed (an unplugged adapter, a
    // server that hung up): nothing more will arrive on this connection.
    bool LineFailed() const { return lineFailed_; }

    // One tick of the poll timer; the event loop calls it every
    // ComPortPollingDelay ms while it is pumped and the port is connected.
    void PollStep();

private:
    void StartTimer();
    void StopTimer();
    void AllocateReceiveBuffer(size_t size);
    SerialLineSettings LineSettings() const;
    void Reapply();
    // Reads up to `count` bytes now into the receive buffer; -1 on failure.
    long ReadNow(size_t count);

    Clock& clock_;
    EventLoop& loop_;
    SerialPortFactory factory_;
    std::unique_ptr<SerialPort> port_;
    int lastError_ = 0;
    bool lineFailed_ = false;
    int timerId_ = 0;

    TComPortNumber comPort_ = pnCOM2;
    std::string comPortName_;
    TComPortBaudRate speed_ = br9600;
    TComPortDataBits dataBits_ = db8BITS;
    TComPortStopBits stopBits_ = sb1BITS;
    TComPortParity parity_ = ptNONE;
    TComPortHwHandshaking hwHandshaking_ = hhNONE;
    TComPortSwHandshaking swHandshaking_ = shNONE;
    uint16_t inBufSize_ = 2048;
    uint16_t outBufSize_ = 2048;
    int16_t packetSize_ = -1;
    int32_t packetTimeout_ = -1;
    TPacketMode packetMode_ = pmDiscard;
    uint16_t pollingDelay_ = 50;
    bool enableDtrOnOpen_ = true;
    uint16_t outputTimeout_ = 4000;
    TComPortReceiveDataEvent onReceiveData_;
    TComPortReceivePacketEvent onReceivePacket_;

    std::vector<uint8_t> receiveBuffer_;
    int64_t packetStartMs_ = -1;
};
