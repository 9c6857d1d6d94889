#include "support/Process.h"

#include <chrono>
#include <thread>
#include <windows.h>

namespace {

std::string Quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

} // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &inherited, 0) || !CreatePipe(&outRead, &outWrite, &inherited, 0))
        return result;
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = Quoted(program);
    for (const std::string& arg : args) {
        commandLine += ' ';
        commandLine += Quoted(arg);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    PROCESS_INFORMATION process{};
    auto start = std::chrono::steady_clock::now();
    BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup,
                                  &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!started) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        return result;
    }
    CloseHandle(process.hThread);
    std::thread feeder([&] {
        DWORD written = 0;
        if (!options.input.empty())
            WriteFile(inWrite, options.input.data(), static_cast<DWORD>(options.input.size()), &written, nullptr);
        CloseHandle(inWrite);
    });
    bool killed = false;
    std::thread watchdog([&] {
        DWORD limit = static_cast<DWORD>(options.timeoutSeconds * 1000);
        if (WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
            killed = true;
            TerminateProcess(process.hProcess, 1);
        }
    });
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(outRead, chunk, sizeof chunk, &n, nullptr) && n > 0)
        result.output.append(chunk, n);
    CloseHandle(outRead);
    // A console program's text mode ends every line with CR LF; the tests
    // compare lines.
    for (size_t at = result.output.find("\r\n"); at != std::string::npos; at = result.output.find("\r\n", at))
        result.output.erase(at, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    watchdog.join();
    feeder.join();
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.exitCode = killed ? -1 : static_cast<int>(code);
    if (killed)
        result.signal = 9;
    return result;
}
