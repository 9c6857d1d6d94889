#!/usr/bin/env python3
"""Runs programs with benches through morvane-run, one table, and checks what a CI step would see:
the exit code, the program's text on standard output (nothing else there), the runner's lines on
standard error, and the trace as the tools users open it with read it: sigrok-cli decodes the UART
bytes, vcd2fst converts it without a word, and Blink's lamp changes at their module times.

Every row runs twice: the output, the trace and the exit code must be the same bytes both times.
With --windows (and --run-with, the emulator), each row also runs the Windows build and must give
the same exit code, the same text (its lines ended CR LF) and the same trace bytes.
"""
import argparse
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

# name, main class, class folder ('examples' or 'fixtures'), bench in tests/fixtures/bench or None,
# extra arguments, exit code, texts standard output must hold, texts standard error must hold,
# trace checks: ('uart', pin, baud, bytes) or ('blink',) or ('fst',).
ROWS = [
    ("blink ends by itself", "Blink", "examples", None, [], 0,
     ["LED on\nLED off\n"], ["passed"], [("blink",), ("fst",)]),
    ("hello's text expected", "Hello", "examples", None, ["--expect-text", "6 * 7 = 42"], 0,
     ["Hello from the Morvane module!\n"], ['expect-text "6 * 7 = 42" seen', "passed"], []),
    ("echo typed from a keys file", "Echo", "examples", None, ["--keys", "@keys"], 0,
     ["> HELLO\n", "Bye.\n"], ["passed"], []),
    ("crash reports its line", "Crash", "examples", None, [], 1,
     ["[Error IDE-0028] Unhandled exception in JVM: java.lang.ArithmeticException\n",
      "Exception thrown in file "], ["failed", "java.lang.ArithmeticException"], []),
    ("a fail text seen", "Hello", "examples", None, ["--fail-text", "backwards"], 1,
     ["Morvane backwards"], ['fail-text "backwards" seen'], []),
    ("an expected text never comes", "Hello", "examples", None, ["--expect-text", "goodbye"], 1,
     [], ['expect-text "goodbye" not seen'], []),
    ("no such class: nothing ran", "Nowhere", "examples", None, [], 2,
     [], ["JVM-0017"], []),
    ("a program that never ends", "Forever", "fixtures", None, ["--timeout", "300ms"], 3,
     ["started\n"], ["timed out", "time-out (300ms)"], [("fst",)]),
    ("button pressed by the bench", "Button", "fixtures", "Button.bench.toml", [], 0,
     ["ready\npressed 1\nreleased\npressed 2\nreleased\n"],
     ["Button.bench.toml:7: wait-text \"pressed 1\" seen", "expect-pin 2 level 0 output met", "passed"],
     [("fst",)]),
    ("button never pressed: wait-text times out", "Button", "fixtures", "Unpressed.bench.toml", [], 3,
     ["ready\n"], ['Unpressed.bench.toml:3: wait-text "pressed" timed out after 200ms'], []),
    ("uart echo in capitals", "UartEcho", "fixtures", "UartEcho.bench.toml", [], 0,
     ["echo ready\nline\n"], ["passed"],
     [("uart", 7, 9600, b"abc\n"), ("uart", 6, 9600, b"ABC\n"), ("fst",)]),
    ("sensors measure the bench", "Sensors", "fixtures", "Sensors.bench.toml", [], 0,
     ["pulse 150\nedges 50\nrc 120\nanalog 100\ndone\n"], ["passed"], [("fst",)]),
    ("a pin not as expected", "Button", "fixtures", "WrongPin.bench.toml", [], 1,
     ["ready\n"], ["WrongPin.bench.toml:3: expect-pin 2 level 1 not met"], []),
    ("a wave holds its level through a nap", "Napper", "fixtures", None, [], 0,
     ["woke\n"], ["passed"], [("nap", 3, 18000)]),
    # A wait-text passes when the text is sent, not after the delay that follows it.
    ("a text is looked at when it is sent", "Blink", "examples", "AtTheText.bench.toml", [], 0,
     ["LED on\n"], ['AtTheText.bench.toml:2: wait-text "LED on" seen at 254750us',
                     "AtTheText.bench.toml:3: expect-pin 0 level 1 met"], []),
    ("a malformed bench: nothing ran", "Button", "fixtures", "Malformed.bench.toml", [], 2,
     [], ["Malformed.bench.toml:2:"], []),
    ("a bench's own time-out", "Forever", "fixtures", "Short.bench.toml", [], 3,
     ["started\n"], ["time-out (200ms)"], []),
    ("--timeout overrides the bench's, even at the default", "Forever", "fixtures", "Short.bench.toml",
     ["--timeout", "10s"], 3, ["started\n"], ["time-out (10s)"], []),
    # The examples with the benches shipped next to them (examples/...: from the source tree).
    ("example: blink's lamp at its times", "Blink", "examples", "examples/Blink.bench.toml", [], 0,
     ["as an input it keeps its level: false\n"],
     ["Blink.bench.toml:10: expect-pin 0 level 0 output met", "Blink.bench.toml:14: expect-pin 0 level 0 input met",
      "passed"], [("blink",), ("fst",)]),
    ("example: a lamp follows the button", "Button", "examples", "examples/bench/Button.bench.toml", [], 0,
     ["ready\npressed 1\nreleased\npressed 2\nreleased\n"],
     ["Button.bench.toml:13: expect-pin 2 level 1 output met", "Button.bench.toml:21: expect-text \"pressed 2\" met",
      "passed"], [("fst",)]),
    ("example: uart echo", "UartEcho", "examples", "examples/bench/UartEcho.bench.toml", [], 0,
     ["echo ready\nechoed: hello\nechoed: AT+GMR\n"], ["passed"],
     [("uart", 7, 9600, b"hello\r\nAT+GMR\n"), ("uart", 6, 9600, b"hello\r\nAT+GMR\n"), ("fst",)]),
]

EXTRA_BENCHES = {
    "Unpressed.bench.toml": 'steps = [\n  { wait-text = "ready" },\n  { wait-text = "pressed", timeout = "200ms" },\n]\n',
    "WrongPin.bench.toml": 'steps = [\n  { wait-text = "ready" },\n  { expect-pin = 2, level = 1 },\n]\n',
    "Malformed.bench.toml": 'steps = [\n  { set-pin = 16, level = 1 },\n]\n',
    "Short.bench.toml": 'timeout = "200ms"\n',
    "AtTheText.bench.toml": 'steps = [\n  { wait-text = "LED on" },\n  { expect-pin = 0, level = 1 },\n]\n',
}


def run(command, args, cwd):
    return subprocess.run(command + args, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)


def windows_text(output):
    """A Windows run's output as this machine's: LF line ends, and paths spelt with '/'."""
    return output.replace(b"\r\n", b"\n").replace(b"\\", b"/")


def vcd_changes(path, wire):
    """(time, value) of every change of `wire` in the dump, power-on value first."""
    ids, changes, now = {}, [], 0
    with open(path) as vcd:
        for line in vcd:
            parts = line.split()
            if parts[:1] == ["$var"]:
                ids[parts[4]] = parts[3]
            elif line.startswith("#"):
                now = int(line[1:])
            elif len(line.strip()) >= 2 and line[0] in "01" and ids.get(wire) == line.strip()[1:]:
                changes.append((now, int(line[0])))
    return changes


def check_trace(check, trace, problems):
    if check[0] == "uart":
        _, pin, baud, expected = check
        decoded = subprocess.run(["sigrok-cli", "-I", "vcd", "-i", trace, "-P",
                                  "uart:rx=pin%d:baudrate=%d" % (pin, baud), "-A", "uart=rx-data"],
                                 capture_output=True, text=True, timeout=60)
        got = bytes(int(line.split(":")[1], 16) for line in decoded.stdout.split("\n") if line.strip())
        if got != expected:
            problems.append("sigrok decoded %r on pin %d, not %r (%s)" % (got, pin, expected, decoded.stderr.strip()))
    elif check[0] == "fst":
        fst = trace + ".fst"
        converted = subprocess.run(["vcd2fst", trace, fst], capture_output=True, text=True, timeout=60)
        said = (converted.stdout + converted.stderr).lower()
        if converted.returncode != 0 or "warning" in said or "error" in said or not os.path.getsize(fst):
            problems.append("vcd2fst: exit %d: %s" % (converted.returncode, said.strip()))
    elif check[0] == "nap":
        # 100 us high, 100 us low, but not while the module naps.
        _, pin, nap_us = check
        times = [t for t, _ in vcd_changes(trace, "pin%d" % pin)[1:]]
        gaps = sorted(b - a for a, b in zip(times, times[1:]))
        if len(gaps) < 10 or gaps[-2] > 100 or not nap_us <= gaps[-1] <= nap_us + 100:
            problems.append("pin %d changed at %r" % (pin, times))
    elif check[0] == "blink":
        # Six writes, a quarter of a second (2,500 delay units) apart plus the println in between.
        edges = vcd_changes(trace, "pin0")[1:]
        levels = [value for _, value in edges]
        gaps = [b[0] - a[0] for a, b in zip(edges, edges[1:])]
        if levels != [1, 0, 1, 0, 1, 0] or not all(250000 <= gap < 260000 for gap in gaps):
            problems.append("Blink's pin 0 changed at %r" % edges)
        directions = vcd_changes(trace, "dir0")
        if [value for _, value in directions] != [0, 1, 0] or directions[1][0] != edges[0][0]:
            problems.append("Blink's pin 0 direction changed at %r" % directions)


def behind_the_line(args, work):
    """The button bench through morvanedirect's own simulator: link, download, reset, listen. The
    simulator's log (our standard error) has the bench's results, the trace has the lamp."""
    trace = os.path.join(work, "line.vcd")
    port = "sim:bench=%s,trace=%s" % (os.path.join(args.benches, "Button.bench.toml"), trace)
    command = [args.morvanedirect, "--port", port, "--listen", "--path", args.fixtures + ";" + args.lib, "Button"]
    try:
        listened = subprocess.run(command, cwd=work, stdin=subprocess.DEVNULL, capture_output=True, timeout=4)
        out, err = listened.stdout, listened.stderr
    except subprocess.TimeoutExpired as ended:  # listening never ends by itself
        out, err = ended.stdout or b"", ended.stderr or b""
    out, err = out.decode("latin-1"), err.decode("latin-1")
    problems = []
    if "ready\npressed 1\nreleased\npressed 2\nreleased\n" not in out:
        problems.append("the program's text is not all there")
    if "morvane-sim: bench passed" not in err or ':7: wait-text "pressed 1" seen' not in err:
        problems.append("the simulator's log lacks the bench's results")
    lamp = []
    for _ in range(40):  # the simulator flushes its trace when the bench is decided
        lamp = [value for _, value in vcd_changes(trace, "pin2")] if os.path.exists(trace) else []
        if len(lamp) >= 5:
            break
        time.sleep(0.05)
    if lamp != [0, 1, 0, 1, 0]:
        problems.append("pin 2 went %r" % lamp)
    print("%s: the button bench behind the serial line" % ("FAIL" if problems else "ok"))
    for problem in problems:
        print("    " + problem)
    if problems:
        print("    standard output: %r\n    standard error: %r" % (out[-400:], err[-800:]))
    return not problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True)
    parser.add_argument("--windows")
    parser.add_argument("--run-with", default="")
    parser.add_argument("--examples", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--benches", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--morvanedirect", help="also run the button bench behind this one's simulator")
    args = parser.parse_args()
    for option in ("run", "windows", "examples", "fixtures", "benches", "lib", "source", "morvanedirect"):
        if getattr(args, option):
            setattr(args, option, os.path.abspath(getattr(args, option)))
    work = tempfile.mkdtemp(prefix="bench-runs-")
    for name, text in EXTRA_BENCHES.items():
        with open(os.path.join(work, name), "w") as f:
            f.write(text)
    with open(os.path.join(work, "keys"), "wb") as f:
        f.write(b"hello\n.")
    failures = 0
    for row, (name, main_class, folder, bench, extra, code, out_has, err_has, checks) in enumerate(ROWS):
        classes = args.examples if folder == "examples" else args.fixtures
        common = ["--path", classes + ";" + args.lib] + [os.path.join(work, "keys") if a == "@keys" else a for a in extra]
        if bench:
            source = os.path.join(args.source if bench.startswith("examples/") else args.benches, bench)
            common += ["--bench", source if os.path.exists(source) else os.path.join(work, bench)]
        problems, results = [], []
        for attempt in range(2):
            trace = os.path.join(work, "row%d-%d.vcd" % (row, attempt))
            result = run([args.run], common + ["--trace", trace, main_class], work)
            results.append((result, open(trace, "rb").read() if os.path.exists(trace) else None))
        result, trace_bytes = results[0]
        out, err = result.stdout.decode("latin-1"), result.stderr.decode("latin-1")
        if result.returncode != code:
            problems.append("exit code %d, not %d" % (result.returncode, code))
        problems += ["standard output lacks %r" % t for t in out_has if t not in out]
        problems += ["standard error lacks %r" % t for t in err_has if t not in err]
        if "morvane-run:" in out:
            problems.append("the runner's own lines on standard output")
        if (results[1][0].returncode, results[1][0].stdout, results[1][1]) != (result.returncode, result.stdout, trace_bytes):
            problems.append("a second run differed")
        if code != 2:
            for check in checks:
                check_trace(check, os.path.join(work, "row%d-0.vcd" % row), problems)
        if args.windows:
            trace = os.path.join(work, "row%d-win.vcd" % row)
            windows = run(shlex.split(args.run_with) + [args.windows], common + ["--trace", trace, main_class], work)
            win_trace = open(trace, "rb").read() if os.path.exists(trace) else None
            if windows.returncode != code or windows_text(windows.stdout) != result.stdout.replace(b"\\", b"/") or win_trace != trace_bytes:
                problems.append("the Windows build differed: exit %d, output %r" % (windows.returncode, windows.stdout[:200]))
        print("%s: %s" % ("FAIL" if problems else "ok", name))
        for problem in problems:
            print("    " + problem)
        if problems:
            print("    standard output: %r\n    standard error: %r" % (out[:400], err[:600]))
        failures += bool(problems)
    if args.morvanedirect:
        failures += not behind_the_line(args, work)
    shutil.rmtree(work, ignore_errors=True)
    print("%d of %d rows failed" % (failures, len(ROWS)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
