#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <memory>
#include <string>

// TCP for the network serial port and for the module simulator's server:
// connections with non-blocking reads and writes and waits with a deadline,
// a loopback listener that hands them out, and one blocking wait on several
// sockets at once. Sockets are named by an int: a descriptor here, a socket
// handle (whose significant bits fit an int) on Windows, where the first
// use also starts the socket library.

class TcpConnection {
public:
    explicit TcpConnection(int fd) : fd_(fd) {}
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to HOST:PORT (a name, an IPv4 or an IPv6 address), trying each
    // address the name has, each for at most `timeoutMs`. 0 with `connection`
    // set, or the system's error number.
    static int Connect(const std::string& host, uint16_t port, int64_t timeoutMs,
                       std::unique_ptr<TcpConnection>& connection);

    int Fd() const { return fd_; }
    // Bytes read (> 0), 0 when nothing is waiting, -1 once the peer has
    // closed the connection (Error() is then ECONNRESET) or it failed.
    long Receive(uint8_t* buffer, size_t size);
    // Bytes written (>= 0, 0 when the socket is full), -1 on failure.
    long Send(const uint8_t* data, size_t size);
    // Waits until the connection can be read (or written): 1 ready, 0 when
    // `timeoutMs` passed (negative: no limit) or a stop signal came, -1 on
    // failure.
    int Wait(bool forWrite, int64_t timeoutMs);
    // Bytes written and not yet sent; 0 where the system does not tell.
    long OutputQueued();
    // The system error number of the last failure.
    int Error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on 127.0.0.1 at `port` (0: a free one). 0 or the system's
    // error number.
    int Listen(uint16_t port);
    uint16_t Port() const { return port_; }
    int Fd() const { return fd_; }
    // The next waiting connection, non-blocking; -1 when none waits.
    int Accept();

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct WaitItem {
    int fd = -1;
    bool read = false;
    bool write = false;
    // Results: ready to read (data, end of file or error), ready to write.
    bool readable = false;
    bool writable = false;
};

// Blocks until an item is ready, `timeoutMs` has passed (negative: no
// limit) or a signal arrives.
void WaitForDescriptors(std::vector<WaitItem>& items, int64_t timeoutMs);

// Reads what a pipe or terminal holds without blocking: > 0 bytes, 0 at the
// end of input, -1 when nothing is waiting (or it failed).
long ReadAvailable(int fd, uint8_t* buffer, size_t size);

// Writing to a peer that has gone must be an error result, not a signal
// that ends the process.
void IgnoreBrokenPipes();
