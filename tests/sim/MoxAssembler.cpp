#include "sim/MoxAssembler.h"

#include "image/MoxTables.h"

#include <stdexcept>

namespace {

void Put16(std::vector<uint8_t>& bytes, size_t at, int value)
{
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}

void Append16(std::vector<uint8_t>& bytes, int value)
{
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

} // namespace

MoxCode& MoxCode::Op(int javaOpcode)
{
    lastOpcode_ = bytes_.size();
    bytes_.push_back(TranslateOpcode(javaOpcode));
    return *this;
}

MoxCode& MoxCode::Byte(int value)
{
    bytes_.push_back(static_cast<uint8_t>(value));
    return *this;
}

MoxCode& MoxCode::U16(int value)
{
    Append16(bytes_, value);
    return *this;
}

MoxCode& MoxCode::Branch(const std::string& label)
{
    fixups_.push_back(Fixup{Fixup::fxBranch, bytes_.size(), lastOpcode_, 0, label});
    return U16(0);
}

MoxCode& MoxCode::Slot(int method)
{
    fixups_.push_back(Fixup{Fixup::fxSlot, bytes_.size(), 0, method, ""});
    return U16(0);
}

MoxCode& MoxCode::Virtual(int arguments, int tablePosition) { return Byte(arguments * 2).Byte(3 + 7 * tablePosition); }

MoxCode& MoxCode::Class(int classIndex)
{
    fixups_.push_back(Fixup{Fixup::fxClass, bytes_.size(), 0, classIndex, ""});
    return U16(0);
}

MoxCode& MoxCode::Label(const std::string& name)
{
    labels_[name] = bytes_.size();
    return *this;
}

MoxCode& MoxCode::TableSwitch(int low, const std::vector<std::string>& targets, const std::string& fallback)
{
    Op(tTableswitch);
    size_t opcode = lastOpcode_;
    fixups_.push_back(Fixup{Fixup::fxSwitch, bytes_.size(), opcode, 0, fallback});
    U16(0).U16(low).U16(static_cast<int>(targets.size()) - 1);
    for (const std::string& target : targets) {
        fixups_.push_back(Fixup{Fixup::fxSwitch, bytes_.size(), opcode, 0, target});
        U16(0);
    }
    return *this;
}

MoxCode& MoxCode::Push(int value)
{
    if (value >= -1 && value <= 5)
        return Op(tIconst0 + value);
    if (value >= -128 && value <= 127)
        return Op(tBipush).Byte(value);
    return Op(tSipush).U16(value);
}

MoxCode& MoxCode::Call(int method) { return Op(tInvokestatic).Slot(method); }

int MoxAssembler::AddClass(const std::string& name, int superclass, int fields)
{
    classes_.push_back(ClassInfo{name, superclass, fields, {}});
    return static_cast<int>(classes_.size()) - 1;
}

int MoxAssembler::AddMethod(int owner, int arguments, int locals, const MoxCode& code, std::vector<MoxHandler> handlers)
{
    methods_.push_back(MethodInfo{owner, arguments, locals, false, 0, code, std::move(handlers)});
    int method = static_cast<int>(methods_.size()) - 1;
    classes_.at(static_cast<size_t>(owner)).table.push_back(method);
    return method;
}

int MoxAssembler::AddNative(int owner, const std::string& className, const std::string& methodName, int arguments)
{
    methods_.push_back(MethodInfo{owner, arguments, 0, true, NativeMethodIndex(className, methodName), {}, {}});
    int method = static_cast<int>(methods_.size()) - 1;
    classes_.at(static_cast<size_t>(owner)).table.push_back(method);
    return method;
}

void MoxAssembler::AddTableEntry(int owner, int method) { classes_.at(static_cast<size_t>(owner)).table.push_back(method); }

int MoxAssembler::AddString(const std::string& text)
{
    strings_.push_back(text);
    return static_cast<int>(strings_.size()) - 1;
}

uint16_t MoxAssembler::SlotOffset(int method) const
{
    auto it = slotOffsets_.find(method);
    if (it == slotOffsets_.end())
        throw std::logic_error("method in no table");
    return it->second;
}

uint16_t MoxAssembler::LabelOffset(int method, const std::string& label) const
{
    const MethodInfo& info = methods_.at(static_cast<size_t>(method));
    return static_cast<uint16_t>(CodeOffset(method) + info.code.labels_.at(label));
}

std::vector<uint8_t> MoxAssembler::Build()
{
    // Layout first, then the bytes, as the linker does.
    size_t at = 20;
    classOffsets_.clear();
    slotOffsets_.clear();
    for (const ClassInfo& info : classes_) {
        classOffsets_.push_back(static_cast<uint16_t>(at));
        for (size_t k = 0; k < info.table.size(); ++k)
            slotOffsets_.emplace(info.table[k], static_cast<uint16_t>(at + 3 + 7 * k));
        at += 3 + 7 * info.table.size();
    }
    codeOffsets_.assign(methods_.size(), 0);
    std::vector<uint16_t> tableOffsets(methods_.size(), 0);
    for (size_t m = 0; m < methods_.size(); ++m) {
        if (methods_[m].native)
            continue;
        codeOffsets_[m] = static_cast<uint16_t>(at);
        at += methods_[m].code.Size();
        if (!methods_[m].handlers.empty()) {
            tableOffsets[m] = static_cast<uint16_t>(at);
            at += 1 + 8 * methods_[m].handlers.size();
        }
    }
    size_t stringTable = at;
    at += 2 * strings_.size();
    std::vector<size_t> records;
    for (const std::string& text : strings_) {
        records.push_back(at);
        at += 10 + text.size();
    }
    size_t size = at;
    stackBase_ = static_cast<uint16_t>((size / 16 + 1) * 16);

    std::vector<uint8_t> image = {0xA4, 20, 1, static_cast<uint8_t>(StaticFields * 2)};
    Append16(image, MainMethod >= 0 ? SlotOffset(MainMethod) : 0);
    Append16(image, ClassOffset(ObjectClass));
    Append16(image, StringClass >= 0 ? ClassOffset(StringClass) : 0);
    Append16(image, ThrowVmMethod >= 0 ? SlotOffset(ThrowVmMethod) : 0);
    Append16(image, static_cast<int>(stringTable));
    Append16(image, 0);
    Append16(image, ClassOffset(OutOfMemoryClass));
    Append16(image, stackBase_);

    for (const ClassInfo& info : classes_) {
        Append16(image, info.superclass < 0 ? 0xFFFF : ClassOffset(info.superclass));
        image.push_back(static_cast<uint8_t>(info.fields * 2));
        for (int method : info.table) {
            const MethodInfo& m = methods_[static_cast<size_t>(method)];
            image.push_back(static_cast<uint8_t>(m.arguments * 2 | (m.handlers.empty() ? 0 : 0x80)));
            image.push_back(static_cast<uint8_t>(m.native ? 0 : m.locals * 2));
            image.push_back(m.native ? 0x80 : 0);
            Append16(image, m.native ? m.nativeIndex : codeOffsets_[static_cast<size_t>(method)]);
            Append16(image, tableOffsets[static_cast<size_t>(method)]);
        }
    }
    for (size_t m = 0; m < methods_.size(); ++m) {
        const MethodInfo& info = methods_[m];
        if (info.native)
            continue;
        std::vector<uint8_t> code = info.code.bytes_;
        for (const MoxCode::Fixup& fixup : info.code.fixups_) {
            switch (fixup.kind) {
            case MoxCode::Fixup::fxBranch:
                Put16(code, fixup.at, static_cast<int>(info.code.labels_.at(fixup.label)) - static_cast<int>(fixup.opcode));
                break;
            case MoxCode::Fixup::fxSwitch:
                Put16(code, fixup.at, static_cast<int>(info.code.labels_.at(fixup.label)) - static_cast<int>(fixup.opcode) - 1);
                break;
            case MoxCode::Fixup::fxSlot:
                Put16(code, fixup.at, SlotOffset(fixup.target));
                break;
            case MoxCode::Fixup::fxClass:
                Put16(code, fixup.at, ClassOffset(fixup.target));
                break;
            }
        }
        image.insert(image.end(), code.begin(), code.end());
        if (!info.handlers.empty()) {
            image.push_back(static_cast<uint8_t>(info.handlers.size()));
            int base = codeOffsets_[m];
            for (const MoxHandler& h : info.handlers) {
                Append16(image, base + static_cast<int>(info.code.labels_.at(h.start)) + 1);
                Append16(image, base + static_cast<int>(info.code.labels_.at(h.end)) + 1);
                Append16(image, ClassOffset(h.catchClass));
                Append16(image, base + static_cast<int>(info.code.labels_.at(h.handler)));
            }
        }
    }
    for (size_t s = 0; s < strings_.size(); ++s)
        Append16(image, static_cast<int>(records[s]));
    for (size_t s = 0; s < strings_.size(); ++s) {
        int length = static_cast<int>(strings_[s].size());
        Append16(image, StringClass >= 0 ? ClassOffset(StringClass) : 0);
        Append16(image, length);
        Append16(image, static_cast<int>(records[s] + 6));
        Append16(image, ClassOffset(ObjectClass));
        Append16(image, length);
        image.insert(image.end(), strings_[s].begin(), strings_[s].end());
    }
    if (image.size() != size)
        throw std::logic_error("image layout and bytes disagree");
    return image;
}

TestProgram::TestProgram()
{
    MoxAssembler& a = assembler;
    object = a.AddClass("java/lang/Object", -1);
    throwable = a.AddClass("java/lang/Throwable", object, 1);
    error = a.AddClass("java/lang/Error", throwable, 1);
    exception = a.AddClass("java/lang/Exception", throwable, 1);
    mainClass = a.AddClass("Main", object);
    // throwVMException(code): remembers the code in static 0; code 6 throws
    // the object main put into static 1 in advance, any other a new
    // Exception.
    MoxCode raise;
    raise.Op(tIload0).Store(0);
    raise.Op(tIload0).Push(6).Op(tIfIcmpne).Branch("new");
    raise.Op(tGetstatic).Static(1).Op(tAthrow);
    raise.Label("new").Op(tNew).Class(exception).Op(tAthrow);
    throwVm = a.AddMethod(throwable, 1, 0, raise);
    a.ThrowVmMethod = throwVm;
    a.OutOfMemoryClass = error;
    a.StaticFields = 8;
}

std::vector<uint8_t> TestProgram::Build(const MoxCode& mainCode, std::vector<MoxHandler> handlers, int mainLocals)
{
    assembler.MainMethod = assembler.AddMethod(mainClass, 0, mainLocals, mainCode, std::move(handlers));
    return assembler.Build();
}
