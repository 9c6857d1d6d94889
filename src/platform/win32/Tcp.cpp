#include "platform/Tcp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/StopEvent.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

namespace {

// The socket library is started once, on first use, and a loopback datagram
// socket made with it: a stop request or the end of standard input sends it
// a byte, which ends any socket wait under way, as a signal ends poll()
// elsewhere.
struct SocketLibrary {
    SocketLibrary()
    {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        if (!started)
            return;
        wake = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof wakeAddress;
        u_long nonBlocking = 1;
        if (wake == INVALID_SOCKET || bind(wake, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(wake, reinterpret_cast<sockaddr*>(&wakeAddress), &length) != 0 ||
            ioctlsocket(wake, FIONBIO, &nonBlocking) != 0) {
            if (wake != INVALID_SOCKET)
                closesocket(wake);
            wake = INVALID_SOCKET;
            return;
        }
        SetHandleInformation(reinterpret_cast<HANDLE>(wake), HANDLE_FLAG_INHERIT, 0);
        ready = true;
    }

    bool started = false;
    SOCKET wake = INVALID_SOCKET;
    sockaddr_in wakeAddress{};
    std::atomic<bool> ready{false};
};

SocketLibrary& Sockets()
{
    static SocketLibrary library;
    return library;
}

std::atomic<bool> gSocketsInUse{false};
std::atomic<bool> gInputEnded{false};
std::atomic<bool> gInputWatched{false};

SOCKET SocketOf(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }
int FdOf(SOCKET socket) { return static_cast<int>(socket); }

int LastSocketError() { return WSAGetLastError(); }

// Neither blocking, nor handed down to the programs we start, nor gathering
// small writes: every echo and acknowledgement of the protocol is waited for.
void Prepare(SOCKET socket, bool stream)
{
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    if (stream) {
        BOOL one = TRUE;
        setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    }
}

void DrainWake()
{
    char scratch[64];
    while (recv(Sockets().wake, scratch, sizeof scratch, 0) > 0) {
    }
}

// WSAPoll on `fds` and the wake socket: the count ready among `fds`, 0 on a
// time-out or a wake, -1 on failure.
int PollWithWake(std::vector<WSAPOLLFD>& fds, int64_t timeoutMs)
{
    SocketLibrary& library = Sockets();
    bool wakeable = library.ready;
    if (wakeable)
        fds.push_back(WSAPOLLFD{library.wake, POLLRDNORM, 0});
    INT timeout = timeoutMs < 0 ? -1 : static_cast<INT>(std::min<int64_t>(timeoutMs, 1 << 30));
    int ready = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeout);
    if (wakeable) {
        if (fds.back().revents != 0) {
            DrainWake();
            --ready;
        }
        fds.pop_back();
    }
    if (ready < 0)
        return -1;
    // A stop request stays visible to the caller, who looks at it next.
    return ready;
}

bool EnsureSockets()
{
    gSocketsInUse = true;
    return Sockets().started;
}

int ConnectWithin(SOCKET socket, const sockaddr* address, int length, int64_t timeoutMs)
{
    if (connect(socket, address, length) == 0)
        return 0;
    int error = LastSocketError();
    if (error != WSAEWOULDBLOCK)
        return error;
    // select, not WSAPoll: older versions of WSAPoll never report a refused
    // connection, only its time-out.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000 * 1000)};
    int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0)
        return WSAETIMEDOUT;
    if (ready < 0)
        return LastSocketError();
    int result = 0;
    int size = sizeof result;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &size) != 0)
        return LastSocketError();
    return FD_ISSET(socket, &failed) && result == 0 ? WSAECONNREFUSED : result;
}

// Standard input cannot be waited on together with sockets: a thread reads
// it to its end and then wakes the waits.
void WatchStandardInput()
{
    if (gInputWatched.exchange(true))
        return;
    std::thread([] {
        HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        char scratch[256];
        DWORD n = 0;
        while (input != nullptr && input != INVALID_HANDLE_VALUE && ReadFile(input, scratch, sizeof scratch, &n, nullptr) && n > 0) {
        }
        gInputEnded = true;
        WakeSocketWaits();
    }).detach();
}

} // namespace

void WakeSocketWaits()
{
    if (!gSocketsInUse)
        return;
    SocketLibrary& library = Sockets();
    if (!library.ready)
        return;
    char byte = 1;
    sendto(library.wake, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&library.wakeAddress), sizeof library.wakeAddress);
}

TcpConnection::~TcpConnection()
{
    if (fd_ >= 0)
        closesocket(SocketOf(fd_));
}

int TcpConnection::Connect(const std::string& host, uint16_t port, int64_t timeoutMs,
                           std::unique_ptr<TcpConnection>& connection)
{
    if (!EnsureSockets())
        return WSASYSNOTREADY;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        return WSAEHOSTUNREACH;
    int error = WSAECONNREFUSED;
    for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
        SOCKET s = socket(at->ai_family, at->ai_socktype, at->ai_protocol);
        if (s == INVALID_SOCKET) {
            error = LastSocketError();
            continue;
        }
        Prepare(s, true);
        error = ConnectWithin(s, at->ai_addr, static_cast<int>(at->ai_addrlen), timeoutMs);
        if (error == 0) {
            connection = std::make_unique<TcpConnection>(FdOf(s));
            break;
        }
        closesocket(s);
    }
    freeaddrinfo(found);
    return error;
}

long TcpConnection::Receive(uint8_t* buffer, size_t size)
{
    int n = recv(SocketOf(fd_), reinterpret_cast<char*>(buffer), static_cast<int>(std::min<size_t>(size, 1 << 30)), 0);
    if (n > 0)
        return n;
    if (n == 0) {
        error_ = ECONNRESET; // the peer went away: like an unplugged line
        return -1;
    }
    int error = LastSocketError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    error_ = error == WSAECONNRESET || error == WSAECONNABORTED ? ECONNRESET : error;
    return -1;
}

long TcpConnection::Send(const uint8_t* data, size_t size)
{
    int n = send(SocketOf(fd_), reinterpret_cast<const char*>(data), static_cast<int>(std::min<size_t>(size, 1 << 30)), 0);
    if (n >= 0)
        return n;
    int error = LastSocketError();
    if (error == WSAEWOULDBLOCK)
        return 0;
    error_ = error;
    return -1;
}

int TcpConnection::Wait(bool forWrite, int64_t timeoutMs)
{
    std::vector<WSAPOLLFD> fds{WSAPOLLFD{SocketOf(fd_), static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0}};
    int ready = PollWithWake(fds, timeoutMs);
    if (ready < 0) {
        error_ = LastSocketError();
        return -1;
    }
    return ready > 0 ? 1 : 0;
}

// Windows does not tell how much of a socket's output is still queued.
long TcpConnection::OutputQueued() { return 0; }

TcpListener::~TcpListener()
{
    if (fd_ >= 0)
        closesocket(SocketOf(fd_));
}

int TcpListener::Listen(uint16_t port)
{
    if (!EnsureSockets())
        return WSASYSNOTREADY;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return LastSocketError();
    // Not SO_REUSEADDR: here it would let another program take the port over.
    BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    Prepare(s, false);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        int error = LastSocketError();
        closesocket(s);
        return error;
    }
    fd_ = FdOf(s);
    port_ = ntohs(address.sin_port);
    return 0;
}

int TcpListener::Accept()
{
    if (fd_ < 0)
        return -1;
    SOCKET s = accept(SocketOf(fd_), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return -1;
    Prepare(s, true);
    return FdOf(s);
}

// Descriptor 0 stands for standard input (no socket is 0 here): readable
// once it has ended, which is all the simulator asks of it.
void WaitForDescriptors(std::vector<WaitItem>& items, int64_t timeoutMs)
{
    std::vector<WSAPOLLFD> fds;
    std::vector<size_t> socketItems;
    bool inputEnded = false;
    for (size_t i = 0; i < items.size(); ++i) {
        WaitItem& item = items[i];
        item.readable = item.writable = false;
        if (item.fd == 0) {
            WatchStandardInput();
            inputEnded = inputEnded || (item.read && gInputEnded);
            continue;
        }
        SHORT events = static_cast<SHORT>((item.read ? POLLRDNORM : 0) | (item.write ? POLLWRNORM : 0));
        fds.push_back(WSAPOLLFD{SocketOf(item.fd), events, 0});
        socketItems.push_back(i);
    }
    int ready = PollWithWake(fds, inputEnded ? 0 : timeoutMs);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].fd == 0)
            items[i].readable = items[i].read && gInputEnded;
    if (ready <= 0)
        return;
    for (size_t k = 0; k < fds.size(); ++k) {
        WaitItem& item = items[socketItems[k]];
        SHORT revents = fds[k].revents;
        item.readable = (revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0 && item.read;
        item.writable = (revents & (POLLWRNORM | POLLERR)) != 0 && item.write;
    }
}

long ReadAvailable(int fd, uint8_t*, size_t)
{
    return fd == 0 && gInputEnded ? 0 : -1;
}

// Writing to a closed socket is an error result here, never a signal.
void IgnoreBrokenPipes() {}
