"""The module run as a user at a terminal makes it: morvanedirect on a pseudo-terminal of its own
(its controlling terminal), the keys typed there a line at a time, each only once the program has
gone quiet waiting for it, its answer read off the screen; Ctrl-C typed once the program has
ended. The terminal's mode must then be what it was before."""
import fcntl
import os
import re
import select
import subprocess
import termios
import time

ENDED = re.compile(rb"morvane-sim: program (ended|halted)")


class Terminal:
    def __init__(self, command, timeout):
        self.leader, self.follower = os.openpty()
        self.before = termios.tcgetattr(self.follower)
        self.deadline = time.monotonic() + timeout
        self.screen, self.err = b"", b""
        self.last_output = time.monotonic()

        def take_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.host = subprocess.Popen(command, stdin=self.follower, stdout=self.follower, stderr=subprocess.PIPE,
                                     preexec_fn=take_terminal)
        self.streams = {self.leader: "screen", self.host.stderr.fileno(): "err"}

    def pump(self, seconds):
        ready, _, _ = select.select(list(self.streams), [], [], seconds)
        for fd in ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # the terminal's far side has closed
                chunk = b""
            if not chunk:
                del self.streams[fd]
            elif self.streams[fd] == "screen":
                self.screen += chunk
                self.last_output = time.monotonic()
            else:
                self.err += chunk

    def wait_for(self, condition, what):
        while not condition():
            if time.monotonic() > self.deadline or not self.streams:
                raise SystemExit("terminal run: no %s\nscreen:\n%s\nstderr:\n%s"
                                 % (what, self.text(), self.err.decode("latin-1")))
            self.pump(0.05)

    def settle(self, quiet):
        """Until the screen has shown nothing new for `quiet` seconds: the program waits."""
        self.wait_for(lambda: time.monotonic() - self.last_output > quiet, "quiet screen")

    def type(self, keys):
        os.write(self.leader, keys)

    def text(self):
        return self.screen.decode("latin-1").replace("\r\n", "\n")


def run_in_terminal(args, keys, listening):
    command = [args.morvanedirect, "--port", args.port, "--listen",
               "--path", args.module_classes + ";" + args.lib, args.program]
    term = Terminal(command, args.timeout)
    try:
        term.wait_for(lambda: b"program started" in term.err, "program start")
        term.settle(args.quiet)
        for line in keys.splitlines(True):
            shown = len(term.screen)
            # Enter sends a carriage return, which the terminal hands on as a line end.
            term.type(line.replace(b"\n", b"\r"))
            if ENDED.search(term.err):
                break
            term.wait_for(lambda: len(term.screen) > shown or ENDED.search(term.err), "answer to %r" % line)
            term.settle(args.quiet)
        term.wait_for(lambda: ENDED.search(term.err), "end of the program")
        term.settle(args.quiet)
        term.type(b"\x03")
        term.wait_for(lambda: term.host.poll() is not None, "end of morvanedirect after Ctrl-C")
        # The simulator ends with the host; the screen stays open, as we hold it.
        term.wait_for(lambda: list(term.streams) == [term.leader], "end of the simulator")
        term.pump(0.05)
        if term.host.returncode != 0:
            raise SystemExit("terminal run: Ctrl-C ended morvanedirect with %d" % term.host.returncode)
        if termios.tcgetattr(term.follower) != term.before:
            raise SystemExit("terminal run: the terminal's mode was not given back")
        text = term.text()
        if listening not in text:
            raise SystemExit("terminal run failed:\n%s" % text)
        return text.split(listening, 1)[1], term.err.decode("latin-1")
    finally:
        if term.host.poll() is None:
            term.host.kill()
            term.host.wait()
        os.close(term.leader)
        os.close(term.follower)
