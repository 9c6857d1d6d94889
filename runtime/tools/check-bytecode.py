#!/usr/bin/env python3
"""Fails if compiled classes use anything the linker or the module rejects.

Usage: check-bytecode.py [--max-static-fields N] [--max-strings N]
                         [--max-table N] CLASS_DIR

Checks every .class file under CLASS_DIR for: class file version 45.3; no
long/float/double opcodes, constants, fields or descriptors; ldc only of
strings; no interfaces, monitors, multianewarray or wide jumps; and then
reports (and limits) the static fields, distinct string literals and
per-class method table sizes that the linker counts.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import classfile as cf  # noqa: E402

FORBIDDEN = {
    9: "lconst_0", 10: "lconst_1", 11: "fconst_0", 12: "fconst_1", 13: "fconst_2",
    14: "dconst_0", 15: "dconst_1", 20: "ldc2_w",
    22: "lload", 23: "fload", 24: "dload",
    47: "laload", 48: "faload", 49: "daload",
    55: "lstore", 56: "fstore", 57: "dstore",
    80: "lastore", 81: "fastore", 82: "dastore",
    173: "lreturn", 174: "freturn", 175: "dreturn",
    185: "invokeinterface", 194: "monitorenter", 195: "monitorexit",
    197: "multianewarray", 200: "goto_w", 201: "jsr_w",
}
for _base, _kind in ((30, "lload_"), (34, "fload_"), (38, "dload_"),
                     (63, "lstore_"), (67, "fstore_"), (71, "dstore_")):
    for _k in range(4):
        FORBIDDEN[_base + _k] = _kind + str(_k)
# Arithmetic: add, sub, mul, div, rem, neg come in i/l/f/d groups of four.
for _base, _name in ((96, "add"), (100, "sub"), (104, "mul"), (108, "div"),
                     (112, "rem"), (116, "neg")):
    for _k, _t in ((1, "l"), (2, "f"), (3, "d")):
        FORBIDDEN[_base + _k] = _t + _name
for _op, _name in ((121, "lshl"), (123, "lshr"), (125, "lushr"),
                   (127, "land"), (129, "lor"), (131, "lxor")):
    FORBIDDEN[_op] = _name
for _op, _name in enumerate(("i2l", "i2f", "i2d", "l2i", "l2f", "l2d", "f2i", "f2l",
                             "f2d", "d2i", "d2l", "d2f"), start=133):
    FORBIDDEN[_op] = _name
for _op, _name in enumerate(("lcmp", "fcmpl", "fcmpg", "dcmpl", "dcmpg"), start=148):
    FORBIDDEN[_op] = _name

NEWARRAY_FORBIDDEN = {6: "float", 7: "double", 11: "long"}


def wide_type(desc):
    """True if a descriptor mentions long, float or double outside class names."""
    i = 0
    while i < len(desc):
        c = desc[i]
        if c == "L":
            i = desc.index(";", i)
        elif c in "JFD":
            return True
        i += 1
    return False


def check_class(c, errors, strings):
    where = c.name
    if (c.major, c.minor) != (45, 3):
        errors.append("%s: class file version %d.%d, expected 45.3" % (where, c.major, c.minor))
    if c.flags & cf.ACC_INTERFACE:
        errors.append("%s: is an interface" % where)
    if c.interfaces:
        errors.append("%s: implements %s" % (where, ", ".join(c.interfaces)))
    for i, entry in enumerate(c.pool):
        if entry and entry[0] in (cf.LONG, cf.FLOAT, cf.DOUBLE):
            errors.append("%s: constant pool #%d holds a long/float/double" % (where, i))
        if entry and entry[0] == cf.IFACE_METHODREF:
            errors.append("%s: references an interface method" % where)
    for f in c.fields:
        if wide_type(f.desc):
            errors.append("%s.%s: field of type %s" % (where, f.name, f.desc))
    for m in c.methods:
        mwhere = "%s.%s%s" % (where, m.name, m.desc)
        if wide_type(m.desc):
            errors.append("%s: long/float/double in signature" % mwhere)
        if m.flags & cf.ACC_SYNCHRONIZED:
            errors.append("%s: synchronized" % mwhere)
        if m.code is None:
            continue
        for pc, op, operands in cf.instructions(m.code.bytecode):
            if op in FORBIDDEN:
                errors.append("%s @%d: %s" % (mwhere, pc, FORBIDDEN[op]))
            elif op in (18, 19):  # ldc, ldc_w
                index = operands[0] if op == 18 else (operands[0] << 8) | operands[1]
                if c.tag(index) != cf.STRING:
                    errors.append("%s @%d: ldc of a non-string constant" % (mwhere, pc))
                else:
                    strings.add(c.string(index))
            elif op == 188 and operands[0] in NEWARRAY_FORBIDDEN:
                errors.append("%s @%d: newarray %s" % (mwhere, pc, NEWARRAY_FORBIDDEN[operands[0]]))


def static_fields(c):
    """Static fields the linker has to store: constants are folded away."""
    return [f.name for f in c.fields if f.static and "ConstantValue" not in f.attrs]


def method_tables(classes):
    """Size of each class's method table, counted the conservative way:
    everything in the superclass's table, plus each own method that does not
    override one of those, plus own constructors and static initialiser."""
    sizes = {}

    def table(name):
        if name in sizes:
            return sizes[name]
        c = classes.get(name)
        if c is None:
            sizes[name] = []
            return []
        entries = list(table(c.super_name)) if c.super_name else []
        inherited = set(entries)
        for m in c.methods:
            key = (m.name, m.desc)
            if m.name in ("<init>", "<clinit>") or key not in inherited:
                entries.append(key)
        sizes[name] = entries
        return entries

    for name in classes:
        table(name)
    return {name: len(entries) for name, entries in sizes.items() if name in classes}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("classes")
    parser.add_argument("--max-static-fields", type=int, default=4)
    parser.add_argument("--max-strings", type=int, default=16)
    parser.add_argument("--max-table", type=int, default=30)
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()

    classes = {}
    for root, _, files in os.walk(args.classes):
        for name in sorted(files):
            if name.endswith(".class"):
                c = cf.read_class(os.path.join(root, name))
                classes[c.name] = c
    if not classes:
        print("no class files under %s" % args.classes)
        return 1

    errors = []
    strings = set()
    statics = []
    for name in sorted(classes):
        c = classes[name]
        check_class(c, errors, strings)
        statics += ["%s.%s" % (name, f) for f in static_fields(c)]
    tables = method_tables(classes)
    for name, size in sorted(tables.items()):
        if size > args.max_table:
            errors.append("%s: method table has %d entries (limit %d)" % (name, size, args.max_table))
    if len(statics) > args.max_static_fields:
        errors.append("%d static fields (limit %d)" % (len(statics), args.max_static_fields))
    if len(strings) > args.max_strings:
        errors.append("%d distinct string literals (limit %d)" % (len(strings), args.max_strings))

    if not args.quiet:
        print("classes: %d" % len(classes))
        print("static fields: %d  %s" % (len(statics), " ".join(statics)))
        print("string literals: %d" % len(strings))
        for s in sorted(strings):
            print("  %r" % s)
        largest = max(tables.items(), key=lambda kv: kv[1])
        print("largest method table: %s with %d entries" % largest)
    for e in errors:
        print("error: " + e)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
