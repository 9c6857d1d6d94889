#pragma once

#include <cstdint>
#include <string>

// Why the virtual machine stopped a program that it could not go on running
// safely. The image in EEPROM is untrusted: every fault is a finding about
// the image (or a program that outgrew the module), never a reason for the
// simulator itself to fail. The numbers travel to the host as the second
// byte of a kind-2 message, so they are part of the module's vocabulary.
enum class VmFaultCode : uint8_t {
    vfNone = 0,
    vfBadHeader = 1,          // the image's header does not describe a program
    vfImageTooLarge = 2,      // the image leaves no room for statics, stack and heap
    vfCodeOutOfRange = 3,     // the pc left the program memory
    vfReadOutOfRange = 4,     // a read outside program memory and RAM
    vfWriteOutOfRange = 5,    // a write outside RAM (program memory is read-only)
    vfBadMethodSlot = 6,      // a call through a slot that is not one
    vfBadNative = 7,          // a native index or argument count the firmware does not have
    vfStackOverflow = 8,      // the stack overflowed the reserve kept for raising errors
    vfOperandStack = 9,       // an instruction popped below its frame's operands
    vfBadLocal = 10,          // a local variable index beyond the frame's locals
    vfBadClass = 11,          // a class record chain that does not end
    vfBadStaticField = 12,    // a static field beyond the image's count
    vfBadString = 13,         // a string number beyond the string table
    vfVmErrorReturned = 14,   // Throwable.throwVMException returned instead of throwing
    vfUnknownOpcode = 15,     // reported to the host as a kind-1 message as well
};

// The text the simulator prints for a fault.
const char* VmFaultText(VmFaultCode code);

struct VmFault {
    VmFaultCode code = VmFaultCode::vfNone;
    uint32_t address = 0; // the address or value that was out of range, where there is one
};
