#!/usr/bin/env python3
"""Checks docs/troubleshooting.md against the programs.

A quote in the guide is a fenced block after a marker:
  <!-- check: NAME -->        RUNS[NAME] produces exactly these error lines, no more, no fewer;
  <!-- not checked: WHY -->   no fixture can produce them: each must fit a row of the catalogue.
The expected lines are the guide's; RUNS says only how to produce them. Without --only, the
guide's markers and RUNS must name the same runs; with --only NAME, that run is made.
Exit 77 when a run cannot be made on this machine (no Java, a real /dev/ttyUSB0).
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

# The linker's own cause line before a refused instanceof of an array type.
ERROR_LINE = re.compile(r"^(\[Error |Error: |Exception thrown |morvane-desktop: |Method \S+ uses `instanceof )")
# During the download an error line follows the progress dots on their line.
CATALOGUE_LINE = re.compile(r"\[Error .*")
MARKER = re.compile(r"^<!-- (check: ([a-z0-9-]+)|not checked: .+) -->$")
PATH = "lib;classes"
SKIP = 77


def patch_version(work):
    with open(os.path.join(work, "classes", "Hello.class"), "r+b") as f:
        f.seek(6)
        f.write(bytes([0, 61]))  # what a JDK 17 writes


def write_text(work):
    with open(os.path.join(work, "classes", "Hello.class"), "w") as f:
        f.write("public class Hello {}\n")


def truncate(work):
    path = os.path.join(work, "classes", "Hello.class")
    os.truncate(path, os.path.getsize(path) // 2)


# Root reads files whatever their mode, but not a kernel setting that is only writable.
WRITE_ONLY = "/proc/sys/vm/drop_caches"


def unreadable(work):
    path = os.path.join(work, "classes", "Hello.class")
    os.remove(path)
    os.symlink(WRITE_ONLY, path)


def remove_helper(work):
    os.remove(os.path.join(work, "classes", "Helper.class"))


def link_crash(work):
    run_command(["morvanedirect", "--link", "--path", PATH, "Crash"], work, b"")


def without_java(work):
    tools = os.path.join(work, "tools")
    os.mkdir(tools)
    for tool in ("sh", "readlink", "dirname", "stty"):
        os.symlink(shutil.which(tool), os.path.join(tools, tool))
    return {"PATH": tools}


EXAMPLES, GUIDE, LIMITS = "examples/classes", "fixtures/guide", "fixtures/limits"
LINK = ["morvanedirect", "--link", "--path", PATH]
LISTEN = ["morvanedirect", "--port", "sim", "--listen", "--path", PATH]
DESKTOP = ["morvane-desktop", "--path", PATH]
HAS_JAVA = {"needs": lambda: shutil.which("java")}


def on_port(port):
    return ["morvanedirect", "--port", port, "--path", PATH, "Hello"]


# name: (fixture folder copied to classes/, command, dict(prepare=, stdin=, needs=))
RUNS = {
    "path-expected": (None, ["morvanedirect", "--path"], {}),
    "port-expected": (None, ["morvanedirect", "--port"], {}),
    "link-and-load": (None, ["morvanedirect", "--link", "--load", "Hello"], {}),
    "unknown-option": (None, ["morvanedirect", "--port", "sim", "--lisen", "Hello"], {}),
    "unknown-port": (None, ["morvanedirect", "--port", "simm", "Hello"], {}),
    "no-library": (EXAMPLES, ["morvanedirect", "--link", "--path", "classes", "Hello"], {}),
    "empty-path": (EXAMPLES, ["morvanedirect", "--link", "Hello"], {}),
    "misspelt-class": (EXAMPLES, LINK + ["Helo"], {}),
    "class-suffix": (EXAMPLES, LINK + ["Hello.class"], {}),
    "dotted-name": ("fixtures/showcase", LINK + ["demo.Showcase"], {}),
    "missing-class": (GUIDE, LINK + ["Uses"], {"prepare": remove_helper}),
    "unreadable-class": (EXAMPLES, LINK + ["Hello"], {"prepare": unreadable,
                                                      "needs": lambda: os.path.exists(WRITE_ONLY)}),
    "text-beyond-latin1": (GUIDE, LINK + ["Arrow"], {}),
    "instanceof-array": (GUIDE, LINK + ["Shelf"], {}),
    "not-a-class": (EXAMPLES, LINK + ["Hello"], {"prepare": write_text}),
    "newer-version": (EXAMPLES, LINK + ["Hello"], {"prepare": patch_version}),
    "truncated": (EXAMPLES, LINK + ["Hello"], {"prepare": truncate}),
    "interfaces": ("fixtures/iface", LINK + ["Caller"], {}),
    "long-arithmetic": (GUIDE, LINK + ["Total"], {}),
    "synchronized": (GUIDE, LINK + ["Synchronized"], {}),
    "multi-array": (GUIDE, LINK + ["Grid"], {}),
    "float": (GUIDE, LINK + ["Ratio"], {}),
    "long-parameter": (GUIDE, LINK + ["Narrow"], {}),
    "big-constant": (GUIDE, LINK + ["Big"], {}),
    "float-constant": (GUIDE, LINK + ["Half"], {}),
    "desktop-main": (GUIDE, LINK + ["DesktopMain"], {}),
    "native-method": (GUIDE, LINK + ["Beep"], {}),
    "instanceof-only": (GUIDE, LINK + ["Probe"], {}),
    "instanceof-only-strings": (GUIDE, LINK + ["Gauges"], {}),
    "static-store-only": (GUIDE, LINK + ["Settings"], {}),
    "static-store-only-calls": (GUIDE, LINK + ["Relay"], {}),
    "field-store-only": (GUIDE, LINK + ["Fill"], {}),
    "too-many-strings": (LIMITS, LINK + ["ManyStrings"], {}),
    "full-statics": (LIMITS, LINK + ["FullStatics"], {}),
    "too-many-statics": (LIMITS, LINK + ["ManyStatics"], {}),
    "too-many-classes": (LIMITS, LINK + ["ManyClasses"], {}),
    "too-many-methods": (LIMITS, LINK + ["ManyMethods"], {}),
    "too-many-arguments": (GUIDE, LINK + ["Wide"], {}),
    "too-many-locals": (GUIDE, LINK + ["Crowded"], {}),
    "image-too-big": (LIMITS, LINK + ["BigImage"], {}),
    "mox-directory-missing": ("fixtures/showcase", LINK + ["demo/Showcase"], {}),
    "load-missing": (None, ["morvanedirect", "--load", "Hello"], {}),
    "device-missing": (EXAMPLES, on_port("/dev/ttyUSB0"), {"needs": lambda: not os.path.exists("/dev/ttyUSB0")}),
    "com-missing": (EXAMPLES, on_port("9"), {}),
    "network-refused": (EXAMPLES, on_port("rfc2217://127.0.0.1:1"), {}),
    "simulator-option": (EXAMPLES, on_port("sim:bogus"), {}),
    "simulator-memory": (EXAMPLES, on_port("sim:memory=1000"), {}),
    "simulator-refused": (EXAMPLES, on_port("sim:drop-ack=0"), {}),
    "none-found": (EXAMPLES, ["morvanedirect", "--path", PATH, "Hello"], {}),
    "dsr-stuck": (EXAMPLES, on_port("sim:dsr=low"), {}),
    "other-device": (EXAMPLES, on_port("sim:ping-answer=0x33"), {}),
    "status-checksum": (EXAMPLES, on_port("sim:corrupt-status=1"), {}),
    "status-corrupt": (EXAMPLES, on_port("sim:corrupt-status=0"), {}),
    "silent-module": (EXAMPLES, on_port("sim:silent-after=14"), {}),
    "line-failed": (EXAMPLES, on_port("sim:hang-up-at-block=3"), {}),
    "uncaught-exception": (EXAMPLES, LISTEN + ["Crash"], {}),
    "no-line-numbers": ("fixtures/nolines", LISTEN + ["Divide"], {}),
    "load-uncaught": (EXAMPLES, ["morvanedirect", "--port", "sim", "--listen", "--load", "Crash"],
                      {"prepare": link_crash}),
    "unknown-bytecode": (GUIDE, LISTEN + ["Unused"], {}),
    "desktop-not-found": (EXAMPLES, DESKTOP + ["Helo"], HAS_JAVA),
    "desktop-no-main": (GUIDE, DESKTOP + ["DesktopMain"], HAS_JAVA),
    "desktop-no-java": (EXAMPLES, DESKTOP + ["Hello"], {"prepare": without_java}),
}


def read_guide(path):
    """The quotes: (marker, lines, line number) for every fenced block after a marker."""
    quotes, marker, block, start = [], None, None, 0
    for number, line in enumerate(open(path, encoding="utf-8").read().splitlines(), 1):
        if block is not None:
            if line.startswith("```"):
                quotes.append((marker, block, start))
                marker, block = None, None
            else:
                block.append(line)
        elif line.startswith("```"):
            block, start = [], number
        elif MARKER.match(line):
            marker = MARKER.match(line)
        elif line.strip():
            marker = None
    return quotes


def catalogue_patterns(path):
    """Each catalogue row's line, as printed, as a pattern of its message format."""
    rows = re.findall(r'\{ec(\w+), (\d+), "((?:[^"\\]|\\.)*)"', open(path).read())
    patterns = []
    for category, number, message in rows:
        parts = re.split(r"(%[-0-9.]*[sdcxX])", message)
        body = "".join(".+" if re.fullmatch(r"%[-0-9.]*[sdcxX]", p) else re.escape(p) for p in parts)
        patterns.append(re.compile(r"\[Error %s-%04d\] %s$" % (category, int(number), body)))
    return patterns


def run_command(command, work, stdin, env=None, bin_dir=None):
    """Error lines of one run; a listening run is stopped once the simulator says the program stopped."""
    bin_dir = bin_dir or run_command.bin_dir
    proc = subprocess.Popen([os.path.join(bin_dir, command[0])] + command[1:], cwd=work, env=env,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    errors = []

    def watch_errors():
        for line in proc.stderr:
            errors.append(line.decode("latin-1").rstrip("\n"))
            if re.match(rb"morvane-sim: program (ended|halted)", line):
                threading.Timer(1.0, proc.send_signal, [signal.SIGINT]).start()

    watcher = threading.Thread(target=watch_errors, daemon=True)
    watcher.start()
    killer = threading.Timer(60, proc.kill)
    killer.start()
    try:
        proc.stdin.write(stdin)
        proc.stdin.close()
    except BrokenPipeError:
        pass
    # The linker quotes a class file's text as it stands there, in UTF-8, as the guide is written.
    out = proc.stdout.read().decode("utf-8", "replace")
    proc.wait()
    watcher.join(10)
    killer.cancel()
    found = []
    for line in out.splitlines() + errors:
        line = CATALOGUE_LINE.search(line).group(0) if CATALOGUE_LINE.search(line) else line
        if ERROR_LINE.match(line):
            found.append(line)
    return found


def make_run(name, build):
    fixture, command, options = RUNS[name]
    if "needs" in options and not options["needs"]():
        print("%s: cannot be made on this machine" % name)
        return None
    with tempfile.TemporaryDirectory() as work:
        os.symlink(os.path.join(build, "share", "morvane", "lib"), os.path.join(work, "lib"))
        if fixture:
            shutil.copytree(os.path.join(build, fixture), os.path.join(work, "classes"))
        env = options.get("prepare", lambda work: None)(work)
        return run_command(command, work, options.get("stdin", b""), env)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--guide", required=True)
    parser.add_argument("--catalogue", required=True, help="src/errors/Catalogue.cpp")
    parser.add_argument("--build", required=True, help="the build folder")
    parser.add_argument("--only", help="make this run and compare its lines with the guide's")
    args = parser.parse_args()
    run_command.bin_dir = os.path.join(args.build, "bin")
    quotes = read_guide(args.guide)
    problems = []

    if args.only:
        expected = [lines for marker, lines, _ in quotes if marker and marker.group(2) == args.only]
        if len(expected) != 1:
            sys.exit("the guide has %d quotes marked check: %s" % (len(expected), args.only))
        actual = make_run(args.only, args.build)
        if actual is None:
            return SKIP
        if actual != expected[0]:
            problems.append("%s: the guide quotes\n  %s\nthe program printed\n  %s"
                            % (args.only, "\n  ".join(expected[0]), "\n  ".join(actual) or "no error line"))
    else:
        patterns = catalogue_patterns(args.catalogue)
        marked = [marker.group(2) for marker, _, _ in quotes if marker and marker.group(2)]
        for name in sorted(set(marked) - set(RUNS)):
            problems.append("check: %s names no run" % name)
        for name in sorted(set(RUNS) - set(marked)):
            problems.append("run %s is quoted nowhere in the guide" % name)
        for marker, lines, start in quotes:
            for line in filter(ERROR_LINE.match, lines):
                if marker is None:
                    problems.append("line %d: a quoted error line without a marker: %s" % (start, line))
                elif not marker.group(2) and line.startswith("[Error ") and not any(p.match(line) for p in patterns):
                    problems.append("line %d: no catalogue row prints %s" % (start, line))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
