#include "linker/CMOXLinker.h"

#include "errors/EError.h"

namespace {

const std::string kConstructor = "<init>";
const std::string kInitializer = "<clinit>";

bool IsConstructorOrInitializer(const std::string& name) { return name == kConstructor || name == kInitializer; }

// Appends to a table whose room was fixed beforehand from the counts; with
// those counts it never runs out, so running out is an internal error.
template <class Entry>
void AppendEntry(std::vector<Entry>& table, size_t capacity, Entry entry)
{
    if (table.size() >= capacity)
        throw EError(ecIDE, 48);
    table.push_back(std::move(entry));
}

} // namespace

void CMOXLinker::BuildTables(CJavaClass* javaClass)
{
    tableChain_.clear(); // a link that failed may have left classes in it
    BuildTables(javaClass, tableChain_);
}

void CMOXLinker::BuildTables(CJavaClass* javaClass, std::vector<const CJavaClass*>& chain)
{
    CJavaClass& c = *javaClass;
    if (c.TablesBuilt())
        return;
    // Class files that name each other as super class would have each wait
    // for the other's tables.
    for (const CJavaClass* waiting : chain)
        if (waiting == &c)
            throw EError(ecJVM, 20, c.RequestedName());

    const CJavaClass* super = nullptr;
    if (c.HasSuperClass()) {
        CJavaClass* loaded = FindOrLoadClass(c.SuperClassName());
        chain.push_back(&c);
        BuildTables(loaded, chain);
        chain.pop_back();
        super = loaded;
    }

    // Instance fields: the super class's slots first, at the same offsets,
    // then this class's own, each one or two words wide.
    const size_t fieldCapacity = static_cast<size_t>(c.InstanceFieldCount()) + (super ? super->FieldTable().size() : 0);
    std::vector<FieldTableEntry> fields;
    fields.reserve(fieldCapacity);
    int wordOffset = 0;
    if (super) {
        for (const FieldTableEntry& entry : super->FieldTable())
            AppendEntry(fields, fieldCapacity, entry);
        if (!fields.empty())
            wordOffset = fields.back().wordOffset + fields.back().size;
    }
    for (int i = 0; i < c.FieldCount(); ++i) {
        if (c.FieldIsStatic(i) || c.FieldIsConstant(i))
            continue;
        FieldTableEntry entry;
        entry.ownerClassName = c.ThisClassName();
        entry.fieldName = c.FieldName(i);
        entry.descriptor = c.FieldDescriptor(i);
        entry.slot = c.FieldSlot(i);
        entry.wordOffset = static_cast<uint16_t>(wordOffset);
        entry.size = static_cast<uint16_t>(c.FieldSize(i));
        wordOffset += entry.size;
        AppendEntry(fields, fieldCapacity, std::move(entry));
    }

    // Dispatch table: inherited entries keep their positions, so a call
    // through a super class's slot position reaches the override.
    const size_t methodCapacity = static_cast<size_t>(c.MethodCount()) + (super ? super->MethodTable().size() : 0);
    std::vector<MethodTableEntry> methods;
    methods.reserve(methodCapacity);
    if (super) {
        for (const MethodTableEntry& entry : super->MethodTable()) {
            if (IsConstructorOrInitializer(entry.methodName))
                continue;
            MethodTableEntry inherited = entry;
            inherited.imageOffset = 0;
            inherited.classRelativeOffset = 0;
            AppendEntry(methods, methodCapacity, std::move(inherited));
        }
    }
    for (int i = 0; i < c.MethodCount(); ++i) {
        const std::string& name = c.MethodName(i);
        if (IsConstructorOrInitializer(name))
            continue;
        const std::string& descriptor = c.MethodDescriptor(i);
        bool overridden = false;
        for (MethodTableEntry& entry : methods) {
            if (entry.methodName == name && entry.descriptor == descriptor) {
                entry.implementingClassName = c.ThisClassName();
                entry.definingClass = &c;
                entry.methodIndex = static_cast<uint16_t>(c.MethodIndex(name, descriptor));
                overridden = true;
                break;
            }
        }
        if (!overridden)
            AppendEntry(methods, methodCapacity,
                        MethodTableEntry{c.ThisClassName(), name, descriptor, 0, 0, &c, static_cast<uint16_t>(i)});
    }
    // Constructors and the static initializer belong to this class alone and
    // come last, so subclasses never inherit them.
    for (int i = 0; i < c.MethodCount(); ++i) {
        const std::string& name = c.MethodName(i);
        if (IsConstructorOrInitializer(name))
            AppendEntry(methods, methodCapacity,
                        MethodTableEntry{c.ThisClassName(), name, c.MethodDescriptor(i), 0, 0, &c, static_cast<uint16_t>(i)});
    }
    c.SetTables(std::move(fields), std::move(methods));
}
