#include "HandLinkedPrograms.h"

#include "LinkTestSupport.h"

void WriteSmallestProgram(const TempDir& dir)
{
    WriteMinimalLibrary(dir);
    ClassFileBuilder main("Main");
    main.AddMethod(CodeMethod("main", "()V", {0xB1}, 0));
    WriteClass(dir, "Main", main);
}

// Class list: Main (named), Throwable (always), then what the closure adds
// after resolving both: Object (Main's super class) and OutOfMemoryError
// (named by the header). Method tables: Main [main], Throwable
// [throwVMException], Object [], OutOfMemoryError [throwVMException, from
// Throwable].
//   Main @20 (3 + 7), Throwable @30 (3 + 7), Object @40 (3), OOM @43 (3 + 7)
//   code @53: Main.main (1), @54: Throwable.throwVMException (1); size 55
//   stack base (55 / 16 + 1) * 16 = 64; 1 page, marked as 20.
const std::vector<uint8_t> kSmallestImage = {
    // header
    0xA4, 20, 0x01, 0x00,  // run/debug, pages, version, no statics
    0x00, 23,              // main slot: Main @20 + 3
    0x00, 40,              // Object
    0x00, 0x00,            // no strings: no String class
    0x00, 33,              // throwVMException slot: Throwable @30 + 3
    0x00, 55,              // string table: the end of the code
    0x00, 0x00,            // callback
    0x00, 43,              // OutOfMemoryError
    0x00, 64,              // stack base
    // Main @20: super Object, no fields
    0x00, 40, 0x00,
    0x00, 0x00, 0x00, 0x00, 53, 0x00, 0x00, // main: 0 params, 0 locals, code @53
    // Throwable @30
    0x00, 40, 0x00,
    0x02, 0x00, 0x00, 0x00, 54, 0x00, 0x00, // throwVMException: 1 param, 1 - 1 locals
    // Object @40: no super class
    0xFF, 0xFF, 0x00,
    // OutOfMemoryError @43: super Throwable; its slot repeats Throwable's
    0x00, 30, 0x00,
    0x02, 0x00, 0x00, 0x00, 54, 0x00, 0x00,
    // code: return, return
    0x23, 0x23,
};

void WriteTwoClassProgram(const TempDir& dir)
{
    WriteMinimalLibrary(dir, true);

    ClassFileBuilder cpu("tolve/core/CPU");
    ClassFileBuilder::Method delay;
    delay.accessFlags = afStatic | afNative | 0x0001;
    delay.name = "delay";
    delay.descriptor = "(I)V";
    delay.hasCode = false;
    cpu.AddMethod(delay);
    WriteClass(dir, "tolve/core/CPU", cpu);

    ClassFileBuilder main("Main");
    const uint16_t count = main.Fieldref("Main", "count", "I");
    const uint16_t init = main.Methodref("Main", "<init>", "()V");
    const uint16_t get = main.Methodref("Main", "get", "()I");
    const uint16_t hi = main.String("hi");
    const uint16_t cpuDelay = main.Methodref("tolve/core/CPU", "delay", "(I)V");
    const uint16_t safe = main.Methodref("Helper", "safe", "()V");
    const uint16_t objectInit = main.Methodref("java/lang/Object", "<init>", "()V");
    const uint16_t v = main.Fieldref("Main", "v", "I");
    main.AddField({afStatic, "count", "I"});
    main.AddField({0, "v", "I"});
    main.AddMethod(CodeMethod("<clinit>", "()V", {0x05, 0xB3, Hi(count), Lo(count), 0xB1}, 0));
    ClassFileBuilder::Method mainMethod = CodeMethod("main", "()V",
        {
            0xBB, Hi(main.thisClass), Lo(main.thisClass), // 0 new Main
            0x59,                                         // 3 dup
            0xB7, Hi(init), Lo(init),                     // 4 invokespecial Main.<init>
            0x4B,                                         // 7 astore_0
            0x2A,                                         // 8 aload_0
            0xB6, Hi(get), Lo(get),                       // 9 invokevirtual Main.get
            0x57,                                         // 12 pop
            0x12, static_cast<uint8_t>(hi),               // 13 ldc "hi"
            0x57,                                         // 15 pop
            0x06,                                         // 16 iconst_3
            0xB8, Hi(cpuDelay), Lo(cpuDelay),             // 17 invokestatic CPU.delay
            0xB8, Hi(safe), Lo(safe),                     // 20 invokestatic Helper.safe
            0xB1,                                         // 23 return
        },
        1);
    mainMethod.lines = {{0, 10}, {8, 11}, {13, 12}, {23, 13}};
    main.AddMethod(mainMethod);
    main.AddMethod(CodeMethod("<init>", "()V", {0x2A, 0xB7, Hi(objectInit), Lo(objectInit), 0xB1}, 1, false));
    main.AddMethod(CodeMethod("get", "()I", {0x2A, 0xB4, Hi(v), Lo(v), 0xAC}, 1, false));
    WriteClass(dir, "Main", main);

    ClassFileBuilder helper("Helper");
    const uint16_t hiAgain = helper.String("hi");
    const uint16_t yo = helper.String("yo");
    helper.AddMethod(CodeMethod("<clinit>", "()V",
                                {0x12, static_cast<uint8_t>(hiAgain), 0x57, 0x12, static_cast<uint8_t>(yo), 0x57, 0xB1}, 0));
    ClassFileBuilder::Method safeMethod = CodeMethod("safe", "()V", {0x03, 0x57, 0xB1, 0x57, 0xB1}, 1);
    safeMethod.handlers = {{0, 2, 3, 0}}; // catch-all around iconst_0, pop
    safeMethod.lines = {{0, 30}, {3, 31}};
    helper.AddMethod(safeMethod);
    WriteClass(dir, "Helper", helper);
}

// Class list in the order the closure meets the classes: Main, Throwable,
// then from Main's code: String (ldc), tolve/core/CPU, Helper, Object
// (Main.<init> calls it); resolving those adds nothing; OutOfMemoryError
// comes last, for the header.
//
// Statics: Main.count is slot 0. Static initializers: Main and Helper, so
// main starts with a 6-byte prologue and its lines move by 6. Main names
// Helper, so Helper's initializer runs first.
//
// Records (3 + 7 per method-table entry):
//   Main @20 [main @23, get @30, <clinit> @37, <init> @44]   31 bytes
//   Throwable @51 [throwVMException @54]                      10
//   String @61 []                                              3
//   CPU @64 [delay @67]                                       10
//   Helper @74 [safe @77, <clinit> @84]                       17
//   Object @91 [<init> @94]                                   10
//   OutOfMemoryError @101 [throwVMException @104]             10
// Code from 111: Main.<clinit> 5, main 6 + 24, Main.<init> 5, get 5,
//   throwVMException 1, delay 0 (native), Helper.<clinit> 7,
//   safe 5 + 1 + 8, Object.<init> 1: the string index table is at 179.
// Strings: "hi" (Main, and Helper again), "yo" (Helper): index table
//   179-182, records @183 and @195, 12 bytes each; size 207.
const std::vector<uint8_t> kTwoClassImage = {
    // header
    0xA4, 20, 0x01, 0x02,  // one static field
    0x00, 23,              // main slot
    0x00, 91,              // Object
    0x00, 61,              // String
    0x00, 54,              // throwVMException slot
    0x00, 179,             // string table
    0x00, 0x00,            // callback
    0x00, 101,             // OutOfMemoryError
    0x00, 208,             // stack base: (207 / 16 + 1) * 16
    // Main @20: super Object, one instance field
    0x00, 91, 0x02,
    0x00, 0x02, 0x00, 0x00, 116, 0x00, 0x00, // main: 0 params, 1 local
    0x02, 0x00, 0x00, 0x00, 151, 0x00, 0x00, // get: this
    0x00, 0x00, 0x00, 0x00, 111, 0x00, 0x00, // <clinit>
    0x02, 0x00, 0x00, 0x00, 146, 0x00, 0x00, // <init>
    // Throwable @51
    0x00, 91, 0x00,
    0x02, 0x00, 0x00, 0x00, 156, 0x00, 0x00,
    // String @61
    0x00, 91, 0x00,
    // CPU @64: delay is native index 3, no locals
    0x00, 91, 0x00,
    0x02, 0x00, 0x80, 0x00, 3, 0x00, 0x00,
    // Helper @74: safe has a handler (bit 7) and its table after its 5 bytes
    0x00, 91, 0x00,
    0x80, 0x02, 0x00, 0x00, 164, 0x00, 169,
    0x00, 0x00, 0x00, 0x00, 157, 0x00, 0x00,
    // Object @91
    0xFF, 0xFF, 0x00,
    0x02, 0x00, 0x00, 0x00, 178, 0x00, 0x00,
    // OutOfMemoryError @101: super Throwable
    0x00, 51, 0x00,
    0x02, 0x00, 0x00, 0x00, 156, 0x00, 0x00,
    // @111 Main.<clinit>: iconst_2, putstatic slot 0, return
    0x04, 0x27, 0x00, 0x00, 0x23,
    // @116 main: prologue calling Helper.<clinit> @84, then Main.<clinit> @37
    0x25, 0x00, 84, 0x25, 0x00, 37,
    0x57, 0x00, 20,     // new Main
    0x2A,               // dup
    0x25, 0x00, 44,     // invokespecial Main.<init>: its slot
    0x10,               // astore_0 as istore_0
    0x0B,               // aload_0 as iload_0
    0x24, 0x02, 10,     // invokevirtual get: 1 word, slot 3 + 7 into the record
    0x28,               // pop
    0x65, 0x00,         // ldc string 0
    0x28,               // pop
    0x05,               // iconst_3
    0x25, 0x00, 67,     // invokestatic CPU.delay
    0x25, 0x00, 77,     // invokestatic Helper.safe
    0x23,               // return
    // @146 Main.<init>: aload_0, invokespecial Object.<init> @94, return
    0x0B, 0x25, 0x00, 94, 0x23,
    // @151 get: aload_0, getfield word 0 (+ 2 for the class word), ireturn
    0x0B, 0x53, 0x00, 0x02, 0x22,
    // @156 throwVMException: return
    0x23,
    // @157 Helper.<clinit>: ldc 0 (the same "hi"), pop, ldc 1, pop, return
    0x65, 0x00, 0x28, 0x65, 0x01, 0x28, 0x23,
    // @164 safe: iconst_0, pop, return, pop, return
    0x02, 0x28, 0x23, 0x28, 0x23,
    // @169 its table: 1 handler, start 164 + 0 + 1, end 164 + 2 + 1,
    // catch-all as Throwable @51, handler 164 + 3
    0x01, 0x00, 165, 0x00, 167, 0x00, 51, 0x00, 167,
    // @178 Object.<init>: return
    0x23,
    // @179 string index table
    0x00, 183, 0x00, 195,
    // @183 "hi": String, length, pointer 183 + 6, Object, length, text
    0x00, 61, 0x00, 0x02, 0x00, 189, 0x00, 91, 0x00, 0x02, 'h', 'i',
    // @195 "yo"
    0x00, 61, 0x00, 0x02, 0x00, 201, 0x00, 91, 0x00, 0x02, 'y', 'o',
};
