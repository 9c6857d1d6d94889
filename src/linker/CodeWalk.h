#pragma once

#include "classfile/JavaClass.h"
#include "classfile/JavaOpcodes.h"
#include "errors/EError.h"

#include <cstdint>

// Steps through the instructions of one method straight from its code: the
// linker's passes and the translation read every instruction of the
// program, and the checked queries would find the method again for each.
// An instruction that does not lie wholly inside the code raises JVM 23, as
// those queries do.
class CodeWalk {
public:
    CodeWalk(const CJavaClass& javaClass, int method)
        : code_(javaClass.Method(method).code.data()), length_(javaClass.CodeLength(method))
    {
    }

    // The next instruction's position, opcode and length; false at the end.
    bool Next(uint32_t& at, int& opcode, uint32_t& size)
    {
        if (pc_ >= length_)
            return false;
        size = JavaInstructionLength(code_, length_, pc_);
        if (size == 0)
            throw EError(ecJVM, 23);
        at = pc_;
        opcode = code_[pc_];
        pc_ += size;
        return true;
    }

    const uint8_t* Code() const { return code_; }

private:
    const uint8_t* code_;
    uint32_t length_;
    uint32_t pc_ = 0;
};
