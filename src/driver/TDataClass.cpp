#include "driver/TDataClass.h"

#include "device/TSXComm.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

#include <cstdio>
#include <string>

namespace {

// A dump line holds 21 bytes: it is printed once it is longer than this.
constexpr size_t kDumpLineLimit = 100;

void DumpBytes(const uint8_t* data, int32_t size)
{
    std::string line;
    for (int32_t i = 0; i < size; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%2.2X ", data[i]);
        line += hex;
        if (line.size() > kDumpLineLimit) {
            DebugPrint("Data on serial port: %s", line.c_str());
            line.clear();
        }
    }
    DebugPrint("Data on serial port: %s", line.c_str());
}

} // namespace

void TDataClass::SerialDataReceived(TCommPortDriver& /*sender*/, const uint8_t* dataPtr, int32_t dataSize)
{
    if (Settings().LogLevel >= 1)
        DebugPrint("Received data on serial port");
    if (Settings().LogLevel >= 2)
        DumpBytes(dataPtr, dataSize);
    if (comm_ == nullptr)
        return;
    try {
        comm_->ReceiveBytes(dataPtr, dataSize, program_);
    } catch (const EError& error) {
        error.Print(false);
    }
}
