#pragma once

#include <termios.h>

// Keys typed while listening. On a terminal the input is switched to
// unechoed single-key mode (signals stay on, so Ctrl-C still reaches us) and
// switched back when this object goes, at exit, or on SIGINT/SIGTERM. When the
// input is not a terminal its bytes are the keys, so a session can be
// scripted; after its end there are no more keys.
class ConsoleKeys {
public:
    explicit ConsoleKeys(int fd = 0);
    ~ConsoleKeys();
    ConsoleKeys(const ConsoleKeys&) = delete;
    ConsoleKeys& operator=(const ConsoleKeys&) = delete;

    // True when a key can be read without waiting.
    bool KeyWaiting();
    // The next key (0..255), or -1 when the input has ended. Blocks if no key
    // is waiting.
    int ReadKey();
    // Descriptor to wait on for the next key; -1 once the input has ended.
    int WaitFd() const { return ended_ ? -1 : fd_; }
    bool IsTerminal() const { return terminal_; }

private:
    bool FillLookahead(int timeoutMs);

    int fd_;
    bool terminal_ = false;
    bool ended_ = false;
    int lookahead_ = -1;
};
