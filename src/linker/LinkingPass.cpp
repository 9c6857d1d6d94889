#include "linker/CMOXLinker.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"
#include "image/OutputPass.h"

#include <algorithm>
#include <new>

namespace {

const char* const kExceptionRoot = "java/lang/Throwable";

// Classes the image header names; the String class only matters when the
// program has a string constant.
const char* const kHeaderClasses[] = {"java/lang/Object", "java/lang/Throwable", "java/lang/OutOfMemoryError"};
const char* const kStringClass = "java/lang/String";

// Own method `name` `descriptor` of a class, or -1: lookups that find nothing
// are the normal case here, so they do not go through the raising queries.
int OwnMethod(const CJavaClass& javaClass, const std::string& name, const std::string& descriptor)
{
    for (int i = 0; i < javaClass.MethodCount(); ++i)
        if (javaClass.MethodName(i) == name && javaClass.MethodDescriptor(i) == descriptor)
            return i;
    return -1;
}

// Method-table entry `name` `descriptor`, searched from the last, or -1.
int TableEntry(const CJavaClass& javaClass, const std::string& name, const std::string& descriptor)
{
    const std::vector<MethodTableEntry>& table = javaClass.MethodTable();
    for (int k = static_cast<int>(table.size()) - 1; k >= 0; --k)
        if (table[k].methodName == name && table[k].descriptor == descriptor)
            return k;
    return -1;
}

// A static field the image keeps a slot for: every one but the constants
// whose value the compiler has put into each use.
bool NeedsStaticSlot(const CJavaClass& javaClass, int field)
{
    return javaClass.FieldIsStatic(field) && !javaClass.FieldIsConstant(field);
}

} // namespace

void CMOXLinker::Link(const std::string& className, const std::string& classPath)
{
    image_.clear();
    imageSize_ = 0;
    classPath_ = classPath;
    mainClass_ = FindOrLoadClass(className);
    LinkingPass();
    AllocateImage();
    // The first multiple of 16 above the image, where the module's stack
    // starts; only the unpadded test setting asks for none.
    stackBase_ = Settings().NoImagePadding ? 0 : (imageSize_ / 16 + 1) * 16;
    WriteMoxImage(*this);
}

void CMOXLinker::AllocateImage()
{
    try {
        image_.assign(static_cast<size_t>(imageSize_), 0);
    } catch (const std::bad_alloc&) {
        throw EError(ecSYS, 30);
    }
}

void CMOXLinker::LinkingPass()
{
    if (Settings().TraceLinker)
        DebugPrint("Linker: linking pass");
    // The exception root is part of every program: the module's own errors
    // are thrown through it.
    FindOrLoadClass(kExceptionRoot);
    // Super classes no instruction names and header classes no code reaches
    // are brought in and resolved like the rest, so that every class the
    // image needs is laid out, numbered and scanned for strings.
    do
        ResolvePasses();
    while (BringInMissingClasses());
    NumberStaticFields();
    for (int index = 0; index < ClassCount(); ++index)
        BuildTables(classes_[index].get());
    CountStaticInitializers();
    ComputeOffsets();
    ListStaticInitializers();
    ChooseMain();
    // main's code follows the prologue that calls the static initializers,
    // so its lines move with it.
    entryClass_->ShiftLineNumbers(entryMethod_, 3 * clinitCount_);
}

void CMOXLinker::ResolvePasses()
{
    bool resolvedAny = true;
    while (resolvedAny) {
        resolvedAny = false;
        // The count is read anew on every step: classes appended during the
        // pass are resolved in the same pass.
        for (int index = 0; index < ClassCount(); ++index) {
            if (resolved_[index])
                continue;
            // Noted apart: what the class loads grows the per-class lists.
            std::vector<uint16_t> uses;
            loadingFor_ = index;
            resolvingCode_ = true;
            ResolveCode(*classes_[index], &uses);
            resolvingCode_ = false;
            loadingFor_ = -1;
            stringUses_[index] = std::move(uses);
            stringUsesNoted_[index] = true;
            resolved_[index] = true;
            resolvedAny = true;
        }
    }
}

bool CMOXLinker::BringInMissingClasses()
{
    const int before = ClassCount();
    for (int index = 0; index < ClassCount(); ++index) {
        const CJavaClass& javaClass = *classes_[index];
        if (javaClass.HasSuperClass() && FindClassIndex(javaClass.SuperClassName()) < 0) {
            loadingFor_ = index;
            FindOrLoadClass(javaClass.SuperClassName());
            loadingFor_ = -1;
        }
    }
    for (const char* name : kHeaderClasses)
        if (FindClassIndex(name) < 0)
            FindOrLoadClass(name);
    if (!strings_.empty() && FindClassIndex(kStringClass) < 0)
        FindOrLoadClass(kStringClass);
    return ClassCount() != before;
}

void CMOXLinker::NumberStaticFields()
{
    staticFields_.clear();
    for (int index = 0; index < ClassCount(); ++index) {
        CJavaClass& javaClass = *classes_[index];
        for (int field = 0; field < javaClass.FieldCount(); ++field) {
            if (!NeedsStaticSlot(javaClass, field))
                continue;
            if (StaticFieldCount() >= kMaxStaticFields)
                PassLimit(EError(ecLNK, 7), javaClass.ThisClassName());
            javaClass.SetFieldSlot(field, static_cast<uint16_t>(StaticFieldCount()));
            staticFields_.push_back({field, &javaClass});
        }
    }
    // The last table slot is reserved: exactly one field too many is told
    // apart from many too many (LNK 7 above, when measuring goes on).
    if (StaticFieldCount() == kMaxStaticFields)
        PassLimit(EError(ecIDE, 41, kMaxStaticFields - 1), std::string());
}

void CMOXLinker::CountStaticInitializers()
{
    clinitCount_ = 0;
    for (int index = 0; index < ClassCount(); ++index)
        if (TableEntry(*classes_[index], "<clinit>", "()V") >= 0)
            ++clinitCount_;
}

void CMOXLinker::ListStaticInitializers()
{
    // Dependencies first, so that an initializer finds the static state of
    // the classes it uses (System.out, most of all) already made: a class's
    // initializer follows those of every class its constant pool names, its
    // super class among them. Other tools lay out the same list, so the order
    // is exact: classes in list order, the named ones in list order too, and
    // in a cycle the class reached first is initialised last.
    std::unordered_map<std::string, std::vector<int>> byName;
    for (int index = 0; index < ClassCount(); ++index)
        byName[classes_[index]->ThisClassName()].push_back(index);
    std::vector<std::vector<int>> named(static_cast<size_t>(ClassCount()));
    for (int index = 0; index < ClassCount(); ++index) {
        const CJavaClass& javaClass = *classes_[index];
        std::vector<int>& others = named[static_cast<size_t>(index)];
        for (int constant = 1; constant < javaClass.ConstantPoolCount(); ++constant) {
            if (javaClass.ConstantTag(constant) != ctClass)
                continue;
            const auto found = byName.find(javaClass.ClassNameOf(constant));
            if (found != byName.end())
                for (int other : found->second)
                    if (other != index)
                        others.push_back(other);
        }
        std::sort(others.begin(), others.end());
        others.erase(std::unique(others.begin(), others.end()), others.end());
    }
    clinitList_.clear();
    std::vector<bool> visited(static_cast<size_t>(ClassCount()), false);
    for (int index = 0; index < ClassCount(); ++index)
        ListInitializersFrom(index, named, visited);
}

void CMOXLinker::ListInitializersFrom(int index, const std::vector<std::vector<int>>& named, std::vector<bool>& visited)
{
    if (visited[static_cast<size_t>(index)])
        return;
    visited[static_cast<size_t>(index)] = true;
    for (int other : named[static_cast<size_t>(index)])
        ListInitializersFrom(other, named, visited);
    const CJavaClass& javaClass = *classes_[index];
    const int entry = TableEntry(javaClass, "<clinit>", "()V");
    if (entry >= 0)
        clinitList_.push_back(javaClass.MethodTable()[entry].imageOffset);
}

void CMOXLinker::ChooseMain()
{
    // The named class comes first in the list, so its own main wins
    // whenever it has one; a main in a class it uses is passed over.
    for (int index = 0; index < ClassCount(); ++index) {
        const int method = OwnMethod(*classes_[index], "main", "()V");
        if (method >= 0) {
            entryClass_ = classes_[index].get();
            entryMethod_ = method;
            return;
        }
    }
    throw EError(ecLNK, 2);
}

int32_t CMOXLinker::PrologueLength(const CJavaClass& javaClass, int method) const
{
    // Every method called main gets the prologue, whatever its class and
    // descriptor: the layout, the writer and the line translation agree on it.
    return javaClass.MethodName(method) == "main" ? 3 * clinitCount_ : 0;
}

const StaticFieldEntry& CMOXLinker::StaticFieldAt(int index) const
{
    if (index < 0 || index >= StaticFieldCount())
        throw EError(ecIDE, 48);
    return staticFields_[index];
}

const StringTableEntry& CMOXLinker::StringAt(int index) const
{
    if (index < 0 || index >= StringCount())
        throw EError(ecIDE, 48);
    return strings_[index];
}

int CMOXLinker::StringNumberOf(const std::string& text) const
{
    const auto found = stringNumbers_.find(text);
    if (found == stringNumbers_.end())
        throw EError(ecIDE, 30);
    return strings_[found->second].ordinal;
}

void CMOXLinker::AddString(StringTableEntry entry)
{
    // emplace keeps the first entry of a text, as a walk from the first would.
    stringNumbers_.emplace(entry.text, StringCount());
    strings_.push_back(std::move(entry));
}
