// Windows has no pseudo-terminals: the simulator's --pty line is refused
// there, and the simulator serves over RFC 2217 alone.

#include "platform/PseudoTerminalLine.h"

#include <windows.h>

PseudoTerminalLine::PseudoTerminalLine(std::string linkPath, PseudoTerminalHandler& handler)
    : linkPath_(std::move(linkPath)), handler_(handler)
{
}

PseudoTerminalLine::~PseudoTerminalLine() = default;

int PseudoTerminalLine::Open() { return ERROR_NOT_SUPPORTED; }
void PseudoTerminalLine::Close() {}
int PseudoTerminalLine::HangUp() { return ERROR_NOT_SUPPORTED; }
void PseudoTerminalLine::AddWaitItems(std::vector<WaitItem>&, bool) const {}
void PseudoTerminalLine::Service() {}
void PseudoTerminalLine::DiscardUnread() {}
long PseudoTerminalLine::Send(const uint8_t*, size_t) { return -1; }
