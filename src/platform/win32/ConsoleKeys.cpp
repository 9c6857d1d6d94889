#include "platform/ConsoleKeys.h"

#include <atomic>
#include <cstdlib>
#include <io.h>
#include <windows.h>

namespace {

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
    if (!terminal_)
        return;
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
    // A pipe cannot be waited on: it is asked whether bytes are there, and
    // read with a blocking read only when the caller is willing to wait.
    if (GetFileType(input) == FILE_TYPE_PIPE && timeoutMs >= 0) {
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
            ended_ = true; // the writer has gone and everything was read
            return false;
        }
        if (available == 0)
            return false;
    }
    unsigned char byte = 0;
    DWORD n = 0;
    if (!ReadFile(input, &byte, 1, &n, nullptr) || n == 0) {
        ended_ = true;
        return false;
    }
    lookahead_ = byte;
    return true;
}

bool ConsoleKeys::KeyWaiting() { return FillLookahead(0); }

int ConsoleKeys::WaitFd() const { return ended_ || !terminal_ ? -1 : fd_; }

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
