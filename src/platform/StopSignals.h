#pragma once

// Ctrl-C and SIGTERM end a listening session cleanly: instead of killing the
// process they set a flag that the listen loop checks after every wait, so
// the terminal is restored and the port closed on the way out. Blocking waits
// return early (EINTR) when one arrives.
class StopSignals {
public:
    StopSignals();  // installs the handlers
    ~StopSignals(); // puts the previous handlers back
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool Requested();
    static int Signal(); // the signal that asked to stop, 0 if none
    static void Reset();
};
