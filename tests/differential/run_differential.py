#!/usr/bin/env python3
"""Runs one program on the desktop JVM and on the simulated module, and compares what each prints.

Both runs take the same class files and class path, from the programs of one folder (--bin): the
desktop run is `morvane-desktop`, which runs main() with the tolve.core stand-ins; the module run
is `morvanedirect --port sim --listen`, which links the program against our class library,
downloads it to the bundled simulator and prints what the program sends. Both get the same
standard input (keys for Terminal.getByte). An exception nothing catches is compared by class,
source file and line.

The module run ends when the simulator reports on standard error that the program has stopped,
the host has shown what came before it, and nothing more arrives; then the host is interrupted
as a user would (Ctrl-C). With --terminal the host runs on a pseudo-terminal, the keys are typed
there a line at a time after the program has answered the last one, Ctrl-C is typed, and the
terminal's mode must be what it was before.

With --preload the module is a simulator of this script's own on a pseudo-terminal, which the
host opens as a serial device with the modem-line library preloaded; the simulator is then ended
with SIGTERM and must have removed its link. With --serve-with the module is a simulator of this
script's own reached over rfc2217://.

A Windows build's morvanedirect.exe runs through --run-with (Wine); with --preload and --com N its
COM<N> is pointed at the simulator's pseudo-terminal in the Wine prefix (--wine-prefix) and the host
is run with --port N.
"""
import argparse
import fcntl
import os
import re
import select
import shlex
import signal
import subprocess
import sys
import tempfile
import termios
import time

REPORT = re.compile(r"\[Error IDE-0028\] Unhandled exception in JVM: (\S+)\nException thrown in file '([^']*)' at line (-?\d+)\n")
LISTENING = "Listening for messages\n"


def normalise(text):
    """The program's output with exception reports reduced to class, file name and line."""
    def report(match):
        # The file's last part, whichever system's separators it has.
        return "<uncaught %s in %s:%s>\n" % (match.group(1), re.split(r"[\\/]", match.group(2))[-1], match.group(3))
    return REPORT.sub(report, text)


CURSOR_SHOWN = re.compile(rb"\x1b\[\?25[lh]|\x1b\[K")
CURSOR_FORWARD = re.compile(rb"\x1b\[(\d*)C")


def as_shown(screen):
    """What a terminal shows, without the control sequences Wine's console draws each character
    with (cursor hidden and shown again; a blank drawn as a move to the right)."""
    screen = CURSOR_SHOWN.sub(b"", screen)
    # A Windows program's CR LF, through the terminal's own LF to CR LF.
    screen = screen.replace(b"\r\r\n", b"\r\n")
    return CURSOR_FORWARD.sub(lambda match: b" " * int(match.group(1) or 1), screen)


def class_path(args):
    return args.lib + ";" + args.classes


def run_desktop(args, stdin):
    desktop = args.desktop or os.path.join(args.bin, "morvane-desktop")
    result = subprocess.run([desktop, "--path", class_path(args), args.program],
                            input=stdin, capture_output=True, timeout=args.timeout)
    text = result.stdout.decode("latin-1")
    # An exception that escapes main() ends the run with status 1, after its report.
    if result.returncode != (1 if REPORT.search(text) else 0):
        sys.exit("desktop run failed (%d):\n%s" % (result.returncode, result.stderr.decode("latin-1")))
    # The module's stack overflow is its VM error 7, a java.lang.Error.
    return text.replace("in JVM: java.lang.StackOverflowError\n", "in JVM: java.lang.Error\n")


def start_pty_simulator(args, folder):
    """morvane-sim on a pseudo-terminal linked in `folder`; returns it and the link."""
    link = os.path.join(folder, "line")
    command = [os.path.join(args.sim_bin or args.bin, "morvane-sim"), "--pty", link, "--exit-on-eof"]
    simulator = subprocess.Popen(command + (["--pace"] if args.port == "sim:pace" else []),
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    announced = simulator.stdout.readline().decode("latin-1")
    if announced != "pty %s\n" % link:
        simulator.kill()
        sys.exit("the simulator did not announce its pseudo-terminal: %r" % announced)
    return simulator, link


def start_rfc2217_simulator(args):
    """morvane-sim serving the module over RFC 2217 on a loopback port; returns it and its URL."""
    simulator = subprocess.Popen([args.serve_with, "--listen-port", "0", "--exit-on-eof"], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    announced = simulator.stdout.readline().decode("latin-1")
    match = re.search(r"rfc2217://127\.0\.0\.1:\d+", announced)
    if not match:
        simulator.kill()
        sys.exit("the simulator did not announce its port: %r" % announced)
    return simulator, match.group(0)


def point_com_port(args, link):
    """Wine's COM<N> made the simulator's device; returns what --port takes for it."""
    device = os.path.join(args.wine_prefix, "dosdevices", "com%d" % args.com)
    if os.path.lexists(device):
        os.remove(device)
    os.symlink(link, device)
    return str(args.com)


def start_host(args, stdin, port, environment):
    """morvanedirect with the keys on a pipe; with --terminal, on a terminal of its own (its
    controlling terminal), where the keys are typed later. Returns the process, the descriptor of
    what it shows, and the terminal's mode before it ran (None for a pipe)."""
    command = shlex.split(args.run_with) + [os.path.join(args.bin, "morvanedirect" + args.suffix), "--port", port,
                                            "--listen", "--path", class_path(args), args.program]
    if not args.terminal:
        host = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=environment)
        host.stdin.write(stdin)
        host.stdin.close()
        return host, host.stdout.fileno(), None
    leader, follower = os.openpty()
    mode = termios.tcgetattr(leader)

    def take_terminal():
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    host = subprocess.Popen(command, stdin=follower, stdout=follower, stderr=subprocess.PIPE, preexec_fn=take_terminal,
                            env=environment)
    os.close(follower)
    return host, leader, mode


def run_module(args, stdin, folder):
    simulator = None
    port, environment = args.port, None
    if args.preload:
        simulator, port = start_pty_simulator(args, folder)
        environment = dict(os.environ, LD_PRELOAD=args.preload)
        link = port
        if args.com:
            port = point_com_port(args, link)
    elif args.serve_with:
        simulator, port = start_rfc2217_simulator(args)
    host, screen, mode = start_host(args, stdin, port, environment)
    # At a terminal a user types a line at a time, each once the program has
    # answered and gone quiet waiting for it; Enter sends a carriage return.
    lines = [line.replace(b"\n", b"\r") for line in stdin.splitlines(True)] if mode else []
    listening = LISTENING.replace("\n", "\r\n").encode()  # as a terminal shows it
    shown = None  # how much had been shown when the last line was typed
    out, err = b"", b""
    deadline = time.monotonic() + args.timeout
    stopped_at = None
    interrupted = False
    last_output = time.monotonic()
    streams = {screen: "out", host.stderr.fileno(): "err"}
    # The simulator's log is read as long as the host runs; its end is not waited for.
    log = {simulator.stderr.fileno(): "err"} if simulator else {}
    # Until the host has ended and both of its streams are closed (the
    # simulator it started shares the error stream and ends with it).
    while streams and time.monotonic() < deadline:
        ready, _, _ = select.select(list(streams) + list(log), [], [], 0.05)
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # a terminal nobody holds any more
                chunk = b""
            if not chunk:
                streams.pop(fd, None)
                log.pop(fd, None)
            elif streams.get(fd) == "out":
                out += chunk
                last_output = time.monotonic()
            else:
                err += chunk
        if stopped_at is None and re.search(rb"morvane-sim: program (ended|halted)", err):
            stopped_at = time.monotonic()
        now = time.monotonic()
        view = as_shown(out)
        if shown is None and listening in view:
            shown = view.index(listening) + len(listening)
        if lines and stopped_at is None and shown is not None and len(view) > shown and now - last_output > args.quiet:
            os.write(screen, lines.pop(0))
            shown = len(view)
        # The host polls its port every 50 ms: once the program has stopped and
        # nothing came for a while, everything it sent has been shown.
        if (not interrupted and stopped_at is not None
                and now - last_output > args.quiet and now - stopped_at > args.quiet):
            if mode:
                os.write(screen, b"\x03")  # Ctrl-C, typed
            else:
                host.send_signal(signal.SIGINT)
            interrupted = True
    if streams:
        host.kill()
        host.wait()
        if simulator:
            simulator.kill()
        sys.exit("module run did not end within %d s\nstdout:\n%s\nstderr:\n%s"
                 % (args.timeout, out.decode("latin-1"), err.decode("latin-1")))
    host.wait()
    if simulator:
        simulator.send_signal(signal.SIGTERM)
        simulator.wait(timeout=10)
        err += simulator.stderr.read()
        if args.com:
            os.remove(os.path.join(args.wine_prefix, "dosdevices", "com%d" % args.com))
        if args.preload and os.path.lexists(link):
            sys.exit("the simulator left its link %s behind" % link)
        if b"taken over" in err:
            sys.exit("another host took the line over:\n" + err.decode("latin-1"))
    if mode is not None:
        if termios.tcgetattr(screen) != mode:
            sys.exit("the terminal's mode was not given back")
        os.close(screen)
    text = as_shown(out).decode("latin-1").replace("\r\n", "\n")
    if LISTENING not in text or stopped_at is None or (mode and host.returncode != 0):
        sys.exit("module run failed (exit %s):\n%s\nstderr:\n%s" % (host.returncode, text, err.decode("latin-1")))
    return text.split(LISTENING, 1)[1], err.decode("latin-1")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--classes", required=True, help="the program's class files")
    parser.add_argument("--lib", required=True, help="our class library")
    parser.add_argument("--bin", required=True, help="where morvanedirect and morvane-desktop are")
    parser.add_argument("--input")
    parser.add_argument("--port", default="sim", help="sim, or sim:pace for the line's real timing")
    parser.add_argument("--preload", help="the module on a pseudo-terminal, whose host preloads this"
                        " (the modem-line library)")
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("--quiet", type=float, default=0.5)
    parser.add_argument("--notice", help="a regular expression the simulator's notices must match")
    parser.add_argument("--serve-with", help="the module served over RFC 2217 by this morvane-sim")
    parser.add_argument("--sim-bin", help="where the morvane-sim for --preload is, if not in --bin")
    parser.add_argument("--run-with", default="", help="what runs morvanedirect (Wine for a Windows build)")
    parser.add_argument("--suffix", default="", help="the programs' suffix (.exe for a Windows build)")
    parser.add_argument("--desktop", help="the desktop runner, if not the one in --bin")
    parser.add_argument("--com", type=int, help="with --preload: Wine's COM<N> is the simulator's device")
    parser.add_argument("--wine-prefix", help="the Wine prefix of --com")
    parser.add_argument("--terminal", action="store_true",
                        help="listen on a terminal of its own and type the keys there, a line at a time")
    args = parser.parse_args()
    stdin = open(args.input, "rb").read() if args.input else b""

    desktop = normalise(run_desktop(args, stdin))
    with tempfile.TemporaryDirectory() as folder:
        module, notices = run_module(args, stdin, folder)
    module = normalise(module)
    if args.notice and not re.search(args.notice, notices):
        sys.stdout.write("the simulator's notices do not match %r:\n%s" % (args.notice, notices))
        return 1
    if desktop != module:
        import difflib
        diff = difflib.unified_diff(desktop.splitlines(True), module.splitlines(True), "desktop JVM", "simulated module")
        sys.stdout.write("".join(diff))
        sys.stdout.write("\nsimulator:\n" + notices)
        return 1
    sys.stdout.write(module)
    return 0


if __name__ == "__main__":
    sys.exit(main())
