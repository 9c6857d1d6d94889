#include "support/Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options)
{
    ProcessResult result;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return result;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    if (options.input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    if (in[1] >= 0)
        fcntl(in[1], F_SETFL, O_NONBLOCK);
    bool killed = false;
    for (;;) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!killed && elapsed > options.timeoutSeconds) {
            kill(pid, SIGKILL);
            killed = true;
        }
        poll(fds, in[1] >= 0 ? 2 : 1, 100);
        char chunk[4096];
        ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n > 0) {
            result.output.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n == 0)
            break;
        if (in[1] >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(in[1], options.input.data() + written, options.input.size() - written);
            if (w > 0)
                written += static_cast<size_t>(w);
            if (w < 0 || written == options.input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    close(out[0]);
    if (in[1] >= 0)
        close(in[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    return result;
}
