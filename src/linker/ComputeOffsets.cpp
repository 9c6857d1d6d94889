#include "linker/CMOXLinker.h"

#include "classfile/JavaOpcodes.h"
#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "linker/CodeWalk.h"
#include "linker/ModuleText.h"

// Decides where every byte of the image goes before any byte exists. The
// output pass writes in exactly this order and checks each place against
// what is decided here, so the two cannot drift apart unnoticed.
//
//   header 20 | class records | code | string index table | string records
//
// Running positions are 64-bit: a program far over the limit must reach the
// size check below instead of wrapping around.

namespace {

constexpr int64_t kHeaderSize = 20;
constexpr int64_t kClassHeaderSize = 3;
constexpr int64_t kMethodSlotSize = 7;
constexpr int64_t kHandlerSize = 8;
constexpr int64_t kStringHeaderSize = 10;

} // namespace

void CMOXLinker::ComputeOffsets()
{
    if (Settings().TraceLinker)
        DebugPrint("Linker: Computing offsets.");
    laidOutClassCount_ = ClassCount();
    int64_t running = kHeaderSize;

    for (int index = 0; index < ClassCount(); ++index) {
        CJavaClass& c = *classes_[index];
        classOffsets_[index] = static_cast<int32_t>(running);
        int64_t relative = kClassHeaderSize;
        running += kClassHeaderSize;
        for (int k = 0; k < c.MethodTableCount(); ++k) {
            c.SetMethodTableImageOffset(k, static_cast<uint16_t>(running));
            c.SetMethodTableClassOffset(k, static_cast<uint16_t>(relative));
            running += kMethodSlotSize;
            relative += kMethodSlotSize;
        }
        classSizes_[index] = static_cast<int32_t>(relative);
    }

    for (int index = 0; index < ClassCount(); ++index) {
        CJavaClass& c = *classes_[index];
        const int64_t start = running;
        for (int method = 0; method < c.MethodCount(); ++method) {
            if (Settings().TraceLinker)
                DebugPrint("Offset of %s is %d", c.MethodName(method).c_str(), static_cast<int>(running));
            c.SetCodeOffset(method, static_cast<int32_t>(running));
            running += int64_t{c.CodeLength(method)} + PrologueLength(c, method);
            const int handlers = c.ExceptionCount(method);
            if (handlers > 0)
                running += 1 + kHandlerSize * handlers;
        }
        classSizes_[index] += static_cast<int32_t>(running - start);
    }

    stringTableOffset_ = static_cast<int32_t>(running);
    PlaceStrings(running);
}

void CMOXLinker::PlaceStrings(int64_t start)
{
    // The list is rebuilt from the code in the order the resolution found the
    // strings; equal texts share one record, whichever class uses them.
    strings_.clear();
    stringNumbers_.clear();
    std::vector<int> ownerOf; // class list index of each entry's class
    for (int index = 0; index < ClassCount(); ++index) {
        classStringBytes_[index] = 0;
        if (stringUsesNoted_[index]) {
            for (uint16_t constant : stringUses_[index])
                PlaceString(index, constant, ownerOf);
            continue;
        }
        const CJavaClass& c = *classes_[index];
        for (int method = 0; method < c.MethodCount(); ++method) {
            CodeWalk walk(c, method);
            const uint8_t* code = walk.Code();
            uint32_t at;
            int opcode;
            uint32_t size;
            while (walk.Next(at, opcode, size)) {
                if (opcode == opLdc)
                    PlaceString(index, code[at + 1], ownerOf);
                else if (opcode == opLdcW)
                    PlaceString(index, code[at + 1] * 256 + code[at + 2], ownerOf);
            }
        }
    }
    if (StringCount() >= kMaxStrings)
        PassLimit(EError(ecIDE, 31, kMaxStrings), std::string());

    // Room for the index table is the rebuilt list's own count, so every
    // string has an index entry whatever the resolution counted.
    int64_t position = start + 2 * int64_t{StringCount()};
    for (int number = 0; number < StringCount(); ++number) {
        StringTableEntry& entry = strings_[number];
        const int64_t bytes = kStringHeaderSize + static_cast<int64_t>(entry.text.size());
        entry.imageOffset = static_cast<int32_t>(position);
        position += bytes;
        classStringBytes_[ownerOf[number]] += static_cast<int32_t>(bytes);
    }

    if (position > kMaxImageSize)
        PassLimit(EError(ecLNK, 8), std::string());
    imageSize_ = static_cast<int32_t>(position);
}

void CMOXLinker::PlaceString(int index, int constant, std::vector<int>& ownerOf)
{
    std::string text;
    // The resolution has refused every text the module cannot hold.
    if (ModuleLiteralText(classes_[index]->StringText(constant), text) != LiteralStatus::Ok)
        throw EError(ecIDE, 30);
    if (stringNumbers_.contains(text))
        return;
    if (StringCount() >= kMaxStrings)
        PassLimit(EError(ecIDE, 31, kMaxStrings), std::string());
    StringTableEntry entry;
    entry.text = std::move(text);
    entry.javaClass = classes_[index].get();
    entry.constantIndex = constant;
    entry.ordinal = StringCount();
    AddString(std::move(entry));
    ownerOf.push_back(index);
}
