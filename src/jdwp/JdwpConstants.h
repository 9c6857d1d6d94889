#pragma once

#include <cstdint>

// Numbers the debug wire protocol fixes.
namespace jdwp {

enum Error : uint16_t {
    erNone = 0,
    erInvalidThread = 10,
    erInvalidThreadGroup = 11,
    erThreadNotSuspended = 13,
    erInvalidObject = 20,
    erInvalidClass = 21,
    erInvalidMethodId = 23,
    erInvalidLocation = 24,
    erInvalidFieldId = 25,
    erInvalidFrameId = 30,
    erOpaqueFrame = 32,
    erTypeMismatch = 34,
    erInvalidSlot = 35,
    erNotFound = 41,
    erInvalidEventType = 102,
    erIllegalArgument = 103,
    erNotImplemented = 99,
    erAbsentInformation = 101,
    erVmDead = 112,
    erInvalidIndex = 503,
    erInvalidLength = 504,
    erInvalidArray = 508,
    erNativeMethod = 511,
};

enum CommandSet : uint8_t {
    csVirtualMachine = 1,
    csReferenceType = 2,
    csClassType = 3,
    csArrayType = 4,
    csInterfaceType = 5,
    csMethod = 6,
    csField = 8,
    csObjectReference = 9,
    csStringReference = 10,
    csThreadReference = 11,
    csThreadGroupReference = 12,
    csArrayReference = 13,
    csClassLoaderReference = 14,
    csEventRequest = 15,
    csStackFrame = 16,
    csClassObjectReference = 17,
    csEvent = 64,
};

enum EventKind : uint8_t {
    ekSingleStep = 1,
    ekBreakpoint = 2,
    ekFramePop = 3,
    ekException = 4,
    ekUserDefined = 5,
    ekThreadStart = 6,
    ekThreadDeath = 7,
    ekClassPrepare = 8,
    ekClassUnload = 9,
    ekClassLoad = 10,
    ekVmStart = 90,
    ekVmDeath = 99,
};

enum SuspendPolicy : uint8_t { spNone = 0, spEventThread = 1, spAll = 2 };

enum TypeTag : uint8_t { ttClass = 1, ttInterface = 2, ttArray = 3 };

enum StepSize : int32_t { ssMin = 0, ssLine = 1 };
enum StepDepth : int32_t { sdInto = 0, sdOver = 1, sdOut = 2 };

enum ClassStatus : int32_t { kClassReady = 7 }; // verified, prepared, initialized

// Ids that are no module address: addresses stay below 64 KiB.
constexpr uint64_t kThreadId = 0x100001;
constexpr uint64_t kThreadGroupId = 0x100002;
// Reference type ids of array types: this base plus their number.
constexpr uint64_t kArrayTypeBase = 0x10000;

} // namespace jdwp
