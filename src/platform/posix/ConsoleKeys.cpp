#include "platform/ConsoleKeys.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The saved mode lives in plain globals so that the signal and exit paths can
// restore it without touching any object.
termios gSavedMode;
volatile sig_atomic_t gModeChanged = 0;
int gModeFd = -1;
struct sigaction gPreviousInt;
struct sigaction gPreviousTerm;
bool gExitHookInstalled = false;

void RestoreMode()
{
    if (gModeChanged) {
        tcsetattr(gModeFd, TCSANOW, &gSavedMode);
        gModeChanged = 0;
    }
}

void RestoreOnSignal(int signal)
{
    RestoreMode(); // tcsetattr is async-signal-safe
    const struct sigaction& previous = signal == SIGINT ? gPreviousInt : gPreviousTerm;
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && !(previous.sa_flags & SA_SIGINFO)) {
        previous.sa_handler(signal);
        return;
    }
    if (previous.sa_handler == SIG_IGN)
        return;
    ::signal(signal, SIG_DFL);
    raise(signal);
}

} // namespace

ConsoleKeys::ConsoleKeys(int fd) : fd_(fd)
{
    terminal_ = isatty(fd) == 1;
    if (!terminal_ || tcgetattr(fd, &gSavedMode) != 0) {
        terminal_ = false;
        return;
    }
    termios raw = gSavedMode;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    gModeFd = fd;
    if (!gExitHookInstalled) {
        std::atexit(RestoreMode);
        gExitHookInstalled = true;
    }
    // Whoever handles the signal (the listen loop's stop flag, or the default
    // action) runs after the terminal is back as it was.
    struct sigaction action {};
    action.sa_handler = RestoreOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, nullptr, &gPreviousInt);
    sigaction(SIGTERM, nullptr, &gPreviousTerm);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    if (tcsetattr(fd, TCSANOW, &raw) == 0)
        gModeChanged = 1;
}

ConsoleKeys::~ConsoleKeys()
{
    if (!terminal_)
        return;
    RestoreMode();
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
}

bool ConsoleKeys::FillLookahead(int timeoutMs)
{
    if (lookahead_ >= 0)
        return true;
    if (ended_)
        return false;
    pollfd descriptor{fd_, POLLIN, 0};
    int ready = poll(&descriptor, 1, timeoutMs);
    if (ready <= 0)
        return false;
    unsigned char byte = 0;
    ssize_t n = read(fd_, &byte, 1);
    if (n == 1) {
        lookahead_ = byte;
        return true;
    }
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
        ended_ = true;
    return false;
}

bool ConsoleKeys::KeyWaiting() { return FillLookahead(0); }

int ConsoleKeys::WaitFd() const { return ended_ ? -1 : fd_; }

int ConsoleKeys::ReadKey()
{
    while (!FillLookahead(-1)) {
        if (ended_)
            return -1;
    }
    int key = lookahead_;
    lookahead_ = -1;
    return key;
}
