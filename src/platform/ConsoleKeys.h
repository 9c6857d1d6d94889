#pragma once

// Keys typed while listening. On a terminal (a console on Windows) the input
// is switched to unechoed single-key mode (Ctrl-C still reaches us) and
// switched back when this object goes, at exit, or on Ctrl-C. On a Windows
// console an extended key (an arrow, a function key) gives 0 and then its
// scan code. When the input is not a terminal its bytes are the keys, so a
// session can be scripted; after its end there are no more keys.
class ConsoleKeys {
public:
    // `fd`: the C library's descriptor of the input (0: standard input).
    explicit ConsoleKeys(int fd = 0);
    ~ConsoleKeys();
    ConsoleKeys(const ConsoleKeys&) = delete;
    ConsoleKeys& operator=(const ConsoleKeys&) = delete;

    // True when a key can be read without waiting.
    bool KeyWaiting();
    // The next key (0..255), or -1 when the input has ended. Blocks if no key
    // is waiting.
    int ReadKey();
    // Descriptor to wait on for the next key (EventLoop::RunOnce); -1 once
    // the input has ended.
    int WaitFd() const;
    bool IsTerminal() const { return terminal_; }

private:
    bool FillLookahead(int timeoutMs);

    int fd_;
    bool terminal_ = false;
    bool ended_ = false;
    int lookahead_ = -1;
    int extended_ = -1; // the scan code that follows a 0 for an extended key
};
