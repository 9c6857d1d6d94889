#include "image/DebugInfo.h"

#include "classfile/JavaClass.h"
#include "linker/CMOXLinker.h"

#include <algorithm>

namespace {

constexpr uint16_t kModifierMask = 0x0FFF;

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

DebugMethod MethodOf(const CMOXLinker& linker, CJavaClass& c, int i, bool isEntry)
{
    DebugMethod m;
    const MethodInfo& info = c.Method(i);
    m.name = c.MethodName(i);
    m.signature = c.MethodDescriptor(i);
    m.modifiers = static_cast<uint16_t>(info.accessFlags & kModifierMask);
    m.argumentWords = static_cast<uint16_t>(c.ParameterCount(i));
    m.hasCode = !c.MethodIsNative(i) && !info.code.empty();
    if (!m.hasCode)
        return m;
    const uint32_t prologue = static_cast<uint32_t>(linker.PrologueLength(c, i));
    m.codeOffset = static_cast<uint32_t>(c.CodeOffset(i));
    m.codeLength = prologue + static_cast<uint32_t>(info.code.size());
    // The program's main()V had its line entries moved past the prologue
    // when it was linked (so that exception reports name the right line);
    // other methods named main carry a prologue whose entries were not.
    // An entry at 0 stays there either way and covers the prologue.
    for (const LineNumberEntry& entry : info.lineNumbers) {
        uint32_t index = entry.startPc == 0 || isEntry ? entry.startPc : entry.startPc + prologue;
        m.lines.push_back(DebugLine{index, entry.lineNumber});
    }
    std::stable_sort(m.lines.begin(), m.lines.end(),
                     [](const DebugLine& a, const DebugLine& b) { return a.codeIndex < b.codeIndex; });
    for (const LocalVariableEntry& entry : info.localVariables) {
        DebugLocal local;
        local.name = c.Utf8Text(entry.nameIndex);
        local.signature = c.Utf8Text(entry.descriptorIndex);
        local.start = entry.startPc + prologue;
        local.length = entry.length;
        local.slot = entry.slot;
        m.locals.push_back(std::move(local));
    }
    return m;
}

} // namespace

int32_t DebugMethod::LineAt(uint32_t codeIndex) const
{
    if (lines.empty() || codeIndex >= codeLength)
        return -1;
    int32_t line = static_cast<int32_t>(lines.front().line);
    for (const DebugLine& entry : lines) {
        if (entry.codeIndex > codeIndex)
            break;
        line = static_cast<int32_t>(entry.line);
    }
    return line;
}

const DebugClass* ProgramDebugInfo::ClassAtRecord(uint32_t record) const
{
    int32_t index = ClassIndexAtRecord(record);
    return index < 0 ? nullptr : &classes[static_cast<size_t>(index)];
}

int32_t ProgramDebugInfo::ClassIndexAtRecord(uint32_t record) const
{
    auto found = byRecord_.find(record);
    return found == byRecord_.end() ? -1 : found->second;
}

int32_t ProgramDebugInfo::ClassIndexByName(const std::string& name) const
{
    auto found = byName_.find(name);
    return found == byName_.end() ? -1 : found->second;
}

DebugMethodRef ProgramDebugInfo::MethodAtSlot(uint32_t slot) const
{
    auto found = bySlot_.find(slot);
    return found == bySlot_.end() ? DebugMethodRef{} : found->second;
}

DebugMethodRef ProgramDebugInfo::MethodAtPc(uint32_t pc) const
{
    auto after = byCodeOffset_.upper_bound(pc);
    if (after == byCodeOffset_.begin())
        return {};
    --after;
    const DebugMethod* method = Method(after->second);
    if (method == nullptr || pc >= method->codeOffset + method->codeLength)
        return {};
    return after->second;
}

const DebugMethod* ProgramDebugInfo::Method(DebugMethodRef ref) const
{
    if (ref.classIndex < 0 || static_cast<size_t>(ref.classIndex) >= classes.size())
        return nullptr;
    const DebugClass& c = classes[static_cast<size_t>(ref.classIndex)];
    if (ref.methodIndex < 0 || static_cast<size_t>(ref.methodIndex) >= c.methods.size())
        return nullptr;
    return &c.methods[static_cast<size_t>(ref.methodIndex)];
}

bool ProgramDebugInfo::IsSubclass(int32_t classIndex, int32_t ancestor) const
{
    for (size_t depth = 0; classIndex >= 0 && depth <= classes.size(); ++depth) {
        if (classIndex == ancestor)
            return true;
        classIndex = classes[static_cast<size_t>(classIndex)].superIndex;
    }
    return false;
}

void ProgramDebugInfo::Index()
{
    for (size_t i = 0; i < classes.size(); ++i) {
        const int32_t index = static_cast<int32_t>(i);
        byRecord_[classes[i].record] = index;
        byName_.emplace(classes[i].name, index);
        for (size_t k = 0; k < classes[i].methods.size(); ++k) {
            const DebugMethod& m = classes[i].methods[k];
            if (m.hasCode && m.codeLength > 0)
                byCodeOffset_[m.codeOffset] = DebugMethodRef{index, static_cast<int32_t>(k)};
        }
    }
}

ProgramDebugInfo BuildDebugInfo(const CMOXLinker& linker)
{
    ProgramDebugInfo info;
    const int count = linker.LaidOutClassCount();
    std::unordered_map<const CJavaClass*, int32_t> indexOf;
    for (int index = 0; index < count; ++index)
        indexOf[linker.ClassAt(index)] = index;

    for (int index = 0; index < count; ++index) {
        CJavaClass& c = *linker.ClassAt(index);
        DebugClass dc;
        dc.name = c.ThisClassName();
        dc.signature = "L" + dc.name + ";";
        dc.sourceFile = BaseName(c.SourceFileName());
        dc.modifiers = static_cast<uint16_t>(c.AccessFlags() & kModifierMask & ~0x0020); // not ACC_SUPER
        dc.record = static_cast<uint32_t>(linker.ClassOffset(index));
        if (c.HasSuperClass()) {
            int super = linker.FindClassIndex(c.SuperClassName());
            dc.superIndex = super < count ? super : -1;
        }
        for (int i = 0; i < c.FieldCount(); ++i) {
            const FieldInfo& field = c.Field(i);
            DebugField df;
            df.name = c.FieldName(i);
            df.signature = c.FieldDescriptor(i);
            df.modifiers = static_cast<uint16_t>(field.accessFlags & kModifierMask);
            df.isStatic = c.FieldIsStatic(i);
            if (c.FieldIsConstant(i)) {
                df.isConstant = true;
                const ConstantPoolEntry& constant = c.Constant(field.constantValueIndex);
                if (constant.tag == ctInteger)
                    df.constantValue = static_cast<int16_t>(constant.firstValue);
            } else if (df.isStatic) {
                df.staticOffset = 2u * c.FieldSlot(i);
            } else {
                for (const FieldTableEntry& entry : c.FieldTable())
                    if (entry.ownerClassName == dc.name && entry.fieldName == df.name)
                        df.objectOffset = 2u * entry.wordOffset + 2u;
            }
            dc.fields.push_back(std::move(df));
        }
        const bool entryClass = &c == linker.EntryClass();
        for (int i = 0; i < c.MethodCount(); ++i)
            dc.methods.push_back(MethodOf(linker, c, i, entryClass && i == linker.EntryMethod()));
        info.classes.push_back(std::move(dc));
    }

    // Every slot of every record, inherited entries included, names the
    // method that supplies its code; the one in the defining class's own
    // record is that method's id.
    for (int index = 0; index < count; ++index) {
        const CJavaClass& c = *linker.ClassAt(index);
        for (const MethodTableEntry& entry : c.MethodTable()) {
            auto owner = indexOf.find(entry.definingClass);
            if (owner == indexOf.end())
                continue;
            DebugMethodRef ref{owner->second, entry.methodIndex};
            info.AddSlot(entry.imageOffset, ref);
            if (entry.definingClass == &c)
                info.classes[static_cast<size_t>(owner->second)].methods[entry.methodIndex].slot = entry.imageOffset;
        }
    }
    info.Index();
    return info;
}
