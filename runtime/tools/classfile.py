"""Reads the parts of a class file that the runtime's checks and test VM need.

Kept free of any dependency beyond the standard library so both tools run
anywhere Python 3 does.
"""

import struct

# Constant pool tags.
UTF8, INTEGER, FLOAT, LONG, DOUBLE, CLASS, STRING = 1, 3, 4, 5, 6, 7, 8
FIELDREF, METHODREF, IFACE_METHODREF, NAME_AND_TYPE = 9, 10, 11, 12

ACC_STATIC = 0x0008
ACC_FINAL = 0x0010
ACC_SYNCHRONIZED = 0x0020
ACC_NATIVE = 0x0100
ACC_INTERFACE = 0x0200
ACC_ABSTRACT = 0x0400


class ClassFormatError(Exception):
    pass


class Member:
    def __init__(self, flags, name, desc, attrs):
        self.flags = flags
        self.name = name
        self.desc = desc
        self.attrs = attrs
        self.code = None  # Code for methods that have it

    @property
    def static(self):
        return bool(self.flags & ACC_STATIC)


class Code:
    def __init__(self, max_stack, max_locals, bytecode, handlers):
        self.max_stack = max_stack
        self.max_locals = max_locals
        self.bytecode = bytecode
        # (start_pc, end_pc, handler_pc, catch class name or None)
        self.handlers = handlers


class ClassFile:
    def __init__(self, data):
        self._data = data
        self._pos = 0
        if self._u4() != 0xCAFEBABE:
            raise ClassFormatError("bad magic")
        self.minor = self._u2()
        self.major = self._u2()
        self.pool = [None]
        count = self._u2()
        i = 1
        while i < count:
            tag = self._u1()
            if tag == UTF8:
                n = self._u2()
                raw = self._take(n)
                self.pool.append((tag, raw.decode("utf-8", "replace")))
            elif tag in (INTEGER, FLOAT):
                self.pool.append((tag, self._take(4)))
            elif tag in (LONG, DOUBLE):
                self.pool.append((tag, self._take(8)))
                self.pool.append(None)  # takes two slots
                i += 1
            elif tag in (CLASS, STRING):
                self.pool.append((tag, self._u2()))
            elif tag in (FIELDREF, METHODREF, IFACE_METHODREF, NAME_AND_TYPE):
                self.pool.append((tag, (self._u2(), self._u2())))
            else:
                raise ClassFormatError("constant pool tag %d" % tag)
            i += 1
        self.flags = self._u2()
        self.name = self.class_name(self._u2())
        sup = self._u2()
        self.super_name = self.class_name(sup) if sup else None
        self.interfaces = [self.class_name(self._u2()) for _ in range(self._u2())]
        self.fields = [self._member() for _ in range(self._u2())]
        self.methods = [self._member() for _ in range(self._u2())]
        for m in self.methods:
            if "Code" in m.attrs:
                m.code = self._parse_code(m.attrs["Code"])

    # -- constant pool access --------------------------------------------
    def utf8(self, index):
        tag, value = self.pool[index]
        assert tag == UTF8
        return value

    def class_name(self, index):
        return self.utf8(self.pool[index][1])

    def tag(self, index):
        entry = self.pool[index]
        return entry[0] if entry else None

    def string(self, index):
        return self.utf8(self.pool[index][1])

    def integer(self, index):
        return struct.unpack(">i", self.pool[index][1])[0]

    def member_ref(self, index):
        """(class, name, descriptor) of a field or method reference."""
        _, (cls, nat) = self.pool[index]
        _, (name, desc) = self.pool[nat]
        return self.class_name(cls), self.utf8(name), self.utf8(desc)

    # -- raw reading -------------------------------------------------------
    def _take(self, n):
        if self._pos + n > len(self._data):
            raise ClassFormatError("truncated")
        chunk = self._data[self._pos:self._pos + n]
        self._pos += n
        return chunk

    def _u1(self):
        return self._take(1)[0]

    def _u2(self):
        return struct.unpack(">H", self._take(2))[0]

    def _u4(self):
        return struct.unpack(">I", self._take(4))[0]

    def _member(self):
        flags = self._u2()
        name = self.utf8(self._u2())
        desc = self.utf8(self._u2())
        attrs = {}
        for _ in range(self._u2()):
            attr_name = self.utf8(self._u2())
            attrs[attr_name] = self._take(self._u4())
        return Member(flags, name, desc, attrs)

    def _parse_code(self, raw):
        max_stack, max_locals, length = struct.unpack(">HHI", raw[:8])
        bytecode = raw[8:8 + length]
        pos = 8 + length
        (n,) = struct.unpack(">H", raw[pos:pos + 2])
        pos += 2
        handlers = []
        for _ in range(n):
            start, end, handler, catch = struct.unpack(">HHHH", raw[pos:pos + 8])
            pos += 8
            handlers.append((start, end, handler, self.class_name(catch) if catch else None))
        return Code(max_stack, max_locals, bytecode, handlers)


def read_class(path):
    with open(path, "rb") as f:
        return ClassFile(f.read())


# Operand sizes of fixed-length opcodes (tableswitch, lookupswitch and wide
# are variable and handled by instructions()).
_OPERANDS = {}
for _op in (16, 18, 21, 22, 23, 24, 25, 54, 55, 56, 57, 58, 169, 188):
    _OPERANDS[_op] = 1
for _op in (17, 19, 20, 132, 153, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163,
            164, 165, 166, 167, 168, 178, 179, 180, 181, 182, 183, 184, 187, 189,
            192, 193, 198, 199):
    _OPERANDS[_op] = 2
_OPERANDS[197] = 3
_OPERANDS[185] = 4
_OPERANDS[200] = 4
_OPERANDS[201] = 4


def instructions(bytecode):
    """Yields (pc, opcode, operand bytes); for wide, opcode is the widened one."""
    pc = 0
    n = len(bytecode)
    while pc < n:
        op = bytecode[pc]
        if op == 170:  # tableswitch
            p = (pc + 4) & ~3
            low, high = struct.unpack(">ii", bytecode[p + 4:p + 12])
            end = p + 12 + 4 * (high - low + 1)
            yield pc, op, bytecode[pc + 1:end]
            pc = end
        elif op == 171:  # lookupswitch
            p = (pc + 4) & ~3
            (pairs,) = struct.unpack(">i", bytecode[p + 4:p + 8])
            end = p + 8 + 8 * pairs
            yield pc, op, bytecode[pc + 1:end]
            pc = end
        elif op == 196:  # wide
            inner = bytecode[pc + 1]
            size = 5 if inner == 132 else 3
            yield pc, inner, bytecode[pc + 2:pc + 1 + size]
            pc += 1 + size
        else:
            size = _OPERANDS.get(op, 0)
            yield pc, op, bytecode[pc + 1:pc + 1 + size]
            pc += 1 + size
