#include "faults/TerminalSession.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TerminalSession::TerminalSession(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& workingDirectory)
{
    if (openpty(&leader_, &follower_, nullptr, nullptr, nullptr) != 0)
        return;
    fcntl(leader_, F_SETFD, FD_CLOEXEC);
    fcntl(follower_, F_SETFD, FD_CLOEXEC);
    tcgetattr(follower_, &before_);
    pid_ = fork();
    if (pid_ == 0) {
        // A session of its own, with the terminal as its controlling one, so
        // that Ctrl-C typed on it reaches the program as a user's would.
        setsid();
        ioctl(follower_, TIOCSCTTY, 0);
        dup2(follower_, 0);
        dup2(follower_, 1);
        dup2(follower_, 2);
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    // Our end of the terminal stays open too: its mode can be read after the
    // program has gone, and the program's end is no hang-up for our reads.
    fcntl(leader_, F_SETFL, O_NONBLOCK);
}

TerminalSession::~TerminalSession()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Reap(true);
    }
    if (leader_ >= 0)
        close(leader_);
    if (follower_ >= 0)
        close(follower_);
}

void TerminalSession::ReadAvailable(int timeoutMs)
{
    pollfd descriptor{leader_, POLLIN, 0};
    if (poll(&descriptor, 1, timeoutMs) <= 0)
        return;
    char chunk[4096];
    ssize_t n;
    while ((n = read(leader_, chunk, sizeof chunk)) > 0)
        output_.append(chunk, static_cast<size_t>(n));
}

bool TerminalSession::Reap(bool block)
{
    if (pid_ <= 0)
        return true;
    int status = 0;
    pid_t ended;
    while ((ended = waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (ended != pid_)
        return false;
    pid_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return true;
}

bool TerminalSession::WaitFor(const std::string& text, double seconds)
{
    auto start = std::chrono::steady_clock::now();
    while (Output().find(text) == std::string::npos) {
        if (Since(start) > seconds || Reap(false)) {
            ReadAvailable(0);
            return Output().find(text) != std::string::npos;
        }
        ReadAvailable(20);
    }
    return true;
}

bool TerminalSession::WaitForKeyMode(double seconds)
{
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        termios now{};
        if (tcgetattr(follower_, &now) == 0 && (now.c_lflag & (ICANON | ECHO)) == 0)
            return true;
        if (Since(start) > seconds)
            return false;
        ReadAvailable(10);
    }
}

void TerminalSession::Type(const std::string& keys)
{
    if (write(leader_, keys.data(), keys.size()) < 0)
        return;
}

void TerminalSession::SendSignal(int signal)
{
    if (pid_ > 0)
        kill(pid_, signal);
}

bool TerminalSession::WaitForExit(double seconds)
{
    auto start = std::chrono::steady_clock::now();
    while (!Reap(false)) {
        if (Since(start) > seconds) {
            kill(pid_, SIGKILL);
            Reap(true);
            ReadAvailable(0);
            return false;
        }
        ReadAvailable(20);
    }
    ReadAvailable(0);
    return true;
}

std::string TerminalSession::Output() const
{
    std::string text;
    for (size_t i = 0; i < output_.size(); ++i)
        if (!(output_[i] == '\r' && i + 1 < output_.size() && output_[i + 1] == '\n'))
            text += output_[i];
    return text;
}

bool TerminalSession::TerminalAsBefore() const
{
    termios after{};
    if (tcgetattr(follower_, &after) != 0)
        return false;
    return after.c_iflag == before_.c_iflag && after.c_oflag == before_.c_oflag && after.c_cflag == before_.c_cflag &&
           after.c_lflag == before_.c_lflag && std::memcmp(after.c_cc, before_.c_cc, sizeof after.c_cc) == 0;
}
