// The interpreter: start-up, the run loop and one case per Mox opcode.
// Calls, returns and exceptions are in MoxVmCalls.cpp, natives in
// MoxVmNatives.cpp.

#include "sim/MoxVm.h"

#include "image/MoxTables.h"

#include <algorithm>

namespace {

// The interpreter works on the Java opcode that names each Mox opcode
// (image/MoxTables.h maps the image's bytes to them), so that the cases
// below read as the Java instructions they carry out.
enum : int16_t {
    jNop = 0, jIconstM1 = 2, jIconst0 = 3, jIconst5 = 8, jBipush = 16, jSipush = 17,
    jLdc = 18, jLdcW = 19, jLdc2W = 20, jIload = 21, jIload0 = 26, jIload3 = 29,
    jIaload = 46, jBaload = 51, jIstore = 54, jIstore0 = 59, jIstore3 = 62,
    jIastore = 79, jBastore = 84, jPop = 87, jPop2 = 88, jDup = 89, jDupX1 = 90,
    jDupX2 = 91, jDup2 = 92, jDup2X1 = 93, jDup2X2 = 94, jSwap = 95,
    jIadd = 96, jIsub = 100, jImul = 104, jIdiv = 108, jIrem = 112, jIneg = 116,
    jIshl = 120, jIshr = 122, jIushr = 124, jIand = 126, jIor = 128, jIxor = 130,
    jIinc = 132, jI2b = 145, jIfeq = 153, jIfne = 154, jIflt = 155, jIfge = 156,
    jIfgt = 157, jIfle = 158, jIfIcmpeq = 159, jIfIcmpne = 160, jIfIcmplt = 161,
    jIfIcmpge = 162, jIfIcmpgt = 163, jIfIcmple = 164, jIfAcmpeq = 165, jIfAcmpne = 166,
    jGoto = 167, jJsr = 168, jRet = 169, jTableswitch = 170, jLookupswitch = 171,
    jIreturn = 172, jReturn = 177, jGetstatic = 178, jPutstatic = 179, jGetfield = 180,
    jPutfield = 181, jInvokevirtual = 182, jInvokestatic = 184, jInvokeinterface = 185,
    jNew = 187, jNewarray = 188, jAnewarray = 189, jArraylength = 190, jAthrow = 191,
    jCheckcast = 192, jInstanceof = 193, jWide = 196,
};

uint16_t Word(int32_t value) { return static_cast<uint16_t>(value); }

bool Compare(int16_t java, int16_t a, int16_t b)
{
    switch (java) {
    case jIfeq: case jIfIcmpeq: return a == b;
    case jIfne: case jIfIcmpne: return a != b;
    case jIflt: case jIfIcmplt: return a < b;
    case jIfge: case jIfIcmpge: return a >= b;
    case jIfgt: case jIfIcmpgt: return a > b;
    default: return a <= b; // ifle, if_icmple
    }
}

} // namespace

MoxVm::MoxVm(const std::vector<uint8_t>& eeprom, uint32_t length, uint32_t ramBytes, Board& board, VmLink& link)
    : board_(board), link_(link)
{
    javaOpcodeOf_.fill(-1);
    for (int number = 0; number < 256; ++number)
        if (IsMoxOpcodeNumber(number))
            javaOpcodeOf_[static_cast<size_t>(number)] =
                static_cast<int16_t>(MoxOpcodeJavaOpcode(MoxOpcodeIndexOfNumber(number)));
    BuildNativeTable();

    if (!ReadMoxHeader(eeprom, length, header_)) {
        Halt(VmFault{VmFaultCode::vfBadHeader, 0});
        return;
    }
    uint32_t base = header_.stackBase;
    // References are 16 bits: a large image leaves only the RAM that fits
    // below 64 KiB.
    ramBytes = std::min(ramBytes, 0x10000u - base) & ~1u; // the heap is made of words
    ramBytes_ = ramBytes;
    if (ramBytes < header_.staticBytes + kStackBytes + kMinHeapBytes) {
        Halt(VmFault{VmFaultCode::vfImageTooLarge, base});
        return;
    }
    memory_ = std::make_unique<VmMemory>(eeprom, base, ramBytes);
    staticsBase_ = base;
    stackStart_ = base + header_.staticBytes;
    stackEnd_ = stackStart_ + kStackBytes;
    heap_ = std::make_unique<VmHeap>(*memory_, stackEnd_, memory_->RamEnd());
    try {
        Start();
    } catch (const VmFault& fault) {
        Halt(fault);
    }
}

MoxVm::~MoxVm() = default;

void MoxVm::Start()
{
    sp_ = stackStart_;
    // main()V: the static initializers run from its prologue, Throwable's
    // (which makes the OutOfMemoryError in advance) among them.
    Invoke(header_.mainSlot, 0, false);
}

void MoxVm::Halt(const VmFault& fault)
{
    state_ = State::vsFaulted;
    fault_ = fault;
    if (fault.code == VmFaultCode::vfUnknownOpcode) {
        uint8_t opcode = static_cast<uint8_t>(fault.address);
        link_.SendMessage(1, &opcode, 1);
    }
    uint8_t report[3] = {static_cast<uint8_t>(fault.code), static_cast<uint8_t>(instructionPc_ >> 8),
                         static_cast<uint8_t>(instructionPc_)};
    link_.SendMessage(2, report, sizeof report);
}

MoxVm::State MoxVm::Run(uint64_t maxInstructions, int64_t untilUs)
{
    sliceUntilUs_ = untilUs;
    try {
        for (uint64_t n = 0; n < maxInstructions && state_ == State::vsRunning && nowUs_ < sliceUntilUs_; ++n) {
            nowUs_ += kInstructionUs;
            ++instructions_;
            try {
                Execute();
            } catch (const VmErrorRaised& error) {
                RaiseVmError(error.code);
            }
        }
    } catch (const VmFault& fault) {
        Halt(fault);
    }
    return state_;
}

uint16_t MoxVm::Peek(uint32_t depth) const
{
    uint32_t address = sp_ - 2 * (depth + 1);
    if (sp_ < 2 * (depth + 1) || address < frames_.back().operandBase)
        throw VmFault{VmFaultCode::vfOperandStack, pc_};
    return memory_->Read16(address);
}

uint32_t MoxVm::LocalAddress(uint32_t index) const
{
    const Frame& frame = frames_.back();
    if (index >= frame.localsCount)
        throw VmFault{VmFaultCode::vfBadLocal, index};
    return frame.localsBase + 2 * index;
}

uint16_t MoxVm::Allocate(uint32_t size, bool holdsReferences)
{
    if (size <= 0xFFFF) {
        uint16_t object = heap_->Allocate(size, holdsReferences);
        if (object == 0) {
            CollectGarbage();
            object = heap_->Allocate(size, holdsReferences);
        }
        if (object != 0)
            return object;
    }
    throw VmErrorRaised{veOutOfMemory};
}

uint16_t MoxVm::NewArray(int16_t length, bool byteElements)
{
    if (length < 0)
        throw VmErrorRaised{veNegativeArraySize};
    uint32_t size = 4 + static_cast<uint32_t>(length) * (byteElements ? 1 : 2);
    uint16_t array = Allocate(size, !byteElements);
    // Arrays are Objects, as the string data records of the image show.
    memory_->Write16(array, header_.objectClass);
    memory_->Write16(array + 2, static_cast<uint16_t>(length));
    return array;
}

uint32_t MoxVm::ElementAddress(uint16_t array, int16_t index, uint32_t elementSize) const
{
    if (array == 0)
        throw VmErrorRaised{veNullPointer};
    int16_t length = static_cast<int16_t>(memory_->Read16(array + 2u));
    if (index < 0 || index >= length)
        throw VmErrorRaised{veArrayIndex};
    return array + 4u + static_cast<uint32_t>(index) * elementSize;
}

void MoxVm::CollectGarbage()
{
    if (!heap_)
        return;
    MarkRoots();
    heap_->Sweep([this](uint16_t freed) { throwOrigin_.erase(freed); });
}

void MoxVm::MarkRoots()
{
    // Static fields and the whole stack (locals, frame links and operands);
    // string literals lie in the read-only image and can hold no reference
    // into the heap. Peripheral slots keep their objects and shared arrays.
    for (uint32_t address = staticsBase_; address + 1 < sp_; address += 2)
        heap_->MarkFrom(memory_->Read16(address));
    for (int i = 0; i < Board::kSlots; ++i) {
        const Board::Slot& slot = board_.SlotAt(i);
        if (slot.claimed) {
            heap_->MarkFrom(slot.object);
            heap_->MarkFrom(slot.array);
        }
    }
}

void MoxVm::Execute()
{
    const uint32_t p = pc_;
    instructionPc_ = p;
    const uint8_t number = memory_->Code8(p);
    const int16_t java = javaOpcodeOf_[number];
    switch (java) {
    case jNop:
        pc_ = p + 1;
        return;
    case jIconstM1: case jIconst0: case 4: case 5: case 6: case 7: case jIconst5:
        Push(Word(java - jIconst0));
        pc_ = p + 1;
        return;
    case jBipush:
        Push(Word(static_cast<int8_t>(memory_->Code8(p + 1))));
        pc_ = p + 2;
        return;
    case jSipush:
        Push(memory_->Code16(p + 1));
        pc_ = p + 3;
        return;
    case jLdc:
    case jLdcW: {
        uint32_t string = java == jLdc ? memory_->Code8(p + 1) : memory_->Code16(p + 1);
        uint32_t entry = header_.stringTable + 2 * string;
        if (header_.stringTable < MoxHeader::kSize || entry + 2 > memory_->ProgramEnd())
            throw VmFault{VmFaultCode::vfBadString, string};
        uint16_t record = memory_->Read16(entry);
        if (record < MoxHeader::kSize || record + 6u > memory_->ProgramEnd())
            throw VmFault{VmFaultCode::vfBadString, string};
        Push(record);
        pc_ = p + (java == jLdc ? 2 : 3);
        return;
    }
    case jIload:
        Push(memory_->Read16(LocalAddress(memory_->Code8(p + 1))));
        pc_ = p + 2;
        return;
    case jIload0: case 27: case 28: case jIload3:
        Push(memory_->Read16(LocalAddress(static_cast<uint32_t>(java - jIload0))));
        pc_ = p + 1;
        return;
    case jIstore:
        memory_->Write16(LocalAddress(memory_->Code8(p + 1)), Pop());
        pc_ = p + 2;
        return;
    case jIstore0: case 60: case 61: case jIstore3: {
        uint16_t value = Pop();
        memory_->Write16(LocalAddress(static_cast<uint32_t>(java - jIstore0)), value);
        pc_ = p + 1;
        return;
    }
    case jIaload: {
        int16_t index = PopInt();
        Push(memory_->Read16(ElementAddress(Pop(), index, 2)));
        pc_ = p + 1;
        return;
    }
    case jBaload: {
        // The module has one 8-bit type: chars (and bytes) hold 0..255.
        int16_t index = PopInt();
        Push(memory_->Read8(ElementAddress(Pop(), index, 1)));
        pc_ = p + 1;
        return;
    }
    case jIastore:
    case jBastore: {
        uint16_t value = Pop();
        int16_t index = PopInt();
        uint16_t array = Pop();
        if (java == jIastore)
            memory_->Write16(ElementAddress(array, index, 2), value);
        else
            memory_->Write8(ElementAddress(array, index, 1), static_cast<uint8_t>(value));
        pc_ = p + 1;
        return;
    }
    case jPop:
        Pop();
        pc_ = p + 1;
        return;
    case jPop2:
        Pop();
        Pop();
        pc_ = p + 1;
        return;
    case jDup:
        Push(Peek(0));
        pc_ = p + 1;
        return;
    case jDupX1: {
        uint16_t v1 = Pop(), v2 = Pop();
        Push(v1), Push(v2), Push(v1);
        pc_ = p + 1;
        return;
    }
    case jDupX2: {
        uint16_t v1 = Pop(), v2 = Pop(), v3 = Pop();
        Push(v1), Push(v3), Push(v2), Push(v1);
        pc_ = p + 1;
        return;
    }
    case jDup2: {
        uint16_t v1 = Pop(), v2 = Pop();
        Push(v2), Push(v1), Push(v2), Push(v1);
        pc_ = p + 1;
        return;
    }
    case jDup2X1: {
        uint16_t v1 = Pop(), v2 = Pop(), v3 = Pop();
        Push(v2), Push(v1), Push(v3), Push(v2), Push(v1);
        pc_ = p + 1;
        return;
    }
    case jDup2X2: {
        uint16_t v1 = Pop(), v2 = Pop(), v3 = Pop(), v4 = Pop();
        Push(v2), Push(v1), Push(v4), Push(v3), Push(v2), Push(v1);
        pc_ = p + 1;
        return;
    }
    case jSwap: {
        uint16_t v1 = Pop(), v2 = Pop();
        Push(v1), Push(v2);
        pc_ = p + 1;
        return;
    }
    case jIadd: {
        uint32_t b = Pop(), a = Pop();
        carry_ = a + b > 0xFFFF;
        Push(Word(static_cast<int32_t>(a + b)));
        pc_ = p + 1;
        return;
    }
    case jIsub: {
        uint32_t b = Pop(), a = Pop();
        carry_ = a < b;
        Push(Word(static_cast<int32_t>(a - b)));
        pc_ = p + 1;
        return;
    }
    case jImul: {
        int32_t b = PopInt(), a = PopInt();
        Push(Word(a * b));
        pc_ = p + 1;
        return;
    }
    case jIdiv:
    case jIrem: {
        int32_t b = PopInt(), a = PopInt();
        if (b == 0)
            throw VmErrorRaised{veDivideByZero};
        // -32768 / -1 overflows back to -32768 (remainder 0), as Java's
        // division does at its own width.
        Push(Word(java == jIdiv ? a / b : a % b));
        pc_ = p + 1;
        return;
    }
    case jIneg:
        Push(Word(-static_cast<int32_t>(PopInt())));
        pc_ = p + 1;
        return;
    case jIshl: case jIshr: case jIushr: {
        uint32_t count = Pop() & 0x1F;
        int32_t value = PopInt();
        int32_t result = java == jIshl   ? static_cast<int32_t>(static_cast<uint32_t>(value) << count)
                         : java == jIshr ? value >> count
                                         : static_cast<int32_t>((static_cast<uint32_t>(value) & 0xFFFF) >> count);
        Push(Word(result));
        pc_ = p + 1;
        return;
    }
    case jIand: case jIor: case jIxor: {
        uint16_t b = Pop(), a = Pop();
        Push(java == jIand ? a & b : java == jIor ? a | b : a ^ b);
        pc_ = p + 1;
        return;
    }
    case jIinc: {
        uint32_t address = LocalAddress(memory_->Code8(p + 1));
        uint32_t value = memory_->Read16(address);
        uint32_t constant = Word(static_cast<int8_t>(memory_->Code8(p + 2)));
        carry_ = value + constant > 0xFFFF;
        memory_->Write16(address, Word(static_cast<int32_t>(value + constant)));
        pc_ = p + 3;
        return;
    }
    case jI2b:
        Push(Pop() & 0xFF);
        pc_ = p + 1;
        return;
    case jIfeq: case jIfne: case jIflt: case jIfge: case jIfgt: case jIfle: {
        int16_t value = PopInt();
        pc_ = Compare(java, value, 0) ? p + static_cast<int16_t>(memory_->Code16(p + 1)) : p + 3;
        return;
    }
    case jIfIcmpeq: case jIfIcmpne: case jIfIcmplt: case jIfIcmpge: case jIfIcmpgt: case jIfIcmple: {
        int16_t b = PopInt(), a = PopInt();
        pc_ = Compare(java, a, b) ? p + static_cast<int16_t>(memory_->Code16(p + 1)) : p + 3;
        return;
    }
    case jIfAcmpeq: case jIfAcmpne: {
        uint16_t b = Pop(), a = Pop();
        pc_ = (a == b) == (java == jIfAcmpeq) ? p + static_cast<int16_t>(memory_->Code16(p + 1)) : p + 3;
        return;
    }
    case jGoto:
        pc_ = p + static_cast<int16_t>(memory_->Code16(p + 1));
        return;
    case jJsr:
        Push(Word(static_cast<int32_t>(p + 3)));
        pc_ = p + static_cast<int16_t>(memory_->Code16(p + 1));
        return;
    case jRet:
        pc_ = memory_->Read16(LocalAddress(memory_->Code8(p + 1)));
        return;
    case jTableswitch: {
        // Offsets count from the byte after the opcode, hence the + 1.
        int16_t key = PopInt();
        int32_t low = static_cast<int16_t>(memory_->Code16(p + 3));
        uint32_t span = memory_->Code16(p + 5);
        int32_t index = key - low;
        uint32_t at = index < 0 || static_cast<uint32_t>(index) > span ? p + 1 : p + 7 + 2 * static_cast<uint32_t>(index);
        pc_ = p + 1 + static_cast<int16_t>(memory_->Code16(at));
        return;
    }
    case jLookupswitch: {
        uint16_t key = Pop();
        uint32_t pairs = memory_->Code16(p + 3);
        uint32_t at = p + 1;
        for (uint32_t i = 0; i < pairs; ++i) {
            if (memory_->Code16(p + 5 + 4 * i) == key) {
                at = p + 7 + 4 * i;
                break;
            }
        }
        pc_ = p + 1 + static_cast<int16_t>(memory_->Code16(at));
        return;
    }
    case jIreturn:
    case jReturn:
        Return(java == jIreturn);
        return;
    case jGetstatic:
    case jPutstatic: {
        uint32_t offset = memory_->Code16(p + 1);
        if (offset + 2 > header_.staticBytes)
            throw VmFault{VmFaultCode::vfBadStaticField, offset};
        if (java == jGetstatic)
            Push(memory_->Read16(staticsBase_ + offset));
        else
            memory_->Write16(staticsBase_ + offset, Pop());
        pc_ = p + 3;
        return;
    }
    case jGetfield:
    case jPutfield: {
        uint32_t offset = memory_->Code16(p + 1);
        uint16_t value = java == jPutfield ? Pop() : 0;
        uint16_t object = Pop();
        if (object == 0)
            throw VmErrorRaised{veNullPointer};
        // A field beyond a heap object's end would be a neighbour's word.
        if (heap_->IsObject(object) && offset + 2 > heap_->ObjectSize(object))
            throw VmFault{VmFaultCode::vfReadOutOfRange, object + offset};
        if (java == jGetfield)
            Push(memory_->Read16(object + offset));
        else
            memory_->Write16(object + offset, value);
        pc_ = p + 3;
        return;
    }
    case jInvokevirtual: {
        uint32_t argumentBytes = memory_->Code8(p + 1);
        uint32_t position = memory_->Code8(p + 2);
        if (argumentBytes < 2)
            throw VmFault{VmFaultCode::vfBadMethodSlot, p};
        uint16_t object = Peek(argumentBytes / 2 - 1);
        if (object == 0)
            throw VmErrorRaised{veNullPointer};
        Invoke(static_cast<uint16_t>(ClassOf(object) + position), static_cast<uint16_t>(p), false);
        return;
    }
    case jInvokestatic:
        Invoke(memory_->Code16(p + 1), static_cast<uint16_t>(p), false);
        return;
    case jNew: {
        uint16_t classRecord = memory_->Code16(p + 1);
        if (classRecord < MoxHeader::kSize || classRecord + 3u > memory_->ProgramEnd())
            throw VmFault{VmFaultCode::vfBadClass, classRecord};
        uint16_t object = Allocate(2u + memory_->Read8(classRecord + 2u), true);
        memory_->Write16(object, classRecord);
        Push(object);
        pc_ = p + 3;
        return;
    }
    case jNewarray:
        Push(NewArray(PopInt(), memory_->Code8(p + 1) != 0));
        pc_ = p + 2;
        return;
    case jAnewarray:
        Push(NewArray(PopInt(), memory_->Code8(p + 2) != 0));
        pc_ = p + 3;
        return;
    case jArraylength: {
        uint16_t array = Pop();
        if (array == 0)
            throw VmErrorRaised{veNullPointer};
        Push(memory_->Read16(array + 2u));
        pc_ = p + 1;
        return;
    }
    case jAthrow: {
        uint16_t object = Pop();
        if (object == 0)
            throw VmErrorRaised{veNullPointer};
        Throw(object, static_cast<uint16_t>(p));
        return;
    }
    case jCheckcast: {
        // The linker writes no class for checkcast (0, 0), so there is
        // nothing to check against; a class written there is checked.
        uint16_t classRecord = memory_->Code16(p + 1);
        uint16_t object = Peek(0);
        if (classRecord != 0 && object != 0 && !IsSubclass(ClassOf(object), classRecord))
            throw VmErrorRaised{veClassCast};
        pc_ = p + 3;
        return;
    }
    case jInstanceof: {
        uint16_t classRecord = memory_->Code16(p + 1);
        uint16_t object = Pop();
        Push(object != 0 && IsSubclass(ClassOf(object), classRecord) ? 1 : 0);
        pc_ = p + 3;
        return;
    }
    case jWide: {
        // As the linker writes it: wide, the widened instruction's own Mox
        // opcode, then its operands at full width.
        uint8_t widened = memory_->Code8(p + 1);
        int16_t inner = javaOpcodeOf_[widened];
        uint32_t index = memory_->Code16(p + 2);
        if (inner == jIload) {
            Push(memory_->Read16(LocalAddress(index)));
            pc_ = p + 4;
        } else if (inner == jIstore) {
            memory_->Write16(LocalAddress(index), Pop());
            pc_ = p + 4;
        } else if (inner == jRet) {
            pc_ = memory_->Read16(LocalAddress(index));
        } else if (inner == jIinc) {
            uint32_t address = LocalAddress(index);
            uint32_t value = memory_->Read16(address);
            uint32_t constant = memory_->Code16(p + 4);
            carry_ = value + constant > 0xFFFF;
            memory_->Write16(address, Word(static_cast<int32_t>(value + constant)));
            pc_ = p + 6;
        } else {
            throw VmFault{VmFaultCode::vfUnknownOpcode, widened};
        }
        return;
    }
    default:
        // Not a Mox opcode, or one no linked image can carry:
        // invokeinterface and ldc2_w have no meaning on this machine.
        throw VmFault{VmFaultCode::vfUnknownOpcode, number};
    }
}
