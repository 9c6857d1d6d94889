// The simulator's end of a pseudo-terminal (see PseudoTerminalLine.h).
//
// Who has the device open is told by inotify: the kernel queues an open or
// close event for the device node inside the open() and close() calls
// themselves, before a close lets our end see the line hang up, so the
// events are always there by the time anything the host did after them
// reaches us. Waiting on our end only while someone has the device open
// keeps us from spinning on the hang-up a pseudo-terminal shows once its
// last opener has gone.

#include "platform/ModemLineProtocol.h"
#include "platform/PseudoTerminalLine.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

void CloseDescriptor(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool ReadLink(const std::string& path, std::string& target)
{
    char buffer[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n < 0)
        return false;
    target.assign(buffer, static_cast<size_t>(n));
    return true;
}

sockaddr_un ModemLineAddress(uint64_t device, socklen_t& length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketName = modemlines::SocketName(device);
    socketName.copy(address.sun_path + 1, sizeof address.sun_path - 2);
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + socketName.size());
    return address;
}

// Whether the link at `linkPath` may be pointed elsewhere: it must be a link
// that leads nowhere or to a pseudo-terminal no simulator serves, as one
// left by a simulator that was killed does. A link to anything else is the
// user's, and one to a device that is served would leave that simulator
// unreachable behind our back. 0, EEXIST or EBUSY.
int CheckLinkIsFree(const std::string& linkPath)
{
    struct stat existing {};
    if (lstat(linkPath.c_str(), &existing) != 0)
        return 0;
    std::string target;
    if (!S_ISLNK(existing.st_mode) || !ReadLink(linkPath, target))
        return EEXIST;
    struct stat device {};
    if (stat(linkPath.c_str(), &device) != 0)
        return 0;
    if (!S_ISCHR(device.st_mode) || target.compare(0, 9, "/dev/pts/") != 0)
        return EEXIST;
    int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return errno;
    socklen_t length = 0;
    sockaddr_un address = ModemLineAddress(static_cast<uint64_t>(device.st_rdev), length);
    bool served = connect(probe, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(probe);
    return served ? EBUSY : 0;
}

// Points `linkPath` at `target`, replacing a link that is there in one step,
// so that a host opening the path finds the old device or the new one,
// never nothing.
int PointLink(const std::string& linkPath, const std::string& target)
{
    struct stat existing {};
    if (lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        return EEXIST;
    std::string temporary = linkPath + ".new" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0)
        return errno;
    if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
        int error = errno;
        unlink(temporary.c_str());
        return error;
    }
    return 0;
}

} // namespace

PseudoTerminalLine::PseudoTerminalLine(std::string linkPath, PseudoTerminalHandler& handler)
    : linkPath_(std::move(linkPath)), handler_(handler)
{
}

PseudoTerminalLine::~PseudoTerminalLine() { Close(); }

int PseudoTerminalLine::Open()
{
    Close();
    if (int error = CheckLinkIsFree(linkPath_); error != 0)
        return error;
    return MakePair();
}

void PseudoTerminalLine::Close()
{
    std::string target;
    if (leader_ >= 0 && ReadLink(linkPath_, target) && target == devicePath_)
        unlink(linkPath_.c_str());
    ClosePair();
}

int PseudoTerminalLine::HangUp()
{
    ClosePair();
    return MakePair();
}

int PseudoTerminalLine::MakePair()
{
    auto fail = [this](int error) {
        ClosePair();
        return error;
    };
    leader_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (leader_ < 0)
        return fail(errno);
    char name[128];
    if (grantpt(leader_) != 0 || unlockpt(leader_) != 0 || ptsname_r(leader_, name, sizeof name) != 0)
        return fail(errno);
    devicePath_ = name;
    // Raw from the start, set through our end (which sets the other's): a
    // host that has not configured the line yet must not have our bytes
    // echoed back or its own translated. The mode stays across opens.
    termios mode{};
    if (tcgetattr(leader_, &mode) != 0)
        return fail(errno);
    cfmakeraw(&mode);
    if (tcsetattr(leader_, TCSANOW, &mode) != 0)
        return fail(errno);

    struct stat device {};
    if (stat(devicePath_.c_str(), &device) != 0)
        return fail(errno);
    events_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (events_ < 0 || inotify_add_watch(events_, devicePath_.c_str(), IN_OPEN | IN_CLOSE) < 0)
        return fail(errno);

    control_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (control_ < 0)
        return fail(errno);
    // The kernel tells which process each request came from.
    int one = 1;
    setsockopt(control_, SOL_SOCKET, SO_PASSCRED, &one, sizeof one);
    socklen_t length = 0;
    sockaddr_un address = ModemLineAddress(static_cast<uint64_t>(device.st_rdev), length);
    if (bind(control_, reinterpret_cast<sockaddr*>(&address), length) != 0)
        return fail(errno);

    if (int error = PointLink(linkPath_, devicePath_); error != 0)
        return fail(error);
    opens_ = 0;
    return 0;
}

void PseudoTerminalLine::ClosePair()
{
    CloseDescriptor(leader_);
    CloseDescriptor(events_);
    CloseDescriptor(control_);
    opens_ = 0;
}

void PseudoTerminalLine::AddWaitItems(std::vector<WaitItem>& items, bool output) const
{
    if (leader_ < 0)
        return;
    items.push_back(WaitItem{events_, true, false});
    items.push_back(WaitItem{control_, true, false});
    if (HostPresent())
        items.push_back(WaitItem{leader_, true, output});
}

void PseudoTerminalLine::Service()
{
    if (leader_ < 0)
        return;
    ServiceEvents();
    ServiceData();
    ServiceRequests();
}

void PseudoTerminalLine::ServiceEvents()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = read(events_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Counts lost: our end tells whether anyone has it open now.
                pollfd descriptor{leader_, POLLIN, 0};
                bool open = poll(&descriptor, 1, 0) >= 0 && !(descriptor.revents & POLLHUP);
                if (open && opens_ == 0) {
                    opens_ = 1;
                    handler_.HostOpened();
                } else if (!open && opens_ > 0) {
                    opens_ = 0;
                    DiscardUnread();
                    handler_.HostClosed();
                }
            } else if (event->mask & IN_OPEN) {
                if (opens_++ == 0)
                    handler_.HostOpened();
            } else if ((event->mask & IN_CLOSE) && opens_ > 0) {
                if (--opens_ == 0) {
                    DiscardUnread();
                    handler_.HostClosed();
                }
            }
        }
    }
}

void PseudoTerminalLine::DiscardUnread()
{
    // What we sent that the last host did not read stays in the device for
    // the next one, unlike a serial port, which starts empty at every open.
    // Through our end, an output flush drops what the kernel is still moving
    // to the other end, and setting the mode with a flush empties what has
    // arrived there.
    if (leader_ < 0)
        return;
    tcflush(leader_, TCOFLUSH);
    termios mode{};
    if (tcgetattr(leader_, &mode) == 0)
        tcsetattr(leader_, TCSAFLUSH, &mode);
}

void PseudoTerminalLine::ServiceData()
{
    uint8_t buffer[4096];
    while (HostPresent()) {
        // A read that finds nothing first waits for the bytes the kernel is
        // still moving from the host's end, so after EAGAIN every byte
        // written before now has been read.
        ssize_t n = read(leader_, buffer, sizeof buffer);
        if (n > 0) {
            handler_.HostBytes(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO) {
            // Nobody has it open any more: the close is queued by now. Were
            // it lost, our end would stay ready for ever: trust the device.
            ServiceEvents();
            if (HostPresent()) {
                opens_ = 0;
                DiscardUnread();
                handler_.HostClosed();
            }
        }
        return;
    }
}

void PseudoTerminalLine::ServiceRequests()
{
    for (;;) {
        modemlines::Request request;
        sockaddr_un from{};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        iovec part{&request, sizeof request};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t n = recvmsg(control_, &message, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;
        if (n != static_cast<ssize_t>(sizeof request) || request.magic != modemlines::kMagic)
            continue;
        int process = 0;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header))
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
                ucred credentials{};
                std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
                process = credentials.pid;
            }
        // Everything the host did before it asked comes first.
        ServiceEvents();
        ServiceData();
        modemlines::Reply reply;
        reply.lines = handler_.HostLines(process, request.op, request.lines);
        if (message.msg_namelen > sizeof(sa_family_t))
            sendto(control_, &reply, sizeof reply, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                   message.msg_namelen);
    }
}

long PseudoTerminalLine::Send(const uint8_t* data, size_t size)
{
    if (leader_ < 0)
        return -1;
    if (!HostPresent() || size == 0)
        return 0;
    // Bytes written while nobody has the device open would wait in it for
    // the next host; the close that says so may not have been handed on yet.
    pollfd descriptor{leader_, POLLOUT, 0};
    if (poll(&descriptor, 1, 0) > 0 && (descriptor.revents & POLLHUP))
        return 0;
    for (;;) {
        ssize_t n = write(leader_, data, size);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EIO ? 0 : -1;
    }
}
