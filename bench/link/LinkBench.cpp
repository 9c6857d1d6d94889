// How long a link takes compared with merely reading the class files it
// reads, for a program near the limits (about 200 classes, an image close
// to 64 KiB) and a typical small one. The ratio is printed after the runs.
#include "linker/CMOXLinker.h"

#include "errors/EError.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Program {
    const char* name;
    std::string classPath;
};

const Program kPrograms[] = {
    {"big", std::string(MORVANE_LIB_DIR) + ";" + MORVANE_BIG_PROGRAM_DIR},
    {"small", std::string(MORVANE_LIB_DIR) + ";" + MORVANE_SMALL_PROGRAM_DIR},
};

std::unique_ptr<CMOXLinker> Link(const Program& program)
{
    auto linker = std::make_unique<CMOXLinker>();
    linker->Link("Main", program.classPath);
    return linker;
}

// The files one link of the program reads, found by linking it once.
std::vector<std::string> FilesOf(const Program& program)
{
    const std::unique_ptr<CMOXLinker> linker = Link(program);
    std::vector<std::string> files;
    for (int i = 0; i < linker->ClassCount(); ++i)
        files.push_back(linker->ClassAt(i)->FilePath());
    return files;
}

void ReadFiles(benchmark::State& state, const Program& program)
{
    const std::vector<std::string> files = FilesOf(program);
    std::vector<char> buffer(1 << 16);
    for (auto _ : state) {
        size_t total = 0;
        for (const std::string& path : files) {
            FILE* file = std::fopen(path.c_str(), "rb");
            if (file == nullptr) {
                state.SkipWithError("class file vanished");
                return;
            }
            size_t got;
            while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
                total += got;
            std::fclose(file);
        }
        benchmark::DoNotOptimize(total);
    }
    state.counters["classes"] = static_cast<double>(files.size());
}

// Reading and checking the same classes as the link does, search included,
// without linking them.
void LoadClasses(benchmark::State& state, const Program& program)
{
    std::vector<std::string> names;
    {
        const std::unique_ptr<CMOXLinker> linker = Link(program);
        for (int i = 0; i < linker->ClassCount(); ++i)
            names.push_back(linker->ClassAt(i)->RequestedName());
    }
    for (auto _ : state) {
        for (const std::string& name : names) {
            CJavaClass javaClass(name, program.classPath);
            javaClass.load();
            benchmark::DoNotOptimize(javaClass.MethodCount());
        }
    }
}

void LinkProgram(benchmark::State& state, const Program& program)
{
    int32_t size = 0;
    int classes = 0;
    try {
        for (auto _ : state) {
            std::unique_ptr<CMOXLinker> linker = Link(program);
            size = linker->ImageSize();
            classes = linker->ClassCount();
            benchmark::DoNotOptimize(linker->ImageData());
            // The tool keeps its linker to the end of the process: freeing
            // the classes is no part of a link.
            state.PauseTiming();
            linker.reset();
            state.ResumeTiming();
        }
    } catch (const EError& error) {
        state.SkipWithError(error.Message());
        return;
    }
    state.counters["classes"] = classes;
    state.counters["image_bytes"] = size;
}

// Collects each run's time per iteration by name, to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const
    {
        for (const Program& program : kPrograms) {
            const auto read = seconds_.find(std::string("Read/") + program.name);
            const auto link = seconds_.find(std::string("Link/") + program.name);
            if (read == seconds_.end() || link == seconds_.end())
                continue;
            std::printf("%s: link / read = %.2f\n", program.name, link->second / read->second);
        }
    }

private:
    std::map<std::string, double> seconds_;
};

} // namespace

int main(int argc, char** argv)
{
    for (const Program& program : kPrograms) {
        benchmark::RegisterBenchmark((std::string("Read/") + program.name).c_str(), ReadFiles, program)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Load/") + program.name).c_str(), LoadClasses, program)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Link/") + program.name).c_str(), LinkProgram, program)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
