#include "LinkTestSupport.h"

#include "errors/EError.h"
#include "support/ConsoleCapture.h"

void WriteClass(const TempDir& dir, const std::string& name, const ClassFileBuilder& builder)
{
    dir.Write(name + ".class", builder.Build());
}

void WriteMinimalLibrary(const TempDir& dir, bool objectConstructor)
{
    ClassFileBuilder object("java/lang/Object", "");
    if (objectConstructor)
        object.AddMethod(CodeMethod("<init>", "()V", {0xB1}, 1, false));
    WriteClass(dir, "java/lang/Object", object);

    ClassFileBuilder throwable("java/lang/Throwable");
    throwable.AddMethod(CodeMethod("throwVMException", "(I)V", {0xB1}, 1));
    WriteClass(dir, "java/lang/Throwable", throwable);

    WriteClass(dir, "java/lang/OutOfMemoryError", ClassFileBuilder("java/lang/OutOfMemoryError", "java/lang/Throwable"));
    WriteClass(dir, "java/lang/String", ClassFileBuilder("java/lang/String"));
}

ClassFileBuilder::Method CodeMethod(const std::string& name, const std::string& descriptor, std::vector<uint8_t> code,
                                    uint16_t maxLocals, bool isStatic)
{
    ClassFileBuilder::Method method;
    method.accessFlags = isStatic ? afStatic : 0;
    method.name = name;
    method.descriptor = descriptor;
    method.code = std::move(code);
    method.maxStack = 2;
    method.maxLocals = maxLocals;
    return method;
}

uint8_t Hi(int value) { return static_cast<uint8_t>((value >> 8) & 0xFF); }

uint8_t Lo(int value) { return static_cast<uint8_t>(value & 0xFF); }

std::vector<uint8_t> LinkResult::Image() const
{
    if (!linker || !error.empty())
        return {};
    return std::vector<uint8_t>(linker->ImageData(), linker->ImageData() + linker->ImageSize());
}

LinkResult LinkClass(const std::string& classPath, const std::string& name)
{
    LinkResult result;
    result.linker = std::make_unique<CMOXLinker>();
    ConsoleCapture console;
    try {
        result.linker->Link(name, classPath);
    } catch (const EError& error) {
        result.error = error.Message();
    }
    result.printed = console.Text();
    return result;
}
