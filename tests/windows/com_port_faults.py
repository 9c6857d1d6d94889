#!/usr/bin/env python3
"""The Windows build on a COM port: Wine's COM<N> pointed at this machine's simulator on a
pseudo-terminal (morvane-sim --pty), the modem-line library preloaded into Wine, and
`morvanedirect.exe --port N` run against the simulator's faults. Each row names the fault, what the
run must print after its stage lines, and its exit code.
"""
import argparse
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile
import time

DOTS = re.compile(r"Downloading \.+")
SYSTEM_ERROR = re.compile(r"\((\d+)\)\.\n")

# name, simulator options, --listen, what ends the output (dots and error numbers stand for
# themselves), exit code, ends the simulator once listening
ROWS = [
    ("DSR held low", ["--dsr", "low"], False, "Finding Morvane\n[Error IDE-0046] Morvane not found on serial port.\n", 1,
     False),
    ("DSR held high", ["--dsr", "high"], False, "Finding Morvane\n[Error IDE-0046] Morvane not found on serial port.\n", 1,
     False),
    ("a hang-up in the download", ["--hang-up-at-block", "3"], False,
     "Downloading <dots>[Error IDE-0008] Error reading from the serial port (<error>).\n", 1, False),
    ("a hang-up while listening", [], True,
     "Morvane backwards is enavroM\n", 1, True),
    ("a whole run", [], False, "Download complete. Resetting Morvane.\n", 0, False),
]


def normalised(text):
    text = DOTS.sub("Downloading <dots>", text.replace("\r\n", "\n"))
    return SYSTEM_ERROR.sub("(<error>).\n", text)


def run_row(args, row, folder):
    name, options, listen, ending, code, hang_up = row
    link = os.path.join(folder, "line")
    simulator = subprocess.Popen([args.sim, "--pty", link, "--exit-on-eof"] + options, stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if simulator.stdout.readline().decode() != "pty %s\n" % link:
        return "the simulator did not start"
    device = os.path.join(args.wine_prefix, "dosdevices", "com%d" % args.com)
    if os.path.lexists(device):
        os.remove(device)
    os.symlink(link, device)
    command = shlex.split(args.run_with) + [args.windows, "--port", str(args.com)] + (["--listen"] if listen else [])
    command += ["--path", args.classes + ";" + args.lib, "Hello"]
    host = subprocess.Popen(command, cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, env=dict(os.environ, LD_PRELOAD=args.preload))
    try:
        if hang_up:
            # Once the program has printed, the simulator goes, as a cable is pulled.
            time.sleep(args.settle)
            simulator.send_signal(signal.SIGKILL)
        out, _ = host.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        host.kill()
        out, _ = host.communicate()
        return "no end within 60 s:\n" + out.decode("latin-1")
    finally:
        simulator.kill()
        simulator.wait()
        os.remove(device)
    text = normalised(out.decode("latin-1"))
    if hang_up:
        ending += "[Error IDE-0008] Error reading from the serial port (<error>).\n"
    problems = []
    if not text.endswith(ending):
        problems.append("the output does not end with:\n%s" % ending)
    if host.returncode != code:
        problems.append("exit code %s, not %d" % (host.returncode, code))
    return "; ".join(problems) + ("\n" + text if problems else "")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows", required=True, help="morvanedirect.exe")
    parser.add_argument("--run-with", required=True, help="Wine, with the prefix")
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("--com", type=int, default=5)
    parser.add_argument("--sim", required=True, help="this machine's morvane-sim")
    parser.add_argument("--preload", required=True, help="the modem-line library")
    parser.add_argument("--classes", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--settle", type=float, default=4)
    args = parser.parse_args()
    failures = 0
    for row in ROWS:
        with tempfile.TemporaryDirectory() as folder:
            problem = run_row(args, row, folder)
        print("%s: %s" % (row[0], problem or "ok"))
        failures += bool(problem)
    print("%d passed, %d failed" % (len(ROWS) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
