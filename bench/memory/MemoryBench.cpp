// What a link costs a user: the wall time and the peak memory (the kernel's
// resident-set high-water mark) of whole `morvanedirect --link` runs, for a
// program near the limits and a typical small one, against a run that links
// nothing (`--help`), which is what the process costs by itself.
//
//   memory_bench [runs]    (default 7 runs of each)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

Sample RunOnce(const std::vector<std::string>& args, const std::string& directory)
{
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(directory.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(MORVANEDIRECT_EXE)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(MORVANEDIRECT_EXE, argv.data());
        _exit(127);
    }
    Sample sample;
    rusage usage{};
    wait4(pid, &sample.status, 0, &usage);
    sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.peakKiB = usage.ru_maxrss;
    return sample;
}

struct Summary {
    double medianMs = 0;
    double minMs = 0;
    long peakKiB = 0; // the largest of the runs
    bool ok = true;
};

Summary Measure(const std::vector<std::string>& args, const std::string& directory, int runs)
{
    std::vector<double> times;
    Summary summary;
    for (int i = 0; i < runs; ++i) {
        Sample sample = RunOnce(args, directory);
        summary.ok = summary.ok && WIFEXITED(sample.status) && WEXITSTATUS(sample.status) == 0;
        times.push_back(sample.seconds * 1000);
        summary.peakKiB = std::max(summary.peakKiB, sample.peakKiB);
    }
    std::sort(times.begin(), times.end());
    summary.medianMs = times[times.size() / 2];
    summary.minMs = times.front();
    return summary;
}

long FileSize(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    char directory[] = "/tmp/morvane-memory-XXXXXX";
    if (mkdtemp(directory) == nullptr)
        return 1;
    const std::string lib = MORVANE_LIB_DIR;
    struct Program {
        const char* name;
        std::string classPath;
    };
    const Program programs[] = {
        {"big", std::string(MORVANE_BIG_PROGRAM_DIR) + ";" + lib},
        {"small", std::string(MORVANE_SMALL_PROGRAM_DIR) + ";" + lib},
    };

    Summary base = Measure({"--help"}, directory, runs);
    std::printf("%-8s %9s %10s %10s %10s %12s %12s\n", "program", "image B", "median ms", "fastest ms", "peak KiB",
                "above base", "above/image");
    std::printf("%-8s %9s %10.2f %10.2f %10ld %12s %12s\n", "--help", "-", base.medianMs, base.minMs, base.peakKiB, "-",
                "-");
    bool ok = base.ok;
    double medians[2] = {};
    int index = 0;
    for (const Program& program : programs) {
        Summary link = Measure({"--link", "--path", program.classPath, "Main"}, directory, runs);
        long image = FileSize(std::string(directory) + "/Main.mox");
        long above = link.peakKiB - base.peakKiB;
        std::printf("%-8s %9ld %10.2f %10.2f %10ld %12ld %11.1fx\n", program.name, image, link.medianMs, link.minMs,
                    link.peakKiB, above, image > 0 ? above * 1024.0 / static_cast<double>(image) : 0);
        ok = ok && link.ok && image > 0;
        medians[index++] = link.medianMs;
        std::remove((std::string(directory) + "/Main.mox").c_str());
    }
    rmdir(directory);
    std::printf("big / small link time: %.2f; a link above a run that links nothing: big %.2f ms, small %.2f ms\n",
                medians[0] / medians[1], medians[0] - base.medianMs, medians[1] - base.medianMs);
    if (!ok)
        std::printf("a run failed\n");
    return ok ? 0 : 1;
}
