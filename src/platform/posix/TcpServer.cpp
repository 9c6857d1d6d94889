#include "platform/TcpServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TcpConnection::~TcpConnection()
{
    if (fd_ >= 0)
        close(fd_);
}

long TcpConnection::Receive(uint8_t* buffer, size_t size)
{
    for (;;) {
        ssize_t n = recv(fd_, buffer, size, MSG_DONTWAIT);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0)
            return -1;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

long TcpConnection::Send(const uint8_t* data, size_t size)
{
    for (;;) {
        ssize_t n = send(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

TcpListener::~TcpListener()
{
    if (fd_ >= 0)
        close(fd_);
}

int TcpListener::Listen(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    fd_ = fd;
    port_ = ntohs(address.sin_port);
    return 0;
}

int TcpListener::Accept()
{
    if (fd_ < 0)
        return -1;
    int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    // Each echo and acknowledgement is waited for by the host: no batching.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void WaitForDescriptors(std::vector<WaitItem>& items, int64_t timeoutMs)
{
    std::vector<pollfd> fds;
    fds.reserve(items.size());
    for (WaitItem& item : items) {
        item.readable = item.writable = false;
        short events = static_cast<short>((item.read ? POLLIN : 0) | (item.write ? POLLOUT : 0));
        fds.push_back(pollfd{item.fd, events, 0});
    }
    int timeout = timeoutMs < 0 ? -1 : static_cast<int>(std::min<int64_t>(timeoutMs, 1 << 30));
    if (poll(fds.data(), fds.size(), timeout) <= 0)
        return; // time-out, or a signal the caller looks at
    for (size_t i = 0; i < items.size(); ++i) {
        short revents = fds[i].revents;
        items[i].readable = (revents & (POLLIN | POLLHUP | POLLERR)) != 0 && items[i].read;
        items[i].writable = (revents & (POLLOUT | POLLERR)) != 0 && items[i].write;
    }
}

long ReadAvailable(int fd, uint8_t* buffer, size_t size)
{
    pollfd descriptor{fd, POLLIN, 0};
    if (poll(&descriptor, 1, 0) <= 0)
        return -1;
    for (;;) {
        ssize_t n = read(fd, buffer, size);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR)
            return errno == EAGAIN ? -1 : 0; // a failed input counts as ended
    }
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }
