#include "sim/VmFault.h"

const char* VmFaultText(VmFaultCode code)
{
    switch (code) {
    case VmFaultCode::vfNone: return "no fault";
    case VmFaultCode::vfBadHeader: return "the image header does not describe a program";
    case VmFaultCode::vfImageTooLarge: return "the image leaves no room for the stack and the heap";
    case VmFaultCode::vfCodeOutOfRange: return "the program counter left the program";
    case VmFaultCode::vfReadOutOfRange: return "a read outside the memory";
    case VmFaultCode::vfWriteOutOfRange: return "a write outside the RAM";
    case VmFaultCode::vfBadMethodSlot: return "a call through a bad method slot";
    case VmFaultCode::vfBadNative: return "a native method the firmware does not have";
    case VmFaultCode::vfStackOverflow: return "the stack overflowed into the end of its reserve";
    case VmFaultCode::vfOperandStack: return "an instruction took more operands than its frame holds";
    case VmFaultCode::vfBadLocal: return "a local variable beyond the frame";
    case VmFaultCode::vfBadClass: return "a class record chain that does not end";
    case VmFaultCode::vfBadStaticField: return "a static field beyond the image's count";
    case VmFaultCode::vfBadString: return "a string number beyond the string table";
    case VmFaultCode::vfVmErrorReturned: return "Throwable.throwVMException returned";
    case VmFaultCode::vfUnknownOpcode: return "an opcode the virtual machine cannot execute";
    }
    return "an unknown fault";
}
