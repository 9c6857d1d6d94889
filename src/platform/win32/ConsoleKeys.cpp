#include "platform/ConsoleKeys.h"

#include "platform/win32/KeyInput.h"

#include <atomic>
#include <cstdlib>
#include <deque>
#include <io.h>
#include <map>
#include <mutex>
#include <thread>
#include <windows.h>

namespace {

// Input that is no console (a pipe, a file) is read on a thread of its own:
// a pipe can be neither waited on nor, under every system that runs Windows
// programs, asked how much it holds, and a read of it blocks. The thread
// takes what arrives into a queue and signals an event the event loop waits
// on. A thread blocked in a read cannot be taken back, so there is one per
// input for the life of the process.
class InputReader {
public:
    explicit InputReader(HANDLE input) : ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
        std::thread([this, input] { Run(input); }).detach();
    }

    HANDLE Ready() const { return ready_; }

    // 1 a byte taken, 0 none waiting, -1 the input has ended.
    int Take(unsigned char& byte, DWORD timeoutMs)
    {
        if (timeoutMs != 0)
            WaitForSingleObject(ready_, timeoutMs);
        std::lock_guard<std::mutex> lock(mutex_);
        if (bytes_.empty())
            return ended_ ? -1 : 0;
        byte = bytes_.front();
        bytes_.pop_front();
        if (bytes_.empty() && !ended_)
            ResetEvent(ready_);
        return 1;
    }

private:
    void Run(HANDLE input)
    {
        unsigned char chunk[256];
        DWORD n = 0;
        while (ReadFile(input, chunk, sizeof chunk, &n, nullptr) && n > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_.insert(bytes_.end(), chunk, chunk + n);
            SetEvent(ready_);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        SetEvent(ready_);
    }

    HANDLE ready_;
    std::mutex mutex_;
    std::deque<unsigned char> bytes_;
    bool ended_ = false;
};

// Enough for a read of what a pipe already holds; a pipe with nothing yet
// costs this once, when listening starts.
constexpr DWORD kTypedAheadMs = 50;

std::mutex gReadersMutex;
std::map<HANDLE, InputReader*> gReaders;

InputReader& ReaderFor(HANDLE input)
{
    std::lock_guard<std::mutex> lock(gReadersMutex);
    InputReader*& reader = gReaders[input];
    if (reader == nullptr)
        reader = new InputReader(input); // kept: its thread may still be reading
    return *reader;
}

// The saved mode lives in plain globals so that the exit and Ctrl-C paths
// can restore it without touching any object.
HANDLE gModeHandle = INVALID_HANDLE_VALUE;
DWORD gSavedMode = 0;
std::atomic<bool> gModeChanged{false};
bool gExitHookInstalled = false;

void RestoreMode()
{
    if (gModeChanged.exchange(false))
        SetConsoleMode(gModeHandle, gSavedMode);
}

// Called before the stop handler (handlers run newest first): whoever ends
// the run, or the default handling that ends the process, finds the console
// as it was.
BOOL WINAPI RestoreOnControlEvent(DWORD)
{
    RestoreMode();
    return FALSE;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Keys that only change others (Shift, Ctrl, Alt, the locks) give nothing by
// themselves.
bool IsModifier(WORD key)
{
    switch (key) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
    case VK_LSHIFT: case VK_RSHIFT: case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
    case VK_LWIN: case VK_RWIN: case VK_APPS:
        return true;
    default:
        return false;
    }
}

} // namespace

ConsoleKeys::ConsoleKeys(int fd) : fd_(fd)
{
    HANDLE input = HandleOf(fd);
    DWORD mode = 0;
    terminal_ = input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
    if (!terminal_) {
        // Keys given ahead (a script's pipe, a file) must be there before the
        // program's first request, as they are where the pipe can be asked:
        // the reader gets a moment for what is already waiting.
        if (input != INVALID_HANDLE_VALUE)
            WaitForSingleObject(ReaderFor(input).Ready(), kTypedAheadMs);
        return;
    }
    gModeHandle = input;
    gSavedMode = mode;
    if (!gExitHookInstalled) {
        std::atexit(RestoreMode);
        gExitHookInstalled = true;
    }
    SetConsoleCtrlHandler(RestoreOnControlEvent, TRUE);
    // Processed input stays on: Ctrl-C remains a control event, not a key.
    if (SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT | ENABLE_LINE_INPUT)))
        gModeChanged = true;
}

ConsoleKeys::~ConsoleKeys()
{
    if (!terminal_)
        return;
    RestoreMode();
    SetConsoleCtrlHandler(RestoreOnControlEvent, FALSE);
}

bool ConsoleKeys::FillLookahead(int timeoutMs)
{
    if (lookahead_ >= 0)
        return true;
    if (ended_)
        return false;
    HANDLE input = HandleOf(fd_);
    if (terminal_) {
        for (;;) {
            INPUT_RECORD record;
            DWORD count = 0;
            if (!PeekConsoleInputA(input, &record, 1, &count)) {
                ended_ = true;
                return false;
            }
            if (count == 0) {
                if (timeoutMs == 0)
                    return false;
                if (WaitForSingleObject(input, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
                    return false;
                continue;
            }
            if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) {
                ended_ = true;
                return false;
            }
            if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
                continue; // key releases, the mouse, focus and size changes
            const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
            unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
            if (c != 0) {
                lookahead_ = c;
                return true;
            }
            if (IsModifier(key.wVirtualKeyCode))
                continue;
            lookahead_ = 0;
            extended_ = key.wVirtualScanCode & 0xFF;
            return true;
        }
    }
    unsigned char byte = 0;
    int taken = ReaderFor(input).Take(byte, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (taken < 0)
        ended_ = true;
    if (taken <= 0)
        return false;
    lookahead_ = byte;
    return true;
}

bool ConsoleKeys::KeyWaiting() { return FillLookahead(0); }

int ConsoleKeys::WaitFd() const { return ended_ ? -1 : fd_; }

HANDLE KeysReadyEvent(int fd)
{
    HANDLE input = HandleOf(fd);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE)
        return nullptr;
    if (GetConsoleMode(input, &mode))
        return input; // signalled while input records wait
    return ReaderFor(input).Ready();
}

int ConsoleKeys::ReadKey()
{
    while (!FillLookahead(-1)) {
        if (ended_)
            return -1;
    }
    int key = lookahead_;
    lookahead_ = extended_;
    extended_ = -1;
    return key;
}
