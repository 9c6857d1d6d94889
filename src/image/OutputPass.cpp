#include "image/OutputPass.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "image/BytecodeTranslation.h"
#include "image/MoxImageWriter.h"
#include "image/MoxListing.h"
#include "image/MoxTables.h"
#include "linker/CMOXLinker.h"

#include <optional>
#include <string>

namespace {

constexpr uint8_t kRunMarker = 0xA4; // the module's run/debug placeholder
constexpr uint8_t kImageVersion = 1;
constexpr uint8_t kNativeFlag = 0x80;
constexpr uint8_t kHandlersFlag = 0x80;
constexpr int32_t kNoSuperClass = 0xFFFF;
constexpr uint8_t kInvokestatic = 37; // Mox number of the prologue's calls
// Images below this many pages, and those of 128 pages or more (a negative
// byte to the module), are all marked as this many pages.
constexpr int kMinimumPageCount = 20;

// Names looked up once per string record or handler: made once.
const std::string kObjectClass = "java/lang/Object";
const std::string kStringClass = "java/lang/String";
const std::string kThrowableClass = "java/lang/Throwable";

int32_t OffsetOfClass(CMOXLinker& linker, const std::string& name)
{
    return linker.ClassOffset(linker.ClassIndexOf(name));
}

class OutputPass {
public:
    OutputPass(CMOXLinker& linker, MoxListing* listing)
        : linker_(linker), out_(linker.ImageBuffer(), linker.ImageSize(), listing)
    {
    }

    void Run()
    {
        const int32_t mainSlot = MainSlot();
        WriteHeader(mainSlot);
        for (int index = 0; index < linker_.ClassCount(); ++index)
            WriteClassRecord(index);
        for (int index = 0; index < linker_.ClassCount(); ++index)
            WriteClassCode(index);
        WriteStrings();
        out_.ExpectComplete();
        PatchPageCount();
    }

private:
    bool LaidOut(int index) const { return index < linker_.LaidOutClassCount(); }

    // The slot of the named class's main ()V, which starts the program.
    int32_t MainSlot()
    {
        const CJavaClass& mainClass = *linker_.MainClass();
        const int k = mainClass.MethodTableIndex("main", "()V");
        const MethodTableEntry& entry = mainClass.MethodTable()[k];
        if (!entry.definingClass->MethodIsStatic(entry.methodIndex))
            throw EError(ecLNK, 2);
        return entry.imageOffset;
    }

    void WriteHeader(int32_t mainSlot)
    {
        const int statics = linker_.StaticFieldCount();
        out_.Append(kRunMarker, "\tdw\t%d\t; Placeholder for run/debug.\n", kRunMarker);
        // The page count is known only when the image is complete.
        out_.Append(0, "\tdw\t$0\t; Placeholder for the length.\n");
        out_.Append(kImageVersion, "\tdw\t$%X\t; Version: %d.%d\n", kImageVersion, 0, 1);
        out_.Append(static_cast<uint8_t>(statics * 2), "\tdw\t%d\t; Number of static fields = %d\n", statics * 2,
                    statics);
        out_.Append16(mainSlot, "\tdw\t%d\t; `main' method: Offset hi = %d\n",
                      "\tdw\t%d\t;                       lo = %d\n");
        out_.Append16(OffsetOfClass(linker_, kObjectClass), "\tdw\t%d\t; java.lang.Object class: Offset hi = %d\n",
                      "\tdw\t%d\t;                                lo = %d\n");
        const int32_t stringClass = linker_.StringCount() > 0 ? OffsetOfClass(linker_, kStringClass) : 0;
        out_.Append16(stringClass, "\tdw\t%d\t; java.lang.String class: Offset hi = %d\n",
                      "\tdw\t%d\t;                                lo = %d\n");
        CJavaClass* throwable = linker_.ClassAt(linker_.ClassIndexOf(kThrowableClass));
        out_.Append16(throwable->MethodTableImageOffset("throwVMException", "(I)V"),
                      "\tdw\t%d\t; Throwable.throwVMException method: Offset hi = %d\n",
                      "\tdw\t%d\t;                                           lo = %d\n");
        out_.Append16(linker_.StringTableOffset(), "\tdw\t%d\t; String table offset hi = %d\n",
                      "\tdw\t%d\t;                     lo = %d\n");
        out_.Append16(0, "\tdw\t%d\t; Callback method offset hi = %d\n", "\tdw\t%d\t;                        lo = %d\n");
        out_.Append16(OffsetOfClass(linker_, "java/lang/OutOfMemoryError"),
                      "\tdw\t%d\t; java.lang.OutOfMemoryError class: Offset hi = %d\n",
                      "\tdw\t%d\t;                                          lo = %d\n");
        out_.Append16(linker_.StackBase(), "\tdw\t%d\t; Stack base hi = %d\n", "\tdw\t%d\t;            lo = %d\n");
    }

    void WriteClassRecord(int index)
    {
        const CJavaClass& c = *linker_.ClassAt(index);
        if (LaidOut(index))
            out_.ExpectAt(linker_.ClassOffset(index));
        out_.Structure("\n; (%d) Class = `%s'\n", static_cast<int>(linker_.ClassOffset(index)), c.ThisClassName().c_str());
        const int32_t super = c.HasSuperClass() ? OffsetOfClass(linker_, c.SuperClassName()) : kNoSuperClass;
        out_.Append16(super, "\tdw\t%d\t; Superclass offset hi = %d\n", "\tdw\t%d\t; Superclass offset lo = %d\n");
        const int fields = c.FieldTableCount();
        out_.Append(static_cast<uint8_t>(fields * 2), "\tdw\t%d\t; Number of (non-final, non-static) fields = %d\n",
                    static_cast<uint8_t>(fields * 2), fields);
        for (const MethodTableEntry& entry : c.MethodTable())
            WriteMethodSlot(entry);
    }

    // Every value comes from the class whose method supplies the code, so
    // an inherited slot repeats its super class's slot.
    void WriteMethodSlot(const MethodTableEntry& entry)
    {
        const CJavaClass& owner = *entry.definingClass;
        const int method = entry.methodIndex;
        out_.Structure("; Method = `%s'\n", entry.methodName.c_str());
        const int parameters = owner.ParameterCount(method);
        const bool handlers = owner.ExceptionCount(method) > 0;
        const auto parameterByte = static_cast<uint8_t>(parameters * 2 + (handlers ? kHandlersFlag : 0));
        if (handlers)
            out_.Append(parameterByte, "\tdw\t%d\t; Number of parameters = %d (exception table present)\n",
                        parameterByte, parameters);
        else
            out_.Append(parameterByte, "\tdw\t%d\t; Number of parameters = %d\n", parameterByte, parameters);

        const bool native = owner.MethodIsNative(method);
        const int locals = native ? 0 : owner.Method(method).maxLocals - parameters;
        const auto localsByte = static_cast<uint8_t>(locals * 2);
        out_.Append(localsByte, "\tdw\t%d\t; Number of locals = %d\n", localsByte, locals);
        const uint8_t flags = native ? kNativeFlag : 0;
        out_.Append(flags, "\tdw\t%d\t; Flags hi = %d\n", flags, flags);
        const int32_t code = native ? NativeMethodIndex(owner.ThisClassName(), owner.MethodName(method))
                                    : owner.CodeOffset(method);
        out_.Append16(code, "\tdw\t%d\t; Offset hi = %d\n", "\tdw\t%d\t; Offset lo = %d\n");
        if (handlers)
            out_.Append16(owner.CodeOffset(method) + static_cast<int32_t>(owner.CodeLength(method)) +
                              linker_.PrologueLength(owner, method),
                          "\tdw\t%d\t; Exception table offset hi = %d\n", "\tdw\t%d\t; Exception table offset lo = %d\n");
        else
            out_.Append16(0, "\tdw\t%d\t; Empty exception table hi = %d\n", "\tdw\t%d\t; Empty exception table lo = %d\n");
    }

    void WriteClassCode(int index)
    {
        CJavaClass& c = *linker_.ClassAt(index);
        resolved_.Reset(c.ConstantPoolCount());
        out_.Structure("\n; Class = `%s'\n", c.ThisClassName().c_str());
        for (int method = 0; method < c.MethodCount(); ++method) {
            out_.Structure("; (%d) Method %s /* %s */\n", static_cast<int>(c.CodeOffset(method)),
                           c.MethodName(method).c_str(), c.MethodDescriptor(method).c_str());
            if (c.MethodIsNative(method)) {
                out_.Structure(";      Native\n");
                continue;
            }
            if (LaidOut(index))
                out_.ExpectAt(c.CodeOffset(method));
            if (linker_.PrologueLength(c, method) > 0)
                WritePrologue();
            TranslateMethod(linker_, c, method, out_, resolved_);
            if (c.ExceptionCount(method) > 0)
                WriteExceptionTable(c, method);
        }
    }

    // main first calls every static initializer, in class-list order.
    void WritePrologue()
    {
        for (int32_t slot : linker_.ClinitList()) {
            out_.Append(kInvokestatic, "\tdw\t%d\t;      invokestatic <??.<clinit>>\n", kInvokestatic);
            out_.Append16(slot, "\tdw\t%d\t;      Offset hi = %d\n", "\tdw\t%d\t;      Offset lo = %d\n");
        }
    }

    void WriteExceptionTable(const CJavaClass& c, int method)
    {
        const int count = c.ExceptionCount(method);
        const int32_t base = c.CodeOffset(method) + linker_.PrologueLength(c, method);
        out_.Append(static_cast<uint8_t>(count), "\tdw\t%d\t; Number of exception handlers = %d\n",
                    static_cast<uint8_t>(count), count);
        for (int k = 0; k < count; ++k) {
            const ExceptionEntry handler = c.ExceptionAt(method, k);
            // The module compares its pc after the opcode fetch, hence + 1
            // on the range but not on the handler.
            out_.Append16(base + handler.startPc + 1, "\tdw\t%d\t; start_pc hi = %d\n", "\tdw\t%d\t; start_pc lo = %d\n");
            out_.Append16(base + handler.endPc + 1, "\tdw\t%d\t; end_pc hi = %d\n", "\tdw\t%d\t; end_pc lo = %d\n");
            const std::string& catchClass = handler.catchClassName.empty() ? kThrowableClass : handler.catchClassName;
            out_.Append16(OffsetOfClass(linker_, catchClass), "\tdw\t%d\t; catchType offset hi = %d\n",
                          "\tdw\t%d\t; catchType offset lo = %d\n");
            out_.Append16(base + handler.handlerPc, "\tdw\t%d\t; handler_pc hi = %d\n", "\tdw\t%d\t; handler_pc lo = %d\n");
        }
    }

    void WriteStrings()
    {
        out_.ExpectAt(linker_.StringTableOffset());
        out_.Structure("\n; String index table.\n");
        for (int number = 0; number < linker_.StringCount(); ++number)
            out_.Append16(linker_.StringAt(number).imageOffset, "\tdw\t%d\t; String offset hi = %d\n",
                          "\tdw\t%d\t;               lo = %d\n");
        out_.Structure("\n; String data table.\n");
        for (int number = 0; number < linker_.StringCount(); ++number)
            WriteStringRecord(linker_.StringAt(number));
        out_.Structure("\n\n");
    }

    // A string object (class, length, reference to its characters) followed
    // by its character array, whose class is Object.
    void WriteStringRecord(const StringTableEntry& entry)
    {
        out_.ExpectAt(entry.imageOffset);
        const auto length = static_cast<int32_t>(entry.text.size());
        out_.Append16(OffsetOfClass(linker_, kStringClass), "\tdw\t%d\t; String class hi = %d\n",
                      "\tdw\t%d\t;              lo = %d\n");
        out_.Append16(length, "\tdw\t%d\t; String length hi = %d\n", "\tdw\t%d\t;               lo = %d\n");
        out_.Append16(entry.imageOffset + 6, "\tdw\t%d\t; Pointer hi = %d\n", "\tdw\t%d\t;         lo = %d\n");
        out_.Append16(OffsetOfClass(linker_, kObjectClass), "\tdw\t%d\t; Object class hi = %d\n",
                      "\tdw\t%d\t;              lo = %d\n");
        out_.Append16(length, "\tdw\t%d\t; String length hi = %d\n", "\tdw\t%d\t;               lo = %d\n");
        out_.Structure("String Data: \"%s\"\n", entry.text.c_str());
        for (char c : entry.text)
            out_.Append(static_cast<uint8_t>(c), "%c", c);
        out_.Structure("\n");
    }

    void PatchPageCount()
    {
        const auto pages = static_cast<uint8_t>(linker_.ImageSize() / 256 + 1);
        linker_.ImageBuffer()[1] = static_cast<int8_t>(pages) < kMinimumPageCount ? kMinimumPageCount : pages;
    }

    CMOXLinker& linker_;
    MoxImageWriter out_;
    ResolvedConstants resolved_;
};

} // namespace

void WriteMoxImage(CMOXLinker& linker)
{
    if (Settings().TraceLinker)
        DebugPrint("Linker: output pass.");
    // A listing asked for by the caller replaces the listing files.
    if (linker.Listing() != nullptr) {
        OutputPass(linker, linker.Listing()).Run();
        return;
    }
    std::optional<MoxListing> listing;
    if (Settings().WriteListing)
        listing.emplace();
    OutputPass pass(linker, listing ? &*listing : nullptr);
    pass.Run();
    if (!listing)
        return;
    listing->FinishWithDispatchTables();
    WriteHexFile(linker.ImageData(), linker.ImageSize());
    WriteBinaryFile(linker.ImageData(), linker.ImageSize());
}
