#include "platform/ChildProcess.h"

#include "platform/Clock.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// How long a child gets to end by itself once its input has ended.
constexpr int64_t kStopGraceMs = 1000;

} // namespace

struct ChildProcess::Handles {
    pid_t pid = -1;
    int tie = -1;    // the child's standard input
    int output = -1; // the child's standard output
};

ChildProcess::ChildProcess() : handles_(std::make_unique<Handles>()) {}

ChildProcess::~ChildProcess() { Stop(); }

int ChildProcess::Start(const std::string& program, const std::vector<std::string>& args)
{
    Stop();
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return errno;
    if (pipe2(out, O_CLOEXEC) != 0) {
        int error = errno;
        close(in[0]);
        close(in[1]);
        return error;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // A process group of its own: Ctrl-C typed at the terminal is meant for
    // the parent, which ends the child itself by closing the tie. A child
    // that died of it first would make the parent see a failed line instead
    // of a clean end.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (error != 0) {
        close(in[1]);
        close(out[0]);
        return error;
    }
    handles_->pid = pid;
    handles_->tie = in[1];
    handles_->output = out[0];
    buffered_.clear();
    return 0;
}

bool ChildProcess::ReadLine(std::string& line, int64_t timeoutMs)
{
    int64_t deadline = SystemClock().NowMs() + timeoutMs;
    for (;;) {
        size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return true;
        }
        if (handles_->output < 0)
            return false;
        int64_t left = deadline - SystemClock().NowMs();
        if (left <= 0)
            return false;
        pollfd descriptor{handles_->output, POLLIN, 0};
        int ready = poll(&descriptor, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[256];
        ssize_t n = read(handles_->output, chunk, sizeof chunk);
        if (n <= 0) {
            close(handles_->output);
            handles_->output = -1;
            return false;
        }
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

bool ChildProcess::Running()
{
    if (handles_->pid < 0)
        return false;
    int status = 0;
    if (waitpid(handles_->pid, &status, WNOHANG) == 0)
        return true;
    handles_->pid = -1;
    return false;
}

void ChildProcess::Stop()
{
    if (handles_->tie >= 0)
        close(handles_->tie);
    if (handles_->output >= 0)
        close(handles_->output);
    handles_->tie = handles_->output = -1;
    if (handles_->pid < 0)
        return;
    // The child ends by itself when its input ends: wait for that (a
    // process descriptor becomes readable when the process ends), then make
    // sure.
    int status = 0;
    if (waitpid(handles_->pid, &status, WNOHANG) == 0) {
        int process = static_cast<int>(syscall(SYS_pidfd_open, handles_->pid, 0));
        if (process >= 0) {
            pollfd descriptor{process, POLLIN, 0};
            poll(&descriptor, 1, static_cast<int>(kStopGraceMs));
            close(process);
        }
        if (waitpid(handles_->pid, &status, WNOHANG) == 0) {
            kill(handles_->pid, SIGKILL);
            waitpid(handles_->pid, &status, 0);
        }
    }
    handles_->pid = -1;
}

std::string HelperProgramPath(const std::string& name)
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text = n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
    size_t slash = text.rfind('/');
    return (slash == std::string::npos ? std::string(".") : text.substr(0, slash)) + "/" + name;
}
