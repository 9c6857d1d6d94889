#include "platform/Tcp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int PollTimeout(int64_t timeoutMs)
{
    if (timeoutMs < 0)
        return -1;
    return static_cast<int>(std::min<int64_t>(timeoutMs, 1 << 30));
}

// Every echo and acknowledgement of the protocol is waited for: small
// writes go out at once instead of being gathered.
void SendAtOnce(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int ConnectWithin(int fd, const sockaddr* address, socklen_t length, int64_t timeoutMs)
{
    if (connect(fd, address, length) == 0)
        return 0;
    if (errno != EINPROGRESS)
        return errno;
    pollfd descriptor{fd, POLLOUT, 0};
    int ready = poll(&descriptor, 1, PollTimeout(timeoutMs));
    if (ready == 0)
        return ETIMEDOUT;
    if (ready < 0)
        return errno;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errno;
    return error;
}

} // namespace

TcpConnection::~TcpConnection()
{
    if (fd_ >= 0)
        close(fd_);
}

int TcpConnection::Connect(const std::string& host, uint16_t port, int64_t timeoutMs,
                           std::unique_ptr<TcpConnection>& connection)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return EHOSTUNREACH;
    int error = ECONNREFUSED;
    for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
        int fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        error = ConnectWithin(fd, at->ai_addr, at->ai_addrlen, timeoutMs);
        if (error == 0) {
            SendAtOnce(fd);
            connection = std::make_unique<TcpConnection>(fd);
            break;
        }
        close(fd);
    }
    freeaddrinfo(found);
    return error;
}

long TcpConnection::Receive(uint8_t* buffer, size_t size)
{
    for (;;) {
        ssize_t n = recv(fd_, buffer, size, MSG_DONTWAIT);
        if (n > 0)
            return static_cast<long>(n);
        if (n == 0) {
            error_ = ECONNRESET; // the peer went away: like an unplugged line
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        error_ = errno;
        return -1;
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
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        error_ = errno;
        return -1;
    }
}

int TcpConnection::Wait(bool forWrite, int64_t timeoutMs)
{
    pollfd descriptor{fd_, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int ready = poll(&descriptor, 1, PollTimeout(timeoutMs));
    if (ready < 0 && errno != EINTR) {
        error_ = errno;
        return -1;
    }
    return ready > 0 ? 1 : 0;
}

long TcpConnection::OutputQueued()
{
    int count = 0;
    if (ioctl(fd_, TIOCOUTQ, &count) != 0) {
        error_ = errno;
        return -1;
    }
    return count;
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
    SendAtOnce(fd);
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
    if (poll(fds.data(), fds.size(), PollTimeout(timeoutMs)) <= 0)
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
