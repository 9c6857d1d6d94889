#include "linker/CMOXLinker.h"

#include "driver/Console.h"
#include "driver/RunSettings.h"
#include "errors/EError.h"

CMOXLinker::CMOXLinker()
{
    classes_.reserve(kMaxClasses);
    resolved_.reserve(kMaxClasses);
    stringUses_.reserve(kMaxClasses);
    staticFields_.reserve(kMaxStaticFields);
    strings_.reserve(kMaxStrings);
}

CMOXLinker::~CMOXLinker() = default;

CJavaClass* CMOXLinker::FindOrLoadClass(const std::string& name)
{
    // By the name inside each class file, not the name it was asked for: a
    // file whose declared name differs is not found under the name asked.
    const int index = FindClassIndex(name);
    return index >= 0 ? classes_[index].get() : LoadClass(name);
}

int CMOXLinker::FindClassIndex(const std::string& name) const
{
    const auto found = classIndexByName_.find(name);
    return found == classIndexByName_.end() ? -1 : found->second;
}

CJavaClass* CMOXLinker::LoadClass(const std::string& name)
{
    auto javaClass = std::make_unique<CJavaClass>(name, classPath_);
    if (Settings().TraceLinker)
        DebugPrint("Linker: loading class %s.", name.c_str());
    javaClass->load();
    // Checked after the read, so that a broken file is reported as such even
    // when the list is full.
    if (ClassCount() >= kMaxClasses) {
        PassLimit(EError(ecLNK, 1, kMaxClasses), name);
        // A class the code names is reported once more by the resolution,
        // after the cause: a measuring link notes that line too.
        if (resolvingCode_)
            PassLimit(EError(ecLNK, 3, name), name);
    }
    const int index = ClassCount();
    resolved_.push_back(false);
    stringUsesNoted_.push_back(false);
    stringUses_.emplace_back();
    classOffsets_.push_back(0);
    classSizes_.push_back(0);
    classStringBytes_.push_back(0);
    broughtInBy_.push_back(loadingFor_);
    // emplace keeps the first class of a name, as a walk from index 0 would.
    classIndexByName_.emplace(javaClass->ThisClassName(), index);
    classes_.push_back(std::move(javaClass));
    return classes_.back().get();
}

int CMOXLinker::BroughtInBy(int index) const
{
    ClassAt(index);
    return broughtInBy_[index];
}

void CMOXLinker::PassLimit(const EError& error, const std::string& where) const
{
    if (passedLimits_ == nullptr)
        throw error;
    for (const PassedLimit& passed : *passedLimits_)
        if (passed.error.Is(error.Category(), error.Number()) && passed.where == where &&
            std::string(passed.error.Message()) == error.Message())
            return;
    passedLimits_->push_back({error, where});
}

void CMOXLinker::PrintCause(const EError& error) const
{
    if (passedLimits_ == nullptr || passedLimits_->empty())
        error.Print(false);
}

int CMOXLinker::ClassIndexOf(const std::string& name)
{
    const int index = FindClassIndex(name);
    if (index >= 0)
        return index;
    LoadClass(name); // appended last, whatever name the file declares
    return ClassCount() - 1;
}

CJavaClass* CMOXLinker::ClassAt(int index) const
{
    if (index < 0 || index >= ClassCount())
        throw EError(ecIDE, 48);
    return classes_[index].get();
}

bool CMOXLinker::Resolved(int index) const
{
    ClassAt(index);
    return resolved_[index];
}

void CMOXLinker::SetResolved(int index, bool resolved)
{
    ClassAt(index);
    resolved_[index] = resolved;
}

int32_t CMOXLinker::ClassOffset(int index) const
{
    ClassAt(index);
    return classOffsets_[index];
}

void CMOXLinker::SetClassOffset(int index, int32_t offset)
{
    ClassAt(index);
    classOffsets_[index] = offset;
}

int32_t CMOXLinker::ClassSize(int index) const
{
    ClassAt(index);
    return classSizes_[index];
}

int32_t CMOXLinker::ClassStringBytes(int index) const
{
    ClassAt(index);
    return classStringBytes_[index];
}

int32_t CMOXLinker::ClassOffsetOf(const CJavaClass* javaClass) const
{
    for (int index = 0; index < ClassCount(); ++index)
        if (classes_[index].get() == javaClass)
            return classOffsets_[index];
    throw EError(ecIDE, 19, javaClass != nullptr ? javaClass->ThisClassName() : std::string());
}
