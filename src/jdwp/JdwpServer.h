#pragma once

#include "jdwp/JdwpSession.h"
#include "platform/Tcp.h"
#include "sim/MoxVm.h"

#include <memory>

class ProgramDebugInfo;

// The debug wire protocol on a loopback port, driven from the runner's loop
// without threads: the runner services it between slices of the program,
// and while the debugger holds the program suspended the server blocks on
// the socket until it resumes, detaches or goes. One debugger at a time.
class JdwpServer final : public VmDebugHook {
public:
    JdwpServer(MoxVm& vm, const ProgramDebugInfo& info);
    ~JdwpServer() override;

    // 0 or the system's error number.
    int Listen(uint16_t port);
    uint16_t Port() const { return listener_.Port(); }

    // Blocks until a debugger has connected and resumed the program (the
    // program is held before its first instruction meanwhile). False when
    // the wait was interrupted by a stop signal.
    bool WaitForDebugger();
    bool Attached() const { return connection_ != nullptr; }
    // Between slices: what the debugger sent; blocks while it suspends.
    // After a debugger has detached, a new one may attach here.
    void Service();
    // The program has ended: the debugger hears of it and the connection
    // closes.
    void ProgramEnded();
    bool ExitRequested() const { return exitRequested_; }

    void AtInstruction(uint32_t pc) override;
    void ExceptionThrown(uint16_t object, uint32_t originPc, uint32_t catchPc) override;

private:
    // Reads and answers what is waiting, for at most `timeoutMs` (negative:
    // until something comes). False once the connection is gone.
    bool Pump(int64_t timeoutMs);
    bool Flush();
    void ServeWhileSuspended();
    void Close(const std::string& notice);

    MoxVm& vm_;
    const ProgramDebugInfo& info_;
    TcpListener listener_;
    std::unique_ptr<TcpConnection> connection_;
    std::unique_ptr<jdwp::JdwpSession> session_;
    bool exitRequested_ = false;
    uint64_t polledAt_ = 0;
};
