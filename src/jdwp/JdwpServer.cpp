#include "jdwp/JdwpServer.h"

#include "image/DebugInfo.h"

#include <cstdio>

namespace {

constexpr size_t kReadBytes = 4096;
// A debugger that stops reading for this long is taken for gone.
constexpr int64_t kSendTimeoutMs = 10'000;
// A look at the socket is a system call, dearer than a slice of the
// program: it is taken once every so many instructions (well under a
// millisecond of the host's time), which is soon enough for a debugger's
// suspend.
constexpr uint64_t kPollInstructions = 20'000;

void Notice(const std::string& text) { std::fprintf(stderr, "morvane-run: %s\n", text.c_str()); }

} // namespace

JdwpServer::JdwpServer(MoxVm& vm, const ProgramDebugInfo& info) : vm_(vm), info_(info) {}

JdwpServer::~JdwpServer() { vm_.SetDebugHook(nullptr); }

int JdwpServer::Listen(uint16_t port)
{
    IgnoreBrokenPipes();
    return listener_.Listen(port);
}

bool JdwpServer::WaitForDebugger()
{
    while (connection_ == nullptr) {
        std::vector<WaitItem> items{WaitItem{listener_.Fd(), true, false, false, false}};
        WaitForDescriptors(items, -1);
        if (!items[0].readable)
            return false; // a stop signal
        int fd = listener_.Accept();
        if (fd < 0)
            continue;
        connection_ = std::make_unique<TcpConnection>(fd);
        session_ = std::make_unique<jdwp::JdwpSession>(vm_, info_);
        while (connection_ != nullptr && !session_->HandshakeDone())
            Pump(-1);
    }
    vm_.SetDebugHook(this);
    session_->VmStarted();
    ServeWhileSuspended();
    return true;
}

bool JdwpServer::Flush()
{
    std::vector<uint8_t>& output = session_->Output();
    size_t sent = 0;
    while (sent < output.size()) {
        long n = connection_->Send(output.data() + sent, output.size() - sent);
        if (n < 0)
            return false;
        if (n == 0 && connection_->Wait(true, kSendTimeoutMs) != 1)
            return false;
        sent += static_cast<size_t>(n);
    }
    output.clear();
    return true;
}

bool JdwpServer::Pump(int64_t timeoutMs)
{
    if (connection_ == nullptr)
        return false;
    if (!Flush()) {
        Close("the debugger stopped reading; it is detached and the program runs on");
        return false;
    }
    if (timeoutMs != 0 && connection_->Wait(false, timeoutMs) != 1)
        return true;
    uint8_t buffer[kReadBytes];
    for (;;) {
        long n = connection_->Receive(buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            Close("the debugger has gone; the program runs on");
            return false;
        }
        if (!session_->Receive(buffer, static_cast<size_t>(n))) {
            Close("the debugger's connection is closed: " + session_->Problem() + "; the program runs on");
            return false;
        }
        if (static_cast<size_t>(n) < sizeof buffer)
            break;
    }
    if (session_->ExitRequested())
        exitRequested_ = true;
    if (!Flush()) {
        Close("the debugger stopped reading; it is detached and the program runs on");
        return false;
    }
    if (session_->Disposed()) {
        Close("");
        return false;
    }
    return true;
}

void JdwpServer::ServeWhileSuspended()
{
    while (connection_ != nullptr && session_->Suspended() && !exitRequested_) {
        if (!Pump(-1))
            return;
    }
}

void JdwpServer::Service()
{
    if (!vm_.Stopped() && vm_.Instructions() - polledAt_ < kPollInstructions)
        return;
    polledAt_ = vm_.Instructions();
    if (connection_ == nullptr) {
        // As a JVM's server does, the port stays open after a debugger has
        // detached: the next one attaches to the running program.
        int fd = listener_.Accept();
        if (fd < 0 || vm_.Stopped())
            return;
        connection_ = std::make_unique<TcpConnection>(fd);
        session_ = std::make_unique<jdwp::JdwpSession>(vm_, info_);
        vm_.SetDebugHook(this);
    }
    if (Pump(0))
        ServeWhileSuspended();
}

void JdwpServer::AtInstruction(uint32_t pc)
{
    if (connection_ == nullptr)
        return;
    if (session_->AtInstruction(pc))
        ServeWhileSuspended();
    else
        Pump(0);
    if (exitRequested_)
        vm_.Terminate();
}

void JdwpServer::ExceptionThrown(uint16_t object, uint32_t originPc, uint32_t catchPc)
{
    if (connection_ == nullptr)
        return;
    if (session_->ExceptionThrown(object, originPc, catchPc))
        ServeWhileSuspended();
}

void JdwpServer::ProgramEnded()
{
    if (connection_ == nullptr)
        return;
    session_->VmDied();
    Flush();
    Close("");
}

void JdwpServer::Close(const std::string& notice)
{
    if (!notice.empty())
        Notice(notice);
    connection_.reset();
    // Detached: no breakpoint, no step, and the plain run loop again.
    vm_.ClearBreakpoints();
    vm_.SetStepping(false);
    vm_.SetDebugHook(nullptr);
    if (session_)
        session_->ResumeAll();
}
