#pragma once

#include "classfile/CObject.h"
#include "classfile/JavaClass.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Links one program: gathers the classes it uses into the class list (in
// load order, which fixes each class's index in the image) and owns them.
class CMOXLinker : public CObject {
public:
    static constexpr int kMaxClasses = 255;

    CMOXLinker();
    ~CMOXLinker() override;
    CMOXLinker(const CMOXLinker&) = delete;
    CMOXLinker& operator=(const CMOXLinker&) = delete;

    // The class path every class loaded from now on is searched along.
    void SetClassPath(const std::string& classPath) { classPath_ = classPath; }
    const std::string& ClassPath() const { return classPath_; }

    // The class whose own this-class name is `name`, loaded on first use.
    CJavaClass* FindOrLoadClass(const std::string& name);
    // Always reads `name` anew and appends it to the class list (LNK 1 when
    // the list is full); on any error the list is unchanged.
    CJavaClass* LoadClass(const std::string& name);
    // Index of `name` in the class list, loading it when needed.
    int ClassIndexOf(const std::string& name);

    int ClassCount() const { return static_cast<int>(classes_.size()); }
    CJavaClass* ClassAt(int index) const; // IDE 48 outside the list

    bool Resolved(int index) const;
    void SetResolved(int index, bool resolved);
    int32_t ClassOffset(int index) const;
    void SetClassOffset(int index, int32_t offset);

private:
    std::string classPath_;
    std::vector<std::unique_ptr<CJavaClass>> classes_;
    std::array<bool, kMaxClasses + 1> resolved_{};
    std::array<int32_t, kMaxClasses> classOffsets_{};
};
