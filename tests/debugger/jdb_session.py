#!/usr/bin/env python3
"""Drives jdb through a scripted session against a JDWP server and checks its answers.

A server is a command that prints "Listening for transport dt_socket at address: <port>" first and then waits for a
debugger: morvane-run --jdwp 0, or a desktop JVM with the JDWP agent. jdb attaches to it and the session's commands
are typed one by one; after each, the script waits (with a deadline) for jdb's prompt, and after a command that lets
the program run, for the event that stops it again, since jdb prints those asynchronously after a prompt of its own.

Each session row carries texts its answer must hold. With --reference, the same session also runs against a second
server (the desktop JVM) and both transcripts, normalised, must be equal. Exit status: 0 passed, 1 failed, 77 when jdb
or java is missing (a skip).
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

LISTENING = re.compile(rb"Listening for transport dt_socket at address: (\d+)")
# jdb's prompt: "> " while the program runs, "<thread>[<frame>] " while it is stopped.
PROMPT = re.compile(r"(?:^|\n)(?:> |[\w-]+\[\d+\] )$")
RESUMING = ("run", "cont", "step", "next", "step up", "stepi")
EVENT = re.compile(r"(Breakpoint hit:|Step completed:|Exception occurred:|The application exited|"
                   r"application exited)")
WAIT_SECONDS = 30


class Output:
    """What a process writes, collected by a thread, waited on with deadlines instead of sleeps."""

    def __init__(self, stream):
        self.text = ""
        self.ended = False
        self.cond = threading.Condition()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        while True:
            chunk = os.read(stream.fileno(), 4096)
            with self.cond:
                if not chunk:
                    self.ended = True
                    self.cond.notify_all()
                    return
                self.text += chunk.decode("utf-8", "replace")
                self.cond.notify_all()

    def wait(self, done, seconds):
        """Waits until done(text) or the stream ends; False at the deadline."""
        deadline = time.monotonic() + seconds
        with self.cond:
            while not done(self.text):
                left = deadline - time.monotonic()
                if self.ended or left <= 0:
                    return done(self.text)
                self.cond.wait(left)
            return True


def start_server(command):
    # Its notices go to our standard error, where a failing test shows them. A session of its own, so that what it
    # starts (Wine's processes) ends with it.
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, start_new_session=True)
    line = b""
    deadline = time.monotonic() + WAIT_SECONDS
    # The announcement comes before anything else, on a line of its own.
    while not line.endswith(b"\n") and time.monotonic() < deadline:
        byte = process.stdout.read(1)
        if not byte:
            break
        line += byte
    found = LISTENING.match(line)
    if not found:
        stop_server(process)
        raise SystemExit(f"{command[0]}: no 'Listening for transport' line first, got {line!r}")
    # The program's own output is read on, so that a full pipe never holds the program.
    process.program_output = Output(process.stdout)
    return process, int(found.group(1))


def stop_server(process):
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    process.wait()


def run_session(server_command, rows, jdb, sourcepath):
    server, port = start_server(server_command)
    try:
        debugger = subprocess.Popen([jdb, "-sourcepath", sourcepath, "-attach", f"localhost:{port}"],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        out = Output(debugger.stdout)
        if not out.wait(lambda t: "VM Started" in t and PROMPT.search(t), WAIT_SECONDS):
            raise SystemExit(f"jdb did not attach to port {port}:\n{out.text}")
        answers = []
        for command, _ in rows:
            start = len(out.text)
            debugger.stdin.write((command + "\n").encode())
            debugger.stdin.flush()
            # Slices, not search positions: a prompt may be the whole answer, and "^" only matches at a
            # string's real start.
            if command in RESUMING:
                def done(text, start=start):
                    event = EVENT.search(text[start:])
                    return event is not None and (PROMPT.search(text[start + event.end():]) is not None
                                                  or "exited" in event.group(1))
            else:
                def done(text, start=start):
                    return PROMPT.search(text[start:]) is not None
            if not out.wait(done, WAIT_SECONDS):
                raise SystemExit(f"no answer to '{command}' within {WAIT_SECONDS} s:\n{out.text[start:]}")
            if command in RESUMING and "exited" in (EVENT.search(out.text[start:]) or [""])[0]:
                out.wait(lambda t: out.ended, WAIT_SECONDS)
            answers.append(out.text[start:])
        debugger.stdin.close()
        debugger.wait(WAIT_SECONDS)
        # A session runs its program to the end: the server must end with it, as a program that ends does.
        try:
            code = server.wait(WAIT_SECONDS)
        except subprocess.TimeoutExpired:
            raise SystemExit(f"{server_command[0]} did not end within {WAIT_SECONDS} s after the session")
        if code != 0:
            raise SystemExit(f"{server_command[0]} ended with exit status {code} after the session")
        return answers
    finally:
        stop_server(server)


# What legitimately differs between two servers: object ids, code indices (the module's are its own program
# counters), frames of the desktop's launcher and reflection below the program's main, whether a class was already
# loaded when a breakpoint or catch was set, and where prompts and events interleave.
LAUNCHER_FRAME = re.compile(r"^\s*\[\d+\] (java|jdk|sun|morvane\.desktop)\.")


def normalised(answer):
    text = re.sub(r"\(id=\d+\)", "(id=#)", answer)
    text = re.sub(r"bci=\d+", "bci=#", text)
    text = re.sub(r"Deferring breakpoint (\S+)\.\nIt will be set after the class is loaded\.", r"Set breakpoint \1",
                  text)
    text = re.sub(r"Deferring (all|uncaught|caught) (\S+)\.\nIt will be set after the class is loaded\.",
                  r"Set \1 \2", text)
    # jdb prints an event's first words and its prompt from two threads: the prompt may land inside the event's line.
    text = re.sub(r"(Breakpoint hit: |Step completed: |Exception occurred: )(?:> |[\w-]+\[\d+\] )+", r"\1", text)
    lines = []
    for line in text.replace("\r", "").split("\n"):
        line = re.sub(r"^(?:> |[\w-]+\[\d+\] ?)+", "", line).rstrip()
        if not line or line.startswith("Set deferred ") or LAUNCHER_FRAME.match(line):
            continue
        lines.append(line)
    return "\n".join(lines)


def read_rows(path):
    """One command a line, then '|' and the texts its answer must hold, separated by ' && '."""
    rows = []
    with open(path, encoding="utf-8") as file:
        for line in file:
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            command, _, expected = line.partition("|")
            texts = [t.strip() for t in expected.split("&&") if t.strip()]
            rows.append((command.strip(), texts))
    return rows


def check(name, rows, answers):
    failures = 0
    for (command, texts), answer in zip(rows, answers):
        shown = normalised(answer)
        for text in texts:
            if text not in shown:
                print(f"{name}: '{command}' answered without '{text}':\n{shown}\n")
                failures += 1
    return failures


def main():
    # The two commands follow the options: "-- <server...> [--versus <desktop JVM...>]".
    argv = sys.argv[1:]
    if "--" not in argv:
        raise SystemExit("usage: jdb_session.py --session F --sourcepath D [--jdb J] -- <server...> "
                         "[--versus <reference server...>]")
    split = argv.index("--")
    parser = argparse.ArgumentParser()
    parser.add_argument("--session", required=True, help="the session's rows")
    parser.add_argument("--sourcepath", required=True)
    parser.add_argument("--jdb", default="jdb")
    parser.add_argument("--show", action="store_true", help="print the server's answers as jdb gave them")
    args = parser.parse_args(argv[:split])
    args.server = argv[split + 1:]
    args.reference = None
    if "--versus" in args.server:
        at = args.server.index("--versus")
        args.server, args.reference = args.server[:at], args.server[at + 1:]
    needed = [args.jdb] + ([args.reference[0]] if args.reference else [])
    missing = [tool for tool in needed if shutil.which(tool) is None]
    if missing:
        print(f"skipped: {', '.join(missing)} not found (Debian: apt-get install openjdk-17-jdk-headless)")
        return 77
    rows = read_rows(args.session)
    answers = run_session(args.server, rows, args.jdb, args.sourcepath)
    failures = check("server", rows, answers)
    if args.show:
        for (command, _), answer in zip(rows, answers):
            print(f"> {command}\n{answer}")
    if args.reference:
        reference = run_session(args.reference, rows, args.jdb, args.sourcepath)
        failures += check("desktop JVM", rows, reference)
        for (command, _), ours, theirs in zip(rows, answers, reference):
            if normalised(ours) != normalised(theirs):
                print(f"'{command}' answered differently:\n--- server\n{normalised(ours)}\n"
                      f"--- desktop JVM\n{normalised(theirs)}\n")
                failures += 1
    if failures:
        print(f"{failures} failure(s)")
        return 1
    print(f"{len(rows)} commands answered as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
