#pragma once

// Common base of the linker-side objects (the classes and the linker), so that
// either can be owned and destroyed through a base reference.
class CObject {
public:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
    virtual ~CObject() = default;
};
