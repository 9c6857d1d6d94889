#!/usr/bin/env python3
"""morvanedirect --port sim leaves no simulator behind, however it ends.

Runs a program that polls for a key that never comes, under `morvanedirect --port sim --listen`, finds the
simulator it started among its children, ends the host (SIGINT as a user would, then SIGKILL,
which gives it no chance to clean up) and checks that the simulator ends too, and that the
simulator used no processor time while the program only waited.
"""
import argparse
import os
import signal
import subprocess
import sys
import time


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append(int(entry))
    return found


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run(args, how):
    # A terminal-less input that never ends: the program keeps asking.
    reader, writer = os.pipe()
    host = subprocess.Popen([args.morvanedirect, "--port", "sim", "--listen",
                             "--path", args.classes + ";" + args.lib, "Patient"],
                            stdin=reader, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    os.close(reader)
    try:
        output = b""
        deadline = time.monotonic() + 30
        while b"Listening for messages" not in output and time.monotonic() < deadline:
            output += host.stdout.read1(4096)
        simulators = children(host.pid)
        if len(simulators) != 1:
            sys.exit("FAIL (%s): %d simulators under the host" % (how, len(simulators)))
        simulator = simulators[0]
        # Each of the program's key requests waits for the host's answer,
        # which comes at the host's next poll of its port: the simulator
        # sleeps in between.
        before = cpu_seconds(simulator)
        time.sleep(1.0)
        used = cpu_seconds(simulator) - before
        if used > 0.3:
            sys.exit("FAIL (%s): the simulator used %.2f s of processor in 1 s of waiting" % (how, used))
        host.send_signal(signal.SIGKILL if how == "killed" else signal.SIGINT)
        host.wait(timeout=10)
        deadline = time.monotonic() + 5
        while alive(simulator) and time.monotonic() < deadline:
            time.sleep(0.05)
        if alive(simulator):
            os.kill(simulator, signal.SIGKILL)
            sys.exit("FAIL (%s): the simulator outlived its host" % how)
    finally:
        os.close(writer)
        if host.poll() is None:
            host.kill()
            host.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--morvanedirect", required=True)
    parser.add_argument("--classes", required=True)
    parser.add_argument("--lib", required=True)
    args = parser.parse_args()
    for how in ("interrupted", "killed"):
        run(args, how)
    print("the simulator ended with its host, interrupted and killed")


if __name__ == "__main__":
    main()
