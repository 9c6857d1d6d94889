#include "classfile/JavaClass.h"

#include "errors/EError.h"

#include <algorithm>
#include <new>

CJavaClass::CJavaClass(const std::string& requestedName, const std::string& classPath)
    : requestedName_(requestedName), dottedName_(requestedName), classPath_(classPath)
{
    std::replace(dottedName_.begin(), dottedName_.end(), '/', '.');
}

CJavaClass::~CJavaClass() = default;

void CJavaClass::load()
{
    if (loaded_)
        return;
    try {
        OpenClassFile();
        ReadClassFile();
        // The class model's queries and the linker trust what the reader
        // stored, so a class that could make them read outside the pool or
        // the code is refused here, as a whole.
        Validate();
    } catch (const std::bad_alloc&) {
        openFile_.reset();
        ReleaseContents();
        throw EError(ecSYS, 30);
    } catch (...) {
        openFile_.reset();
        ReleaseContents();
        throw;
    }
    openFile_.reset();
    loaded_ = true;
}

void CJavaClass::ReleaseContents()
{
    loaded_ = false;
    filePath_.clear();
    sourceFileName_.clear();
    sourceFileNameMade_ = false;
    constantPool_.clear();
    accessFlags_ = 0;
    thisClass_ = 0;
    superClass_ = 0;
    interfaceCount_ = 0;
    fields_.clear();
    methods_.clear();
    methodTable_.clear();
    fieldTable_.clear();
    tablesBuilt_ = false;
}

void CJavaClass::Corrupt() const
{
    throw EError(ecJVM, 20, requestedName_);
}
