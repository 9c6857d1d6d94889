#!/usr/bin/env python3
"""Tests of the class library.

1. The library compiles with the linker's ecj flags and passes
   check-bytecode.py; a deliberately bad class fails it with every fault named.
2. The desktop stand-ins in desktop/src offer exactly the public API of the
   library's tolve.core classes.
3. Each program in programs/ is compiled against the library with ecj and
   run on the 16-bit test VM. Its output is compared with NAME.expected when
   that exists (module-only behaviour), otherwise with the output of the same
   source run on the desktop JDK with the stand-ins.
4. The exact messages PrintStream sends for a few calls.

Prints 'N passed, N failed' and exits non-zero on any failure.
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RUNTIME = os.path.dirname(HERE)
REPO = os.path.dirname(RUNTIME)
HOSTJVM = os.path.join(REPO, "desktop", "src")
PROGRAMS = os.path.join(HERE, "programs")
CHECK = os.path.join(RUNTIME, "tools", "check-bytecode.py")

sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(RUNTIME, "tools"))
import classfile as cf  # noqa: E402
import minivm  # noqa: E402

ECJ = ["ecj", "-1.3", "-target", "1.1", "-g", "-nowarn", "-encoding", "UTF-8"]

results = []


def record(name, ok, detail=""):
    results.append(ok)
    print("%s %s%s" % ("PASS" if ok else "FAIL", name, "" if ok or not detail else "\n" + detail))


def java_sources(root):
    found = []
    for d, _, files in os.walk(root):
        found += [os.path.join(d, f) for f in files if f.endswith(".java")]
    return sorted(found)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, **kw)


def diff(expected, actual):
    e = expected.decode("latin-1").splitlines()
    a = actual.decode("latin-1").splitlines()
    lines = []
    for i in range(max(len(e), len(a))):
        x = e[i] if i < len(e) else "<missing>"
        y = a[i] if i < len(a) else "<missing>"
        if x != y:
            lines.append("  line %d\n    expected: %s\n    actual:   %s" % (i + 1, x, y))
    return "\n".join(lines[:10])


def build_library(work):
    lib = os.path.join(work, "lib")
    os.makedirs(lib)
    r = run(ECJ + ["-bootclasspath", os.path.join(RUNTIME, "src"), "-d", lib] + java_sources(os.path.join(RUNTIME, "src")))
    record("library compiles", r.returncode == 0, r.stdout.decode() + r.stderr.decode())
    return lib if r.returncode == 0 else None


def check_library(lib):
    r = run([sys.executable, CHECK, lib])
    record("library passes check-bytecode", r.returncode == 0, r.stdout.decode())


BAD = """
interface Shape { int area(); }
public class Bad implements Shape {
    long big = 1;
    public int area() { return 100000; }
    synchronized void locked() { }
    double half(int x) { return x / 2.0; }
    int cast(long v) { return (int) v; }
    void call(Shape s) { s.area(); }
    void grid() { int[][] g = new int[2][3]; }
    String name() { return "only string"; }
}
"""


def check_rejects_bad_code(lib, work):
    src = os.path.join(work, "bad")
    out = os.path.join(work, "bad-classes")
    os.makedirs(src)
    os.makedirs(out)
    with open(os.path.join(src, "Bad.java"), "w") as f:
        f.write(BAD)
    r = run(ECJ + ["-bootclasspath", lib, "-d", out, os.path.join(src, "Bad.java")])
    if r.returncode != 0:
        record("check-bytecode rejects bad code", False, r.stdout.decode() + r.stderr.decode())
        return
    r = run([sys.executable, CHECK, out])
    text = r.stdout.decode()
    wanted = ["is an interface", "implements Shape", "ldc of a non-string", "synchronized",
              "long/float/double in signature", "field of type J", "invokeinterface",
              "multianewarray", "i2d", "ddiv", "l2i", "constant pool"]
    missing = [w for w in wanted if w not in text]
    record("check-bytecode rejects bad code", r.returncode != 0 and not missing,
           "missing: %s\n%s" % (missing, text))
    r = run([sys.executable, CHECK, "--max-strings", "0", "--max-static-fields", "0", "--max-table", "2", lib])
    text = r.stdout.decode()
    record("check-bytecode enforces its limits", r.returncode != 0 and "distinct string literals" in text
           and "static fields (limit 0)" in text and "method table" in text, text)


def public_api(directory):
    api = {}
    for d, _, files in os.walk(directory):
        for f in files:
            if not f.endswith(".class"):
                continue
            c = cf.read_class(os.path.join(d, f))
            members = set()
            for kind, items in (("field", c.fields), ("method", c.methods)):
                for m in items:
                    if m.flags & 0x0005:  # public or protected
                        flags = m.flags & (0x0001 | 0x0004 | 0x0008 | 0x0010)
                        if kind == "method":
                            flags &= ~0x0010
                        members.add((kind, m.name, m.desc, flags))
            api[c.name] = (c.super_name, members)
    return api


def check_hostjvm_api(lib, work):
    out = os.path.join(work, "hostjvm")
    os.makedirs(out)
    r = run(["javac", "-nowarn", "-d", out] + java_sources(HOSTJVM))
    record("hostjvm stand-ins compile", r.returncode == 0, r.stderr.decode())
    if r.returncode != 0:
        return None
    ours = {k: v for k, v in public_api(lib).items() if k.startswith("tolve/")}
    theirs = public_api(os.path.join(out, "tolve"))  # the launcher beside them is no stand-in
    problems = []
    for name, (sup, members) in sorted(ours.items()):
        if name not in theirs:
            problems.append("%s missing" % name)
            continue
        if theirs[name][0] != sup:
            problems.append("%s extends %s, not %s" % (name, theirs[name][0], sup))
        for m in sorted(members ^ theirs[name][1]):
            problems.append("%s: %s only in %s" % (name, m, "library" if m in members else "hostjvm"))
    record("hostjvm offers the library's tolve.core API", not problems, "\n".join(problems))
    return out


def options(name):
    path = os.path.join(PROGRAMS, name + ".options")
    found = {}
    if os.path.exists(path):
        for line in open(path):
            key, _, value = line.strip().partition("=")
            if key:
                found[key] = value
    return found


def run_on_module(lib, classes, name, stdin):
    opts = options(name)
    vm = minivm.VM([lib, classes], stdin=stdin,
                   heap_limit=int(opts["heap"]) if "heap" in opts else None)
    try:
        uncaught = vm.run_main(name)
    except minivm.Halt as e:
        return None, "test VM stopped: %s" % e, vm
    out = b"".join(vm.messages)
    if uncaught is not None:
        return out, "uncaught " + uncaught.cls.name, vm
    return out, None, vm


def check_programs(lib, hostjvm, work):
    for source in sorted(f for f in os.listdir(PROGRAMS) if f.endswith(".java")):
        name = source[:-5]
        module_classes = os.path.join(work, "module", name)
        os.makedirs(module_classes)
        r = run(ECJ + ["-bootclasspath", lib, "-d", module_classes, os.path.join(PROGRAMS, source)])
        if r.returncode != 0:
            record(name + " compiles against the library", False, r.stdout.decode() + r.stderr.decode())
            continue
        check = run([sys.executable, CHECK, "--quiet", "--max-strings", "127", "--max-static-fields", "127",
                     module_classes])
        if check.returncode != 0:
            record(name + " compiles to bytecode the module accepts", False, check.stdout.decode())
            continue
        input_path = os.path.join(PROGRAMS, name + ".input")
        stdin = open(input_path, "rb").read() if os.path.exists(input_path) else b""
        actual, error, _ = run_on_module(lib, module_classes, name, stdin)
        if error:
            record(name, False, error + ("\noutput so far:\n" + actual.decode("latin-1") if actual else ""))
            continue
        expected_path = os.path.join(PROGRAMS, name + ".expected")
        if os.path.exists(expected_path):
            expected = open(expected_path, "rb").read()
            record(name + " matches " + name + ".expected", expected == actual, diff(expected, actual))
            continue
        if hostjvm is None:
            record(name + " matches the desktop JVM", False, "no stand-ins")
            continue
        desktop_classes = os.path.join(work, "desktop", name)
        os.makedirs(desktop_classes)
        r = run(["javac", "-nowarn", "-cp", hostjvm, "-d", desktop_classes, os.path.join(PROGRAMS, source)])
        if r.returncode != 0:
            record(name + " compiles on the desktop", False, r.stderr.decode())
            continue
        r = run(["java", "-cp", desktop_classes + os.pathsep + hostjvm, name], input=stdin, timeout=60)
        if r.returncode != 0:
            record(name + " runs on the desktop", False, r.stderr.decode())
            continue
        record(name + " matches the desktop JVM", r.stdout == actual, diff(r.stdout, actual))


MESSAGES = """
public class Messages {
    public static void main(String[] args) {
        System.out.print("ab");
        System.out.println("cd");
        System.out.println(-7);
        System.out.print('x');
        System.out.println('y');
        System.out.println();
        System.out.println("");
        System.out.print("");
        System.out.println("0123456789012345678901234567890");
        System.out.println("01234567890123456789012345678901");
        System.out.print("0123456789012345678901234567890123456789012345678901234567890123456789");
        System.out.println(true);
    }
}
"""


def check_messages(lib, work):
    src = os.path.join(work, "messages")
    os.makedirs(src)
    with open(os.path.join(src, "Messages.java"), "w") as f:
        f.write(MESSAGES)
    r = run(ECJ + ["-bootclasspath", lib, "-d", src, os.path.join(src, "Messages.java")])
    if r.returncode != 0:
        record("PrintStream message boundaries", False, r.stdout.decode())
        return
    _, error, vm = run_on_module(lib, src, "Messages", b"")
    digits = b"0123456789" * 7
    expected = [b"ab", b"cd\n", b"-7\n", b"x", b"y\n", b"\n", b"\n",
                digits[:31] + b"\n", digits[:32], b"\n",
                digits[:32], digits[32:64], digits[64:70], b"true\n"]
    record("PrintStream message boundaries", error is None and vm.messages == expected,
           "%s\nexpected %r\nactual   %r" % (error or "", expected, vm.messages))


def main():
    for tool in ("ecj", "javac", "java"):
        if shutil.which(tool) is None:
            print("%s not found" % tool)
            return 1
    work = tempfile.mkdtemp(prefix="morvane-runtime-tests-")
    try:
        lib = build_library(work)
        if lib:
            check_library(lib)
            check_rejects_bad_code(lib, work)
            hostjvm = check_hostjvm_api(lib, work)
            check_programs(lib, hostjvm, work)
            check_messages(lib, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    passed = sum(results)
    print("%d passed, %d failed" % (passed, len(results) - passed))
    return 0 if passed == len(results) and results else 1


if __name__ == "__main__":
    sys.exit(main())
