#include "platform/StopSignals.h"

#include <csignal>

namespace {

volatile sig_atomic_t gStopSignal = 0;
struct sigaction gPreviousInt;
struct sigaction gPreviousTerm;

void OnStopSignal(int signal) { gStopSignal = signal; }

} // namespace

StopSignals::StopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked poll() must return at once
    sigaction(SIGINT, &action, &gPreviousInt);
    sigaction(SIGTERM, &action, &gPreviousTerm);
}

StopSignals::~StopSignals()
{
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
}

bool StopSignals::Requested() { return gStopSignal != 0; }
int StopSignals::Signal() { return gStopSignal; }
void StopSignals::Reset() { gStopSignal = 0; }
