"""A small bytecode interpreter with the module's 16-bit int, for testing the
class library before the real simulator exists.

It runs what the library and the test programs use: no long/float/double, no
interfaces, no monitors. Every int result wraps to 16 bits, chars are 8 bits,
and the virtual machine's own errors go through Throwable.throwVMException
exactly as on the module. Natives model a board with nothing attached, with
a clock that only the calls that take time advance.
"""

import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import classfile as cf  # noqa: E402

DIVIDE_BY_ZERO, NULL_POINTER, ARRAY_INDEX, NEGATIVE_SIZE, CLASS_CAST, OUT_OF_MEMORY = range(1, 7)


def wrap(x):
    return ((x + 0x8000) & 0xFFFF) - 0x8000


class VMError(Exception):
    """Raised by an instruction; turned into a Java exception by the caller."""

    def __init__(self, code):
        Exception.__init__(self, code)
        self.code = code


class JavaThrow(Exception):
    def __init__(self, obj):
        Exception.__init__(self, obj.cls.name)
        self.obj = obj


class Halt(Exception):
    """A fault of the test VM itself or of a program it cannot run."""


class Klass:
    def __init__(self, vm, c):
        self.vm = vm
        self.cf = c
        self.name = c.name
        self.super = vm.load(c.super_name) if c.super_name else None
        self.methods = {(m.name, m.desc): m for m in c.methods}
        self.statics = {}
        for f in c.fields:
            if f.static:
                self.statics[f.name] = None if f.desc[0] in "L[" else 0
        self.initialised = False

    def instance_fields(self):
        names = self.super.instance_fields() if self.super else []
        return names + [(f.name, f.desc) for f in self.cf.fields if not f.static]

    def is_subclass_of(self, name):
        k = self
        while k:
            if k.name == name:
                return True
            k = k.super
        return False

    def find_method(self, name, desc):
        k = self
        while k:
            m = k.methods.get((name, desc))
            if m:
                return k, m
            k = k.super
        raise Halt("no method %s.%s%s" % (self.name, name, desc))

    def static_owner(self, field):
        k = self
        while k:
            if field in k.statics:
                return k
            k = k.super
        raise Halt("no static field %s.%s" % (self.name, field))


class Obj:
    __slots__ = ("cls", "fields")

    def __init__(self, cls):
        self.cls = cls
        self.fields = {name: (None if desc[0] in "L[" else 0) for name, desc in cls.instance_fields()}


class Arr:
    __slots__ = ("desc", "data")

    def __init__(self, desc, data):
        self.desc = desc
        self.data = data


ARRAY_TYPES = {4: "[Z", 5: "[C", 8: "[B", 9: "[S", 10: "[I"}


class VM:
    def __init__(self, class_path, stdin=b"", heap_limit=None):
        self.class_path = class_path
        self.classes = {}
        self.literals = {}
        self.stdin = list(stdin)
        self.messages = []
        self.heap_limit = heap_limit
        self.heap_used = 0
        self.steps = 0
        self.step_limit = 5_000_000
        self.carry = False
        self.clock_us = 0
        self.timer_start = None
        self.second = 0
        self.slots = [None] * 8
        self.tx_queues = {}
        self.eeprom = [0xFF] * 2048
        self.pins = [False] * 16
        self.depth = 0
        self.frames = []

    # -- loading and initialisation ---------------------------------------
    def load(self, name):
        k = self.classes.get(name)
        if k:
            return k
        for d in self.class_path:
            path = os.path.join(d, name + ".class")
            if os.path.exists(path):
                k = Klass(self, cf.read_class(path))
                self.classes[name] = k
                return k
        raise Halt("class not found: " + name)

    def initialise(self, k):
        if k.initialised:
            return
        k.initialised = True
        if k.super:
            self.initialise(k.super)
        for f in k.cf.fields:
            if f.static and "ConstantValue" in f.attrs:
                (index,) = struct.unpack(">H", f.attrs["ConstantValue"])
                tag = k.cf.tag(index)
                k.statics[f.name] = self.literal(k.cf.string(index)) if tag == cf.STRING else k.cf.integer(index)
        m = k.methods.get(("<clinit>", "()V"))
        if m:
            self.invoke(k, m, [])

    # -- heap ---------------------------------------------------------------
    def allocate(self, size):
        if self.heap_limit is not None and self.heap_used + size > self.heap_limit:
            self.heap_used = self.live_size()
            if self.heap_used + size > self.heap_limit:
                raise VMError(OUT_OF_MEMORY)
        self.heap_used += size

    @staticmethod
    def size_of(ref):
        if isinstance(ref, Obj):
            return 2 + 2 * len(ref.fields)
        return 4 + len(ref.data) * (1 if ref.desc in ("[C", "[B", "[Z") else 2)

    def live_size(self):
        """Bytes reachable from statics and the frames: a collection."""
        seen = set()
        work = []
        for k in self.classes.values():
            work.extend(k.statics.values())
        for local, stack in self.frames:
            work.extend(local)
            work.extend(stack)
        work.extend(owner for owner in self.slots if owner)
        work.extend(self.tx_queues.values())
        total = 0
        literals = set(id(s) for s in self.literals.values())
        while work:
            ref = work.pop()
            if isinstance(ref, tuple):
                work.extend(ref)
                continue
            if not isinstance(ref, (Obj, Arr)) or id(ref) in seen:
                continue
            seen.add(id(ref))
            if id(ref) not in literals:
                total += self.size_of(ref)
            work.extend(ref.fields.values() if isinstance(ref, Obj) else ref.data)
        return total

    def new_object(self, k):
        self.allocate(2 + 2 * len(k.instance_fields()))
        return Obj(k)

    def new_array(self, desc, n):
        if n < 0:
            raise VMError(NEGATIVE_SIZE)
        self.allocate(4 + n * (1 if desc in ("[C", "[B", "[Z") else 2))
        fill = None if desc[1] in "L[" else 0
        return Arr(desc, [fill] * n)

    def literal(self, text):
        s = self.literals.get(text)
        if s is None:
            data = [b & 0xFF for b in text.encode("latin-1")]
            s = Obj(self.load("java/lang/String"))
            s.fields["count"] = len(data)
            s.fields["value"] = Arr("[C", data)
            self.literals[text] = s
        return s

    def string_text(self, s):
        if s is None:
            return None
        return bytes(s.fields["value"].data[:s.fields["count"]]).decode("latin-1")

    # -- type checks --------------------------------------------------------
    def instance_of(self, ref, target):
        if isinstance(ref, Obj):
            return ref.cls.is_subclass_of(target)
        if target == "java/lang/Object":
            return True
        return ref.desc == target

    # -- calls ----------------------------------------------------------------
    def run_main(self, main_class):
        # The module runs the library's start-up initialisers before main; the
        # preallocated OutOfMemoryError depends on it.
        self.initialise(self.load("java/lang/Throwable"))
        k = self.load(main_class)
        self.initialise(k)
        _, m = k.find_method("main", "([Ljava/lang/String;)V")
        try:
            self.invoke(k, m, [None])
        except JavaThrow as t:
            return t.obj
        return None

    def invoke(self, k, m, args):
        if m.flags & cf.ACC_NATIVE:
            return self.native(k.name, m.name, args)
        if m.code is None:
            raise Halt("abstract method called: %s.%s" % (k.name, m.name))
        self.depth += 1
        if self.depth > 200:
            raise Halt("call depth")
        try:
            return self.execute(k, m, args)
        finally:
            self.depth -= 1

    def vm_exception(self, code):
        t = self.load("java/lang/Throwable")
        self.initialise(t)
        self.invoke(t, t.methods[("throwVMException", "(I)V")], [code])
        raise Halt("throwVMException returned")

    @staticmethod
    def arg_slots(desc):
        """Number of arguments in a method descriptor (no wide types here)."""
        n = 0
        i = 1
        while desc[i] != ")":
            while desc[i] == "[":
                i += 1
            if desc[i] == "L":
                i = desc.index(";", i)
            n += 1
            i += 1
        return n

    # -- the interpreter ------------------------------------------------------
    def execute(self, k, m, args):
        local = list(args) + [None] * (m.code.max_locals - len(args))
        stack = []
        self.frames.append((local, stack))
        try:
            return self.run_frame(k, m, local, stack)
        finally:
            self.frames.pop()

    def run_frame(self, k, m, local, stack):
        c = k.cf
        code = m.code.bytecode
        pc = 0
        while True:
            self.steps += 1
            if self.steps > self.step_limit:
                raise Halt("step limit")
            try:
                result = self.step(k, c, code, local, stack, pc)
            except VMError as e:
                try:
                    self.vm_exception(e.code)
                except JavaThrow as t:
                    result = ("throw", t.obj)
            except JavaThrow as t:
                result = ("throw", t.obj)
            if isinstance(result, int):
                pc = result
                continue
            kind, value = result
            if kind == "return":
                return value
            # An exception: find a handler in this method.
            thrown = value
            for start, end, handler, catch in m.code.handlers:
                if start <= pc < end and (catch is None or thrown.cls.is_subclass_of(catch)):
                    stack[:] = [thrown]
                    pc = handler
                    break
            else:
                raise JavaThrow(thrown)

    def step(self, k, c, code, local, stack, pc):
        op = code[pc]
        push = stack.append
        pop = stack.pop

        def s16(at):
            return struct.unpack(">h", code[at:at + 2])[0]

        def u16(at):
            return (code[at] << 8) | code[at + 1]

        if op == 0:
            return pc + 1
        if op == 1:
            push(None)
            return pc + 1
        if 2 <= op <= 8:
            push(op - 3)
            return pc + 1
        if op == 16:
            push(struct.unpack(">b", code[pc + 1:pc + 2])[0])
            return pc + 2
        if op == 17:
            push(s16(pc + 1))
            return pc + 3
        if op in (18, 19):
            index = code[pc + 1] if op == 18 else u16(pc + 1)
            if c.tag(index) != cf.STRING:
                raise Halt("ldc of a non-string")
            push(self.literal(c.string(index)))
            return pc + 2 if op == 18 else pc + 3
        if op in (21, 25):
            push(local[code[pc + 1]])
            return pc + 2
        if 26 <= op <= 29:
            push(local[op - 26])
            return pc + 1
        if 42 <= op <= 45:
            push(local[op - 42])
            return pc + 1
        if op in (46, 50, 51, 52, 53):
            i = pop()
            a = pop()
            if a is None:
                raise VMError(NULL_POINTER)
            if not 0 <= i < len(a.data):
                raise VMError(ARRAY_INDEX)
            push(a.data[i])
            return pc + 1
        if op in (54, 58):
            local[code[pc + 1]] = pop()
            return pc + 2
        if 59 <= op <= 62:
            local[op - 59] = pop()
            return pc + 1
        if 75 <= op <= 78:
            local[op - 75] = pop()
            return pc + 1
        if op in (79, 83, 84, 85, 86):
            v = pop()
            i = pop()
            a = pop()
            if a is None:
                raise VMError(NULL_POINTER)
            if not 0 <= i < len(a.data):
                raise VMError(ARRAY_INDEX)
            if op == 85:
                v &= 0xFF  # chars are bytes on the module
            elif op == 84:
                v = v & 1 if a.desc == "[Z" else ((v + 0x80) & 0xFF) - 0x80
            a.data[i] = v
            return pc + 1
        if op == 87:
            pop()
            return pc + 1
        if op == 88:
            pop()
            pop()
            return pc + 1
        if op == 89:
            push(stack[-1])
            return pc + 1
        if op == 90:
            v1 = pop()
            v2 = pop()
            stack.extend((v1, v2, v1))
            return pc + 1
        if op == 91:
            v1, v2, v3 = pop(), pop(), pop()
            stack.extend((v1, v3, v2, v1))
            return pc + 1
        if op == 92:
            stack.extend(stack[-2:])
            return pc + 1
        if op == 93:
            v1, v2, v3 = pop(), pop(), pop()
            stack.extend((v2, v1, v3, v2, v1))
            return pc + 1
        if op == 95:
            v1, v2 = pop(), pop()
            stack.extend((v1, v2))
            return pc + 1
        if op in (96, 100, 104, 108, 112, 120, 122, 124, 126, 128, 130):
            b = pop()
            a = pop()
            push(self.arith(op, a, b))
            return pc + 1
        if op == 116:
            push(wrap(-pop()))
            return pc + 1
        if op == 132:
            index = code[pc + 1]
            local[index] = self.arith(96, local[index], struct.unpack(">b", code[pc + 2:pc + 3])[0])
            return pc + 3
        if op == 145:
            push(((pop() + 0x80) & 0xFF) - 0x80)
            return pc + 1
        if op == 146:
            push(pop() & 0xFF)
            return pc + 1
        if op == 147:
            push(wrap(pop()))
            return pc + 1
        if 153 <= op <= 158:
            v = pop()
            taken = (v == 0, v != 0, v < 0, v >= 0, v > 0, v <= 0)[op - 153]
            return pc + s16(pc + 1) if taken else pc + 3
        if 159 <= op <= 166:
            b = pop()
            a = pop()
            if op >= 165:
                taken = (a is b) if op == 165 else (a is not b)
            else:
                taken = (a == b, a != b, a < b, a >= b, a > b, a <= b)[op - 159]
            return pc + s16(pc + 1) if taken else pc + 3
        if op == 167:
            return pc + s16(pc + 1)
        if op == 168:  # jsr: ecj compiles finally blocks to subroutines for this target
            push(("return address", pc + 3))
            return pc + s16(pc + 1)
        if op == 169:
            return local[code[pc + 1]][1]
        if op == 170:
            p = (pc + 4) & ~3
            default, low, high = struct.unpack(">iii", code[p:p + 12])
            v = pop()
            if low <= v <= high:
                (offset,) = struct.unpack(">i", code[p + 12 + 4 * (v - low):p + 16 + 4 * (v - low)])
                return pc + offset
            return pc + default
        if op == 171:
            p = (pc + 4) & ~3
            default, pairs = struct.unpack(">ii", code[p:p + 8])
            v = pop()
            for j in range(pairs):
                key, offset = struct.unpack(">ii", code[p + 8 + 8 * j:p + 16 + 8 * j])
                if key == v:
                    return pc + offset
            return pc + default
        if op in (172, 176):
            return ("return", pop())
        if op == 177:
            return ("return", None)
        if op in (178, 179):
            owner, name, _ = c.member_ref(u16(pc + 1))
            target = self.load(owner).static_owner(name)
            self.initialise(target)
            if op == 178:
                push(target.statics[name])
            else:
                target.statics[name] = pop()
            return pc + 3
        if op in (180, 181):
            _, name, _ = c.member_ref(u16(pc + 1))
            v = pop() if op == 181 else None
            obj = pop()
            if obj is None:
                raise VMError(NULL_POINTER)
            if op == 180:
                push(obj.fields[name])
            else:
                obj.fields[name] = v
            return pc + 3
        if op in (182, 183, 184):
            owner, name, desc = c.member_ref(u16(pc + 1))
            n = self.arg_slots(desc)
            args = stack[len(stack) - n:] if n else []
            del stack[len(stack) - n:]
            target = self.load(owner)
            if op == 184:
                self.initialise(target)
                mk, mm = target.find_method(name, desc)
            else:
                this = pop()
                if this is None:
                    raise VMError(NULL_POINTER)
                args = [this] + args
                if op == 182 and isinstance(this, Obj):
                    mk, mm = this.cls.find_method(name, desc)
                elif op == 182:
                    mk, mm = self.load("java/lang/Object").find_method(name, desc)
                else:
                    mk, mm = target.find_method(name, desc)
            value = self.invoke(mk, mm, args)
            if desc[-1] != "V":
                push(value)
            return pc + 3
        if op == 187:
            target = self.load(c.class_name(u16(pc + 1)))
            self.initialise(target)
            push(self.new_object(target))
            return pc + 3
        if op == 188:
            push(self.new_array(ARRAY_TYPES[code[pc + 1]], pop()))
            return pc + 2
        if op == 189:
            name = c.class_name(u16(pc + 1))
            push(self.new_array("[" + (name if name[0] == "[" else "L%s;" % name), pop()))
            return pc + 3
        if op == 190:
            a = pop()
            if a is None:
                raise VMError(NULL_POINTER)
            push(len(a.data))
            return pc + 1
        if op == 191:
            t = pop()
            if t is None:
                raise VMError(NULL_POINTER)
            raise JavaThrow(t)
        if op in (192, 193):
            target = c.class_name(u16(pc + 1))
            ref = stack[-1]
            ok = ref is not None and self.instance_of(ref, target)
            if op == 193:
                stack[-1] = 1 if ok else 0
            elif ref is not None and not ok:
                raise VMError(CLASS_CAST)
            return pc + 3
        if op in (198, 199):
            v = pop()
            taken = (v is None) if op == 198 else (v is not None)
            return pc + s16(pc + 1) if taken else pc + 3
        raise Halt("opcode %d not supported at %s pc %d" % (op, k.name, pc))

    def arith(self, op, a, b):
        ua, ub = a & 0xFFFF, b & 0xFFFF
        if op == 96:
            self.carry = ua + ub > 0xFFFF
            return wrap(a + b)
        if op == 100:
            self.carry = ua < ub
            return wrap(a - b)
        if op == 104:
            return wrap(a * b)
        if op in (108, 112):
            if b == 0:
                raise VMError(DIVIDE_BY_ZERO)
            q = abs(a) // abs(b)
            if (a < 0) != (b < 0):
                q = -q
            return wrap(q) if op == 108 else wrap(a - q * b)
        n = b & 15
        if op == 120:
            return wrap(a << n)
        if op == 122:
            return a >> n
        if op == 124:
            return wrap(ua >> n)
        if op == 126:
            return a & b
        if op == 128:
            return a | b
        return a ^ b

    # -- natives: a board with nothing attached ----------------------------
    def background(self):
        for q in self.tx_queues.values():
            q.data[0] = q.data[1]

    def native(self, cls, name, args):
        self.background()
        key = cls.rsplit("/", 1)[-1] + "." + name
        if key == "CPU.message":
            data, length = args
            if data is None:
                raise VMError(NULL_POINTER)
            n = max(0, min(length, len(data.data)))
            self.messages.append(bytes(v & 0xFF for v in data.data[:n]))
            return None
        if key == "Terminal.getByte":
            return self.stdin.pop(0) if self.stdin else -1
        if key == "CPU.delay":
            self.clock_us += max(0, args[0]) * 100
            return None
        if key == "CPU.carry":
            return 1 if self.carry else 0
        if key == "CPU.readPin":
            pin = args[0]
            return 1 if 0 <= pin < 16 and self.pins[pin] else 0
        if key == "CPU.writePin":
            if 0 <= args[0] < 16:
                self.pins[args[0]] = bool(args[1])
            return None
        if key == "CPU.install":
            for slot, owner in enumerate(self.slots):
                if owner is None:
                    self.slots[slot] = ("claimed", args[0])
                    return slot
            return -1
        if key == "CPU.uninstall":
            slot = args[0]
            if 0 <= slot < 8:
                self.slots[slot] = None
                self.tx_queues.pop(slot, None)
            return None
        if key in ("PWM.install", "PWM.updateInternal", "DAC.install", "Uart.rxInit"):
            return None
        if key == "ADC.install":
            slot, in_pin, _, result = args
            result.data[0] = 255 if self.pins[in_pin] else 0
            return None
        if key == "Uart.txInit":
            self.tx_queues[args[0]] = args[4]
            return None
        if key == "Uart.rxRead":
            return -1
        if key == "Timer.init":
            if self.timer_start is None:
                self.timer_start = self.clock_us
            return None
        if key == "Timer.latch":
            ticks = 0 if self.timer_start is None else (self.clock_us - self.timer_start) // 100
            self.second = (ticks >> 15) & 0x7FFF
            return ticks & 0x7FFF
        if key == "Callback.returnTwo":
            return self.second
        if key == "EEPROM.eeRead":
            a = args[0]
            return self.eeprom[a] if 0 <= a < len(self.eeprom) else -1
        if key == "EEPROM.eeWrite":
            a, v = args
            if not 0 <= a < len(self.eeprom):
                return 0
            self.eeprom[a] = v & 0xFF
            self.clock_us += 5000
            return 1
        raise Halt("native not modelled: " + key)


def main():
    import argparse
    p = argparse.ArgumentParser(description="Run a program on the 16-bit test VM.")
    p.add_argument("--cp", action="append", required=True, help="class directory (repeatable)")
    p.add_argument("--heap", type=int)
    p.add_argument("main")
    a = p.parse_args()
    vm = VM(a.cp, stdin=sys.stdin.buffer.read() if not sys.stdin.isatty() else b"", heap_limit=a.heap)
    uncaught = vm.run_main(a.main)
    sys.stdout.buffer.write(b"".join(vm.messages))
    if uncaught is not None:
        print("uncaught %s" % uncaught.cls.name, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
