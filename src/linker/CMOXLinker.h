#pragma once

#include "classfile/CObject.h"
#include "classfile/JavaClass.h"
#include "errors/EError.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// One numbered static field of the program: its index among its class's own
// fields and that class.
struct StaticFieldEntry {
    int32_t fieldIndex = 0;
    CJavaClass* owner = nullptr;
};

// One distinct string constant of the program, with the place of its record
// in the image and the first use that brought it in.
struct StringTableEntry {
    int32_t imageOffset = 0;
    std::string text;
    CJavaClass* javaClass = nullptr; // where it was first found
    int32_t constantIndex = 0;       // in that class's constant pool
    int32_t ordinal = 0;             // its string number in the image
};

class MoxListing;

// A limit of the module that a measuring link went past: the error a link
// for the module ends with there, and the class or method it is about.
struct PassedLimit {
    EError error;
    std::string where;
};

// Links one program: gathers the classes it uses into the class list (in
// load order, which fixes each class's index in the image) and owns them,
// lays out their tables, statics and strings, decides every image offset, and
// keeps the image the output pass writes. The device side reads it later to
// turn reported offsets back into classes and lines, so it lives for the run.
class CMOXLinker : public CObject {
public:
    static constexpr int kMaxClasses = 255;
    static constexpr int kMaxStaticFields = 128; // table slots; 127 usable
    static constexpr int kMaxStrings = 128;      // table slots; 127 usable
    static constexpr int32_t kMaxImageSize = 65535;

    CMOXLinker();
    ~CMOXLinker() override;
    CMOXLinker(const CMOXLinker&) = delete;
    CMOXLinker& operator=(const CMOXLinker&) = delete;

    // The whole link of `className` (internal form) along `classPath`: the
    // linking pass, the layout, and the output pass that fills the image.
    void Link(const std::string& className, const std::string& classPath);

    // Measuring: each limit of the module the program passes is noted in
    // `sink` (once per error and place, in the order met) and the link goes
    // on, so that a program over a limit is laid out and written all the
    // same, with its values cut to their fields. Such an image is for
    // measuring only. Null, the default, raises the limit's error.
    void MeasureInto(std::vector<PassedLimit>* sink) { passedLimits_ = sink; }
    // Raises `error`, or notes it when measuring.
    void PassLimit(const EError& error, const std::string& where) const;
    // Prints the cause of a failed load before the error that names the
    // class; not once a measuring link has passed a limit, as a link for
    // the module would have ended there.
    void PrintCause(const EError& error) const;
    // The output pass lists the image into `listing` (and writes no listing
    // files) when it is not null.
    void ListInto(MoxListing* listing) { listing_ = listing; }
    MoxListing* Listing() const { return listing_; }
    // The class whose resolution loaded class `index` first, or -1 for the
    // named class and those the image itself needs.
    int BroughtInBy(int index) const;

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
    // Index of the first listed class named `name`, or -1; never loads.
    int FindClassIndex(const std::string& name) const;

    int ClassCount() const { return static_cast<int>(classes_.size()); }
    CJavaClass* ClassAt(int index) const; // IDE 48 outside the list

    bool Resolved(int index) const;
    void SetResolved(int index, bool resolved);
    int32_t ClassOffset(int index) const;
    void SetClassOffset(int index, int32_t offset);
    int32_t ClassSize(int index) const;
    int32_t ClassStringBytes(int index) const;
    // The class record offset of a listed class (IDE 19 when not listed).
    int32_t ClassOffsetOf(const CJavaClass* javaClass) const;

    // Steps of the link, public so that each can be driven on its own.
    void LinkingPass();
    void ResolveClass(CJavaClass* javaClass);
    void BuildTables(CJavaClass* javaClass);
    void ComputeOffsets();

    // Refusals that name the method of `c` where the code was found.
    // The text of String constant `constant` as the module keeps it: JVM 29
    // for a character the module cannot hold, JVM 20 for bytes that are no
    // text.
    static std::string LiteralText(const CJavaClass& c, int method, int constant);
    // instanceof of an array type: the cause on its line, then JVM 30.
    static void CheckInstanceofType(const CJavaClass& c, int method, int classConstant);

    // Results of the linking pass.
    CJavaClass* MainClass() const { return mainClass_; }
    // The class and own method index of the `main` that starts the program.
    CJavaClass* EntryClass() const { return entryClass_; }
    int EntryMethod() const { return entryMethod_; }
    int StaticFieldCount() const { return static_cast<int>(staticFields_.size()); }
    const StaticFieldEntry& StaticFieldAt(int index) const;
    int ClinitCount() const { return clinitCount_; }
    const std::vector<int32_t>& ClinitList() const { return clinitList_; }
    // Bytes of the static initializer prologue at the start of a method.
    int32_t PrologueLength(const CJavaClass& javaClass, int method) const;

    // Results of the layout.
    int StringCount() const { return static_cast<int>(strings_.size()); }
    const StringTableEntry& StringAt(int index) const;
    // The string number of `text` (IDE 30 when the program has no such string).
    int StringNumberOf(const std::string& text) const;
    int32_t StringTableOffset() const { return stringTableOffset_; }
    // Classes the layout placed; a class loaded after it has no place.
    int LaidOutClassCount() const { return laidOutClassCount_; }
    bool CallbackPresent() const { return callbackPresent_; }
    int32_t StackBase() const { return stackBase_; }

    // The image: exactly ImageSize() bytes once Link has returned.
    const uint8_t* ImageData() const { return image_.data(); }
    int32_t ImageSize() const { return imageSize_; }
    // The buffer the output pass fills; only the output pass writes to it.
    uint8_t* ImageBuffer() { return image_.data(); }

private:
    void ResolvePasses();
    // ResolveClass, also noting the constant of every ldc in code order
    // when `stringUses` is given.
    void ResolveCode(CJavaClass& c, std::vector<uint16_t>* stringUses);
    void PlaceString(int index, int constant, std::vector<int>& ownerOf);
    bool BringInMissingClasses();
    void NumberStaticFields();
    void CountStaticInitializers();
    void ListStaticInitializers();
    void ListInitializersFrom(int index, const std::vector<std::vector<int>>& named, std::vector<bool>& visited);
    void ChooseMain();
    void CollectString(const std::string& text);
    void AddString(StringTableEntry entry);
    // The class `name` names, loaded when needed; LNK 3 after the cause.
    CJavaClass* LoadReferencedClass(const std::string& name);
    void LoadCatchClass(const std::string& name);
    void BuildTables(CJavaClass* javaClass, std::vector<const CJavaClass*>& chain);
    void PlaceStrings(int64_t start);
    void AllocateImage();

    CJavaClass* mainClass_ = nullptr;
    std::string classPath_;
    std::vector<std::unique_ptr<CJavaClass>> classes_;
    // First list index of each this-class name: what a walk of the list from
    // index 0 would find, without the walk.
    std::unordered_map<std::string, int> classIndexByName_;
    // Per class of the list, grown as classes are loaded (past the limit
    // only when measuring).
    std::vector<bool> resolved_;
    // The ldc constants of each class the linking pass resolved, in code
    // order, so that the layout finds the strings without reading the code
    // again; a class resolved otherwise has none noted.
    std::vector<std::vector<uint16_t>> stringUses_;
    std::vector<bool> stringUsesNoted_;
    std::vector<int32_t> classOffsets_;
    std::vector<int32_t> classSizes_;
    std::vector<int32_t> classStringBytes_;
    std::vector<int> broughtInBy_;
    int loadingFor_ = -1; // the class being resolved, which loads what it names
    bool resolvingCode_ = false;
    std::vector<StaticFieldEntry> staticFields_;
    int clinitCount_ = 0;
    std::vector<int32_t> clinitList_;
    CJavaClass* entryClass_ = nullptr;
    int entryMethod_ = -1;
    int laidOutClassCount_ = 0;

    // The classes waiting for their super class's tables; kept to save
    // allocating it for every class.
    std::vector<const CJavaClass*> tableChain_;

    std::vector<uint8_t> image_;
    int32_t imageSize_ = 0;

    // Filled with texts only by the resolution, then rebuilt with offsets by
    // the layout in the same order.
    std::vector<StringTableEntry> strings_;
    // The number of each text in strings_, kept with it.
    std::unordered_map<std::string, int> stringNumbers_;
    int32_t stringTableOffset_ = 0;
    bool callbackPresent_ = false; // nothing sets it: the header's callback stays 0
    int32_t stackBase_ = 0;

    std::vector<PassedLimit>* passedLimits_ = nullptr;
    MoxListing* listing_ = nullptr;
};
