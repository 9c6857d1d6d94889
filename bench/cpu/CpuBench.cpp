// Processor time of morvanedirect and of the simulator it talks to, as a
// share of one core, while they do what users wait for: a paced download,
// and listening to a program on the line's timing, one that polls for keys
// ten times a second and one that prints as fast as the line carries.
//
//   cpu_bench [listen seconds]    (default 10)

#include "support/ProcessStats.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kGoalPercent = 5;

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// morvanedirect as a child: its input a pipe we never write (no keys, never
// ending), its output read and thrown away as it comes.
class Run {
public:
    explicit Run(const std::vector<std::string>& args)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2); // the simulator's log
            std::vector<char*> argv{const_cast<char*>(MORVANEDIRECT_EXE)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(MORVANEDIRECT_EXE, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        keys_ = in[1];
        output_ = out[0];
    }
    ~Run()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(keys_);
        close(output_);
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    pid_t Pid() const { return pid_; }
    const std::string& Output() const { return text_; }
    size_t Bytes() const { return bytes_; }

    // Reads output for up to `seconds`; false once the output has ended.
    bool Read(double seconds)
    {
        pollfd descriptor{output_, POLLIN, 0};
        if (poll(&descriptor, 1, static_cast<int>(seconds * 1000)) <= 0)
            return true;
        char chunk[4096];
        ssize_t n = read(output_, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        bytes_ += static_cast<size_t>(n);
        // Enough to find the milestones in, not the whole chatter.
        if (text_.size() < 4096)
            text_.append(chunk, static_cast<size_t>(n));
        return true;
    }

    bool ReadUntil(const std::string& text, double seconds)
    {
        auto start = std::chrono::steady_clock::now();
        while (text_.find(text) == std::string::npos) {
            if (Since(start) > seconds || !Read(0.1))
                return false;
        }
        return true;
    }

    // Waits for it to end by itself; its own processor time and that of the
    // children it waited for (the simulator), read before it is reaped.
    void Wait(double& own, double& children)
    {
        siginfo_t info{};
        waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
        own = ProcessCpuSeconds(pid_);
        children = ProcessCpuSeconds(pid_, true);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // Ends it with SIGTERM and returns its exit status.
    int Stop()
    {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int keys_ = -1;
    int output_ = -1;
    std::string text_;
    size_t bytes_ = 0;
};

void Report(const char* what, double wall, double host, double sim, double outputRate)
{
    double hostShare = 100 * host / wall, simShare = 100 * sim / wall;
    std::printf("%-44s %8.2f %9.3f %9.3f %8.2f%% %8.2f%% %8.0f %s\n", what, wall, host, sim, hostShare, simShare,
                outputRate, hostShare < kGoalPercent && simShare < kGoalPercent ? "ok" : "OVER");
    std::fflush(stdout);
}

// A whole `--load` run of a 32 KiB image: probe, paced download, reset.
bool MeasureDownload()
{
    char directory[] = "/tmp/morvane-cpu-XXXXXX";
    if (mkdtemp(directory) == nullptr)
        return false;
    std::string image = std::string(directory) + "/image";
    std::vector<uint8_t> bytes(32768);
    std::mt19937 random(7);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    FILE* file = std::fopen((image + ".mox").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);

    auto start = std::chrono::steady_clock::now();
    Run run({"--load", "--port", "sim:pace", image});
    while (run.Read(1)) {
    }
    double host = 0, sim = 0;
    run.Wait(host, sim);
    double wall = Since(start);
    std::remove((image + ".mox").c_str());
    rmdir(directory);
    bool complete = run.Output().find("Download complete") != std::string::npos;
    if (!complete) {
        std::fprintf(stderr, "the download failed:\n%s\n", run.Output().c_str());
        return false;
    }
    Report("paced download, 32 KiB (whole --load run)", wall, host, sim, static_cast<double>(run.Bytes()) / wall);
    return true;
}

bool MeasureListening(const char* what, const std::string& classPath, const std::string& program, double seconds)
{
    Run run({"--listen", "--port", "sim:pace", "--path", classPath, program});
    if (!run.ReadUntil("Listening for messages", 30)) {
        std::fprintf(stderr, "%s: never listened:\n%s\n", what, run.Output().c_str());
        return false;
    }
    std::vector<pid_t> children = ChildrenOf(run.Pid());
    if (children.size() != 1)
        return false;
    pid_t simulator = children[0];
    double hostStart = ProcessCpuSeconds(run.Pid()), simStart = ProcessCpuSeconds(simulator);
    size_t bytesStart = run.Bytes();
    auto start = std::chrono::steady_clock::now();
    while (Since(start) < seconds)
        run.Read(0.05);
    double host = ProcessCpuSeconds(run.Pid()) - hostStart, sim = ProcessCpuSeconds(simulator) - simStart;
    double wall = Since(start);
    double rate = static_cast<double>(run.Bytes() - bytesStart) / wall;
    run.Stop();
    Report(what, wall, host, sim, rate);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10;
    std::printf("%-44s %8s %9s %9s %9s %9s %8s\n", "", "wall s", "host CPU", "sim CPU", "host", "sim", "out B/s");
    const std::string classPath = std::string(MORVANE_PROGRAM_DIR) + ";" + MORVANE_LIB_DIR;
    bool ok = MeasureDownload();
    ok = MeasureListening("listening, a program polling for keys", classPath, "Poller", seconds) &&
         ok;
    ok = MeasureListening("listening, a program printing all it can", classPath, "Chatter", seconds) &&
         ok;
    std::printf("goal: under %.0f%% of one core for each process\n", kGoalPercent);
    return ok ? 0 : 1;
}
