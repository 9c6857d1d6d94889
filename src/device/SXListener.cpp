// What the running program sends: debug text, exception reports, requests
// for typed keys. Bytes come in chunks of any size, from the poll timer while
// listening or one at a time from a command that waits for its
// acknowledgement; a message may span any number of chunks.

#include "device/TSXComm.h"

#include "device/ProgramMap.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "image/MoxTables.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;

enum MessageKind : uint8_t {
    mkIgnored = 0,
    mkUnknownOpcode = 1,
    mkVmStopped = 2,
    mkText = 3,
    mkException = 4,
    mkVmHalted = 5,
};

void PrintUnknownMessage() { DebugPrint("Unknown message from Morvane"); }

} // namespace

void TSXComm::ReceiveBytes(const uint8_t* bytes, int count, const ProgramMap* program)
{
    int p = 0;
    if (inMessage_)
        p = AssembleMessage(bytes, count, program, 0);
    // The echoes of what we sent since the last chunk (an answered input
    // request) open the next one.
    int skip = std::clamp(std::min(pendingEchoes_, count - p), 0, count);
    p += skip;
    pendingEchoes_ -= skip;
    try {
        while (p < count) {
            uint8_t b = bytes[p++];
            if (b == kComMessage) {
                escapePending_ = false;
                inMessage_ = true;
                messageLength_ = 0;
                p = AssembleMessage(bytes, count, program, p);
            } else if (b == kComStartLoad) {
                if (Settings().LogLevel >= 1)
                    DebugPrint("TSXComm::Got kComStartLoad");
            } else if (b == kComInputRequest) {
                AnswerInputRequest();
            } else if ((b & 0xF0) == kComEndLoad) {
                if (Settings().LogLevel >= 1)
                    DebugPrint("TSXComm::Got kComEndLoad");
            }
        }
    } catch (const EError& error) {
        // The report stands for the rest of this chunk.
        error.Print(false);
    }
}

int TSXComm::AssembleMessage(const uint8_t* bytes, int count, const ProgramMap* program, int position)
{
    for (int p = position; p < count; ++p) {
        uint8_t b = bytes[p];
        if (b == kEscape) {
            escapePending_ = true;
            continue;
        }
        if (b == kFlag) {
            inMessage_ = false;
            DispatchMessage(program);
            return p + 1;
        }
        if (escapePending_) {
            b ^= kEscapeXor;
            escapePending_ = false;
        }
        if (messageLength_ >= kMessageCapacity) {
            DebugPrint("Message buffer length exceeded");
            continue;
        }
        messageBuffer_[messageLength_++] = b;
    }
    return count;
}

void TSXComm::DispatchMessage(const ProgramMap* program)
{
    // An empty message has no kind; its "kind" byte would be left over from
    // an earlier message.
    if (messageLength_ < 1) {
        PrintUnknownMessage();
        return;
    }
    switch (messageBuffer_[0]) {
    case mkIgnored:
    case mkVmStopped:
    case mkVmHalted:
        // Only ExitOnVmException would act on these, and it is off.
        return;
    case mkUnknownOpcode:
        // Too short to name an opcode: what follows would be a stale byte.
        if (messageLength_ < 2) {
            PrintUnknownMessage();
            return;
        }
        throw EError(ecIDE, 24, MoxOpcodeName(messageBuffer_[1]));
    case mkText: {
        messageBuffer_[messageLength_] = 0;
        const char* text = reinterpret_cast<const char*>(messageBuffer_ + 1);
        size_t length = std::char_traits<char>::length(text);
        ConsoleText(std::string_view(text, length));
        if (length > 0)
            textLineOpen_ = text[length - 1] != '\n' && text[length - 1] != '\r';
        return;
    }
    case mkException:
        if (messageLength_ < 5) {
            PrintUnknownMessage();
            return;
        }
        PrintExceptionReport(program);
        return;
    default:
        PrintUnknownMessage();
        return;
    }
}

void TSXComm::PrintExceptionReport(const ProgramMap* program)
{
    // Big-endian here, unlike the status reply.
    int classOffset = 256 * messageBuffer_[1] + messageBuffer_[2];
    int pc = 256 * messageBuffer_[3] + messageBuffer_[4] - 1;
    // After a print() without a line end the report would share its line.
    if (textLineOpen_) {
        ConsoleText("\n");
        textLineOpen_ = false;
    }
    if (program == nullptr) {
        // Only a stored image was downloaded: nothing to look the numbers up in.
        PrintCatalogueMessage(ecIDE, 28, std::to_string(classOffset));
        ConsolePrint("Exception thrown at pc = %d; no line can be given without the linked program\n", pc);
        return;
    }
    std::string className;
    ProgramMap::SourceLine where;
    try {
        className = program->ClassNameAt(classOffset);
        where = program->LineOfPc(pc);
    } catch (...) {
        throw EError(ecIDE, 42, classOffset);
    }
    PrintCatalogueMessage(ecIDE, 28, className);
    ConsolePrint("Exception thrown in file '%s' at line %d\n", where.fileName.c_str(), where.line);
}

void TSXComm::AnswerInputRequest()
{
    if (keyCount_ == 0) {
        TransmitByte(kComNoInput);
        return;
    }
    TransmitByte(kComInputByte);
    TransmitByte(keyQueue_[0]);
    --keyCount_;
    std::copy(keyQueue_ + 1, keyQueue_ + 1 + keyCount_, keyQueue_);
}

void TSXComm::QueueKey(uint8_t key)
{
    if (keyCount_ >= kKeyQueueSize)
        throw EError(ecIDE, 53);
    keyQueue_[keyCount_++] = key;
}
