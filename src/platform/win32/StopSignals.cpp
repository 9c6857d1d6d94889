#include "platform/StopSignals.h"

#include "platform/win32/StopEvent.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> gStopSignal{0};

// Runs on a thread of its own that the system starts for the event. The
// main thread sees the flag when its wait ends, restores the console and
// closes the port; returning TRUE keeps the process alive until it has.
BOOL WINAPI OnControlEvent(DWORD event)
{
    gStopSignal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    SetEvent(StopEvent());
    WakeSocketWaits();
    return TRUE;
}

} // namespace

HANDLE StopEvent()
{
    static HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return event;
}

StopSignals::StopSignals()
{
    StopEvent(); // made before any handler can need it
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

StopSignals::~StopSignals() { SetConsoleCtrlHandler(OnControlEvent, FALSE); }

bool StopSignals::Requested() { return gStopSignal != 0; }
int StopSignals::Signal() { return gStopSignal; }
void StopSignals::Reset()
{
    gStopSignal = 0;
    ResetEvent(StopEvent());
}
