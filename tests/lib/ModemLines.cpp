// libmorvane_modemlines.so: modem lines for pseudo-terminals served by
// morvane-sim --pty, for tests. With it in LD_PRELOAD, a process's TIOCMGET,
// TIOCMSET, TIOCMBIS and TIOCMBIC on such a device reach the simulator
// (ModemLineProtocol.h) and return when the module has seen the change;
// every other call, and every device nobody serves, goes to the system
// unchanged. It keeps no state, so it needs no hook on open or close, works
// from any thread and after fork, and a device is found from its descriptor
// alone.

#include "platform/ModemLineProtocol.h"

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <dlfcn.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

// The system's ioctl, found when the library is loaded, before any thread
// of the program can call it.
IoctlFunction gSystemIoctl = nullptr;

__attribute__((constructor)) void FindSystemIoctl()
{
    gSystemIoctl = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
}

// Closes the socket however the exchange ends, and leaves errno alone.
struct Socket {
    int fd;
    ~Socket()
    {
        int saved = errno;
        if (fd >= 0)
            close(fd);
        errno = saved;
    }
};

// The exchange with the simulator serving `fd`. False when nobody serves it
// (the call is then the system's); otherwise `result` is the ioctl's.
bool AskSimulator(int fd, const modemlines::Request& request, modemlines::Reply& reply)
{
    struct stat device {};
    if (fstat(fd, &device) != 0 || !S_ISCHR(device.st_mode))
        return false;
    Socket socket_{socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (socket_.fd < 0)
        return false;
    // A name of our own (the kernel picks it), so that the answer can come.
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    if (bind(socket_.fd, reinterpret_cast<sockaddr*>(&self), sizeof(sa_family_t)) != 0)
        return false;
    // Formatted in place: an ioctl may be made where nothing may allocate.
    sockaddr_un server{};
    server.sun_family = AF_UNIX;
    int size = std::snprintf(server.sun_path + 1, sizeof server.sun_path - 1, "%s%llu", modemlines::kSocketPrefix,
                             static_cast<unsigned long long>(device.st_rdev));
    if (size <= 0 || static_cast<size_t>(size) >= sizeof server.sun_path - 1)
        return false;
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(size));
    if (connect(socket_.fd, reinterpret_cast<sockaddr*>(&server), length) != 0)
        return false; // no simulator behind this device
    reply = modemlines::Reply{};
    reply.error = EIO; // unless the simulator answers
    if (send(socket_.fd, &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request))
        return true;
    pollfd answer{socket_.fd, POLLIN, 0};
    int ready;
    while ((ready = poll(&answer, 1, modemlines::kReplyTimeoutMs)) < 0 && errno == EINTR) {
    }
    modemlines::Reply got;
    if (ready == 1 && recv(socket_.fd, &got, sizeof got, 0) == static_cast<ssize_t>(sizeof got) &&
        got.magic == modemlines::kMagic)
        reply = got;
    return true;
}

uint32_t ToLines(int bits)
{
    return ((bits & TIOCM_DTR) ? modemlines::kDtr : 0u) | ((bits & TIOCM_RTS) ? modemlines::kRts : 0u);
}

int FromLines(uint32_t lines)
{
    return ((lines & modemlines::kDtr) ? TIOCM_DTR : 0) | ((lines & modemlines::kRts) ? TIOCM_RTS : 0) |
           ((lines & modemlines::kDsr) ? TIOCM_DSR : 0);
}

// True when the call was the simulator's; `result` is then the ioctl's.
bool ServeModemLines(int fd, unsigned long command, int* bits, int& result)
{
    modemlines::Request request;
    switch (command) {
    case TIOCMGET: request.op = modemlines::opGet; break;
    case TIOCMSET: request.op = modemlines::opSet; break;
    case TIOCMBIS: request.op = modemlines::opRaise; break;
    case TIOCMBIC: request.op = modemlines::opLower; break;
    default: return false;
    }
    if (bits == nullptr) {
        result = -1;
        errno = EFAULT;
        return true;
    }
    if (command != TIOCMGET)
        request.lines = ToLines(*bits);
    int saved = errno;
    modemlines::Reply reply;
    if (!AskSimulator(fd, request, reply)) {
        errno = saved;
        return false;
    }
    if (reply.error != 0) {
        errno = reply.error;
        result = -1;
        return true;
    }
    if (command == TIOCMGET)
        *bits = FromLines(reply.lines);
    errno = saved;
    result = 0;
    return true;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int ioctl(int fd, unsigned long command, ...) noexcept
{
    va_list rest;
    va_start(rest, command);
    void* argument = va_arg(rest, void*);
    va_end(rest);
    int result = 0;
    if (ServeModemLines(fd, command, static_cast<int*>(argument), result))
        return result;
    if (gSystemIoctl == nullptr)
        FindSystemIoctl(); // called by another library's constructor, before ours
    if (gSystemIoctl == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return gSystemIoctl(fd, command, argument);
}
