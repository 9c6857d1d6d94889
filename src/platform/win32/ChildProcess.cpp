#include "platform/ChildProcess.h"

#include "platform/Clock.h"

#include <atomic>
#include <windows.h>

namespace {

// How long a child gets to end by itself once its input has ended.
constexpr DWORD kStopGraceMs = 1000;

// One argument as the C library of the child splits its command line:
// quoted when it holds a blank or a quote, backslashes doubled before a
// quote.
std::string Quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
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

void CloseIfOpen(HANDLE& handle)
{
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    handle = nullptr;
}

} // namespace

struct ChildProcess::Handles {
    HANDLE process = nullptr;
    HANDLE job = nullptr;    // ends the child with this process, however it ends
    HANDLE tie = nullptr;    // the child's standard input
    HANDLE output = nullptr; // the child's standard output, read overlapped
    OVERLAPPED read{};
    bool readPending = false;
    char chunk[256];
};

ChildProcess::ChildProcess() : handles_(std::make_unique<Handles>())
{
    handles_->read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

ChildProcess::~ChildProcess()
{
    Stop();
    CloseIfOpen(handles_->read.hEvent);
}

int ChildProcess::Start(const std::string& program, const std::vector<std::string>& args)
{
    Stop();
    Handles& h = *handles_;
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE tieRead = nullptr;
    if (!CreatePipe(&tieRead, &h.tie, &inherited, 0))
        return static_cast<int>(GetLastError());
    SetHandleInformation(h.tie, HANDLE_FLAG_INHERIT, 0);
    // An anonymous pipe cannot be read with a deadline; a named one opened
    // for overlapped reads on our side can.
    static std::atomic<unsigned> counter{0};
    std::string pipeName = "\\\\.\\pipe\\morvane-child-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    h.output = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    HANDLE outputWrite = h.output == INVALID_HANDLE_VALUE
                             ? INVALID_HANDLE_VALUE
                             : CreateFileA(pipeName.c_str(), GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE errorWrite = nullptr;
    HANDLE ourError = GetStdHandle(STD_ERROR_HANDLE);
    if (ourError != nullptr && ourError != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), ourError, GetCurrentProcess(), &errorWrite, 0, TRUE, DUPLICATE_SAME_ACCESS);
    int error = 0;
    if (outputWrite == INVALID_HANDLE_VALUE)
        error = static_cast<int>(GetLastError());

    std::string commandLine = Quoted(program);
    for (const std::string& arg : args) {
        commandLine += ' ';
        commandLine += Quoted(arg);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = tieRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = errorWrite;
    PROCESS_INFORMATION process{};
    if (error == 0) {
        h.job = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (h.job != nullptr)
            SetInformationJobObject(h.job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        // A process group of its own: Ctrl-C typed at the console is meant
        // for us, who end the child ourselves by closing the tie. Suspended
        // until it lies in the job, so nothing it starts escapes it.
        if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                            CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process))
            error = static_cast<int>(GetLastError());
    }
    CloseIfOpen(tieRead);
    CloseIfOpen(outputWrite);
    CloseIfOpen(errorWrite);
    if (error != 0) {
        Stop();
        return error;
    }
    if (h.job != nullptr)
        AssignProcessToJobObject(h.job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    h.process = process.hProcess;
    buffered_.clear();
    return 0;
}

bool ChildProcess::ReadLine(std::string& line, int64_t timeoutMs)
{
    Handles& h = *handles_;
    int64_t deadline = SystemClock().NowMs() + timeoutMs;
    for (;;) {
        size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            line = buffered_.substr(0, end);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            buffered_.erase(0, end + 1);
            return true;
        }
        if (h.output == nullptr || h.output == INVALID_HANDLE_VALUE)
            return false;
        if (!h.readPending) {
            ResetEvent(h.read.hEvent);
            if (!ReadFile(h.output, h.chunk, sizeof h.chunk, nullptr, &h.read) && GetLastError() != ERROR_IO_PENDING) {
                CloseIfOpen(h.output); // the child closed its output
                return false;
            }
            h.readPending = true;
        }
        int64_t left = deadline - SystemClock().NowMs();
        if (left <= 0 || WaitForSingleObject(h.read.hEvent, static_cast<DWORD>(left)) != WAIT_OBJECT_0)
            return false; // the read stays pending for the next call
        h.readPending = false;
        DWORD n = 0;
        if (!GetOverlappedResult(h.output, &h.read, &n, FALSE) || n == 0) {
            CloseIfOpen(h.output);
            return false;
        }
        buffered_.append(h.chunk, n);
    }
}

bool ChildProcess::Running()
{
    Handles& h = *handles_;
    if (h.process == nullptr)
        return false;
    if (WaitForSingleObject(h.process, 0) == WAIT_TIMEOUT)
        return true;
    CloseIfOpen(h.process);
    return false;
}

void ChildProcess::Stop()
{
    Handles& h = *handles_;
    CloseIfOpen(h.tie);
    if (h.output != nullptr && h.output != INVALID_HANDLE_VALUE && h.readPending) {
        CancelIo(h.output);
        DWORD n = 0;
        GetOverlappedResult(h.output, &h.read, &n, TRUE);
    }
    h.readPending = false;
    CloseIfOpen(h.output);
    if (h.process != nullptr) {
        // The child ends by itself when its input ends: wait for that, then
        // make sure.
        if (WaitForSingleObject(h.process, kStopGraceMs) == WAIT_TIMEOUT) {
            TerminateProcess(h.process, 1);
            WaitForSingleObject(h.process, INFINITE);
        }
        CloseIfOpen(h.process);
    }
    CloseIfOpen(h.job);
}

std::string HelperProgramPath(const std::string& name)
{
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string text = n > 0 && n < sizeof path ? std::string(path, n) : "";
    size_t slash = text.find_last_of("\\/");
    return (slash == std::string::npos ? std::string(".") : text.substr(0, slash)) + "\\" + name + ".exe";
}
