#include "bench/BenchSession.h"
#include "sim/SimServer.h"

int main(int argc, char** argv)
{
    auto makeWatcher = [](const std::string& benchFile, const std::string& traceFile,
                          std::string& error) -> std::unique_ptr<ModuleWatcher> {
        auto session = std::make_unique<BenchSession>();
        if (!session->Open(benchFile, traceFile, error))
            return nullptr;
        return session;
    };
    return RunSimulator(std::vector<std::string>(argv + 1, argv + argc), makeWatcher);
}
