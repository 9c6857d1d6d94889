#pragma once

class CJavaClass;
class CMOXLinker;
class MoxImageWriter;

// Appends method `method` of `javaClass` in Mox code: every instruction as
// long as the Java one, opcodes translated, constant-pool operands replaced
// by image offsets, field slots and string numbers.
void TranslateMethod(CMOXLinker& linker, CJavaClass& javaClass, int method, MoxImageWriter& out);
