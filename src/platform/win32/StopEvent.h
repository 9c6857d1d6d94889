#pragma once

#include <windows.h>

// What a stop request (Ctrl-C, the console closing) wakes: every wait of the
// event loop waits on this event too, and a wait on sockets is woken through
// the socket library (Tcp.cpp), much as a signal ends poll() elsewhere.

// A manual-reset event, set while a stop is requested.
HANDLE StopEvent();
// Ends a socket wait under way (and the next one) at once; does nothing
// while no socket is in use.
void WakeSocketWaits();
