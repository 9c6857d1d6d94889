#pragma once

// What the kernel tells about a process: its processor time, its children,
// and this process's own processor time at a finer grain.

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// User and system time of `pid` in seconds, from /proc (clock ticks, so
// 10 ms steps on most systems); -1 when the process is gone. `reapedChildren`:
// the time of the children it has waited for instead (a process that has
// ended but is not reaped yet still shows both).
inline double ProcessCpuSeconds(pid_t pid, bool reapedChildren = false)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long ticks = 0;
    // After the name: state, then 10 more fields before utime and stime,
    // then cutime and cstime.
    const int first = reapedChildren ? 13 : 11;
    for (int i = 0; i < first + 2 && fields >> field; ++i) {
        if (i >= first)
            ticks += std::stol(field);
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// This process's own processor time, to the microsecond.
inline double OwnCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The processes whose parent is `pid`.
inline std::vector<pid_t> ChildrenOf(pid_t pid)
{
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return children;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long candidate = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0')
            continue;
        std::ifstream file(std::string("/proc/") + entry->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(text.substr(close + 2));
        std::string state;
        long parent = 0;
        if (fields >> state >> parent && parent == pid)
            children.push_back(static_cast<pid_t>(candidate));
    }
    closedir(proc);
    return children;
}
