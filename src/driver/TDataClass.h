#pragma once

#include <cstdint>

class ProgramMap;
class TCommPortDriver;
class TSXComm;

// The receive path of a listening run: the serial driver's poll timer hands
// each chunk here, and it goes on to the protocol's listener together with
// the linked program (null when only a stored image was downloaded).
class TDataClass {
public:
    TDataClass(TSXComm* comm, const ProgramMap* program) : comm_(comm), program_(program) {}

    // Bound to the driver's OnReceiveData. An error raised by the listener is
    // printed here as one line and listening goes on.
    void SerialDataReceived(TCommPortDriver& sender, const uint8_t* dataPtr, int32_t dataSize);

private:
    TSXComm* comm_;
    const ProgramMap* program_;
};
