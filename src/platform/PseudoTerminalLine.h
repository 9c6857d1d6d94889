#pragma once

#include "platform/Tcp.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What a host does on a pseudo-terminal line, in the order it did it.
class PseudoTerminalHandler {
public:
    // The device was opened while nobody had it open.
    virtual void HostOpened() = 0;
    // The last host that had it open closed it.
    virtual void HostClosed() = 0;
    virtual void HostBytes(const uint8_t* bytes, size_t size) = 0;
    // Process `process` set or asked for the modem lines (`op` and `lines`
    // as in ModemLineProtocol.h); returns every line's state afterwards.
    virtual uint32_t HostLines(int process, uint32_t op, uint32_t lines) = 0;

protected:
    ~PseudoTerminalHandler() = default;
};

// The device end of a pseudo-terminal, for a simulated device: a host opens
// the other end, through a symbolic link, as it opens a serial device, and
// drives its modem lines through the modem-line socket beside it
// (ModemLineProtocol.h). Opens and closes are told by the kernel as they
// happen, so that nothing waits on a device nobody has open; before a
// request about the lines is answered, every byte the host wrote before it
// and every open and close before it has been handed on, so that the
// handler sees everything in the host's order. Nothing blocks: the owner
// waits on the descriptors it is given and then calls Service.
class PseudoTerminalLine {
public:
    PseudoTerminalLine(std::string linkPath, PseudoTerminalHandler& handler);
    // Closes the device end and removes the link.
    ~PseudoTerminalLine();
    PseudoTerminalLine(const PseudoTerminalLine&) = delete;
    PseudoTerminalLine& operator=(const PseudoTerminalLine&) = delete;

    // Makes a pair and points the link at its device. A link already there
    // is replaced when it leads nowhere or to a pseudo-terminal nobody
    // serves; one that another simulator serves is left alone (EBUSY), and
    // so is anything else at that path (EEXIST). 0 or the system's error
    // number.
    int Open();
    // Closes the device end and removes the link if it still points here.
    void Close();
    // Closes the device end, as a cable cut: a host that has it open sees its
    // line hang up. A fresh pair is made at once and the link points at it,
    // so the next host finds a line again. 0 or the system's error number.
    int HangUp();

    // The device behind the link ("/dev/pts/<n>").
    const std::string& DevicePath() const { return devicePath_; }
    bool HostPresent() const { return opens_ > 0; }

    void AddWaitItems(std::vector<WaitItem>& items, bool output) const;
    // Hands on, without waiting, everything that has happened.
    void Service();
    // Drops what was sent and has not been read: the host it was for is
    // gone, although the device stays open.
    void DiscardUnread();
    // Bytes for the host: the count taken (0 when the line is full or
    // nobody has it open), -1 when the line failed.
    long Send(const uint8_t* data, size_t size);

private:
    void ServiceEvents();
    void ServiceData();
    void ServiceRequests();
    int MakePair();
    void ClosePair();

    std::string linkPath_;
    PseudoTerminalHandler& handler_;
    std::string devicePath_;
    int leader_ = -1;  // our end of the pair
    int events_ = -1;  // opens and closes of the device
    int control_ = -1; // the modem-line socket
    int opens_ = 0;    // how many open descriptions of the device there are
};
