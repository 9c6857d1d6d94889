#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The loopback TCP end of a device server (the module simulator): a listener
// that hands out connections, non-blocking reads and writes on them, and one
// blocking wait on several descriptors at once.

class TcpConnection {
public:
    explicit TcpConnection(int fd) : fd_(fd) {}
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    int Fd() const { return fd_; }
    // Bytes read (> 0), 0 when nothing is waiting, -1 once the peer has
    // closed the connection or it failed.
    long Receive(uint8_t* buffer, size_t size);
    // Bytes written (>= 0, 0 when the socket is full), -1 on failure.
    long Send(const uint8_t* data, size_t size);

private:
    int fd_;
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
