#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CJavaClass;
class CMOXLinker;
class MoxImageWriter;

// What the constants one class's code names resolved to at their first use,
// so that its other uses skip the look-ups by name. Only what cannot change
// is kept: a class found in the class list under the name the constant
// gives. A name the list does not answer is looked up (and loaded) at every
// use, as the first use did.
class ResolvedConstants {
public:
    enum class Use : uint8_t { None, ClassOffset, StaticField, InstanceField, DirectCall, VirtualCall };

    // Forgets everything, ready for a class with `constantCount` constants.
    void Reset(int constantCount) { entries_.assign(static_cast<size_t>(constantCount), {}); }
    // True, with the value, when `constant` was resolved before for `use`.
    bool Find(int constant, Use use, int32_t& value) const
    {
        if (!InRange(constant) || entries_[constant].use != use)
            return false;
        value = entries_[constant].value;
        return true;
    }
    // Keeps the value of the first use of a constant; a constant put to a
    // second kind of use keeps the first.
    void Keep(int constant, Use use, int32_t value)
    {
        if (InRange(constant) && entries_[constant].use == Use::None) {
            entries_[constant].value = value;
            entries_[constant].use = use;
        }
    }

    // The class list index of the class a Class constant names, or -1.
    int ClassIndex(int classConstant) const
    {
        return InRange(classConstant) ? entries_[classConstant].classIndex : -1;
    }
    void KeepClassIndex(int classConstant, int index)
    {
        if (InRange(classConstant))
            entries_[classConstant].classIndex = static_cast<int16_t>(index);
    }

private:
    struct Entry {
        int32_t value = 0;
        Use use = Use::None;
        int16_t classIndex = -1;
    };
    bool InRange(int constant) const { return constant >= 0 && static_cast<size_t>(constant) < entries_.size(); }
    std::vector<Entry> entries_;
};

// Appends method `method` of `javaClass` in Mox code: every instruction as
// long as the Java one, opcodes translated, constant-pool operands replaced
// by image offsets, field slots and string numbers. `resolved` belongs to
// `javaClass` (Reset for it) and is kept from method to method.
void TranslateMethod(CMOXLinker& linker, CJavaClass& javaClass, int method, MoxImageWriter& out,
                     ResolvedConstants& resolved);
