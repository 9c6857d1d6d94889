// What an idle wait costs: a reset of a module that never answers waits out
// the 10 s start-up window on a real port (a pseudo-terminal nobody writes
// to). The protocol must block in the kernel meanwhile, so the process should
// use next to no processor time; the figure is the share of one core.

#include "device/TSXComm.h"
#include "errors/EError.h"
#include "platform/SerialPort.h"
#include "serial/TCommPortDriver.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void SilentResetOnAPseudoTerminal(benchmark::State& state)
{
    int leader = -1, follower = -1;
    char name[256] = {};
    if (openpty(&leader, &follower, name, nullptr, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    close(follower);
    std::string device = name;
    TCommPortDriver driver;
    driver.SetComPortName(device);
    driver.SetComPortSpeed(br28800);
    driver.SetEnableDTROnOpen(false);
    TSXComm comm(driver);
    if (!driver.Connect()) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    double cpu = 0, wall = 0;
    bool timedOut = false;
    for (auto _ : state) {
        double cpuStart = ProcessCpuSeconds();
        auto wallStart = std::chrono::steady_clock::now();
        try {
            comm.ResetModule(true);
        } catch (const EError& error) {
            timedOut = error.Is(ecIDE, 22);
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpu += ProcessCpuSeconds() - cpuStart;
    }
    close(leader);
    if (!timedOut)
        state.SkipWithError("the reset did not time out");
    state.counters["wait_s"] = wall;
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_percent_of_core"] = wall > 0 ? 100.0 * cpu / wall : 0;
}

BENCHMARK(SilentResetOnAPseudoTerminal)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
