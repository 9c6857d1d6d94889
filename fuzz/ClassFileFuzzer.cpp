// Arbitrary bytes as a class file: the reader, then every query the linker,
// the image writer and the listings make of a loaded class. Whatever the
// bytes, a load either fails with a catalogue error and leaves the class
// empty, or gives a class whose every query answers or raises one.

#include "FuzzSupport.h"

#include "classfile/JavaClass.h"
#include "errors/EError.h"

#include <string>

namespace {

// Runs one query; a catalogue error is one of its answers.
template <class Query>
void Ask(Query&& query)
{
    try {
        query();
    } catch (const EError&) {
    }
}

void ListMethod(CJavaClass& c, int method, size_t bufferSize)
{
    const uint32_t length = c.CodeLength(method);
    // The instruction starts as a plain walk finds them, to compare the
    // listing with.
    std::string starts(length, '\0');
    bool walked = true;
    try {
        for (uint32_t pc = 0; pc < length;) {
            starts[pc] = '\1';
            c.NextInstruction(method, pc);
        }
    } catch (const EError&) {
        walked = false;
    }
    std::string text;
    for (uint32_t pc = 0; pc < length; ++pc) {
        bool opcode = false;
        try {
            opcode = c.ListInstruction(method, pc, text, bufferSize);
        } catch (const EError&) {
            break; // the listing of a broken method stops at the first bad instruction
        }
        FUZZ_CHECK(text.size() < bufferSize);
        FUZZ_CHECK(opcode || text.empty());
        if (walked)
            FUZZ_CHECK(opcode == (starts[pc] != '\0'));
    }
}

void AskEverything(CJavaClass& c)
{
    Ask([&] { c.ThisClassName(); });
    Ask([&] { c.SuperClassName(); });
    FUZZ_CHECK(!c.SourceFileName().empty());

    for (int index = 0; index < c.ConstantPoolCount(); ++index) {
        Ask([&] { FUZZ_CHECK(c.ConstantText(index).size() < CJavaClass::kListingBufferSize); });
        Ask([&] { FUZZ_CHECK(c.ConstantText(index, 8).size() < 8); });
        Ask([&] { c.StringText(index); });
        Ask([&] { c.RefDescriptor(index); });
    }

    for (int field = 0; field < c.FieldCount(); ++field) {
        Ask([&] { FUZZ_CHECK(c.FieldSize(field) == 1 || c.FieldSize(field) == 2); });
        Ask([&] { c.FieldIsConstant(field); });
        Ask([&] { FUZZ_CHECK(c.FieldIndex(c.FieldName(field)) <= field); });
    }
    Ask([&] { FUZZ_CHECK(c.InstanceFieldCount() <= c.FieldCount()); });

    for (int method = 0; method < c.MethodCount(); ++method) {
        Ask([&] { FUZZ_CHECK(c.ParameterCount(method) >= 0); });
        Ask([&] { FUZZ_CHECK(c.MethodIndex(c.MethodName(method), c.MethodDescriptor(method)) <= method); });
        for (int k = 0; k < c.ExceptionCount(method); ++k) {
            Ask([&] {
                const ExceptionEntry entry = c.ExceptionAt(method, k);
                FUZZ_CHECK(entry.startPc < entry.endPc && entry.endPc <= c.CodeLength(method));
            });
        }
        for (int64_t pc : {int64_t{-1}, int64_t{0}, int64_t{c.CodeLength(method)}})
            Ask([&] { c.LineOfPc(method, pc); });
        ListMethod(c, method, CJavaClass::kListingBufferSize);
        ListMethod(c, method, 12);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = (SilenceConsole(), true);
    (void)ready;
    WriteScratchFile(ScratchDir() + "/Fuzz.class", data, size);

    CJavaClass javaClass("Fuzz", ScratchDir());
    try {
        javaClass.load();
    } catch (const EError&) {
        FUZZ_CHECK(!javaClass.IsLoaded());
        FUZZ_CHECK(javaClass.ConstantPoolCount() == 0 && javaClass.MethodCount() == 0);
        return 0;
    }
    FUZZ_CHECK(javaClass.IsLoaded());
    AskEverything(javaClass);
    return 0;
}
