#!/usr/bin/python3
"""morvane-sim against another RFC 2217 client: pyserial's (Debian's python3-serial).

Starts the simulator, then speaks the module's protocol through pyserial as a host would: modem
lines, the reset and its start-up exchange, a status packet, the download of a linked example,
the program's messages and its key requests. Exits non-zero on the first difference.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

import serial


def fail(text):
    sys.exit("FAIL: " + text)


def stuff(data):
    out = bytearray()
    for b in data:
        if b in (0x7D, 0x7E):
            out += bytes([0x7D, b ^ 0x20])
        else:
            out.append(b)
    return bytes(out)


class Line:
    def __init__(self, port):
        self.port = port
        self.pending = bytearray()

    def read(self, count, timeout=3.0):
        deadline = time.monotonic() + timeout
        while len(self.pending) < count and time.monotonic() < deadline:
            self.pending += self.port.read(max(1, self.port.in_waiting))
        if len(self.pending) < count:
            fail("wanted %d bytes, got %s" % (count, bytes(self.pending).hex(" ")))
        data = bytes(self.pending[:count])
        del self.pending[:count]
        return data

    def send(self, data, expect_echo=True):
        self.port.write(data)
        if expect_echo:
            echo = self.read(len(data))
            if echo != data:
                fail("echo %s of %s" % (echo.hex(" "), data.hex(" ")))

    def frame(self):
        """One flag-terminated frame, unstuffed (status packets and messages)."""
        out, escape = bytearray(), False
        while True:
            b = self.read(1)[0]
            if b == 0x7E:
                return bytes(out)
            if b == 0x7D:
                escape = True
                continue
            out.append(b ^ 0x20 if escape else b)
            escape = False


def reset(line, ping):
    line.port.dtr = True
    time.sleep(0.01)
    line.port.dtr = False
    got = line.read(1)
    if got != b"\x0f":
        fail("after the reset: %s" % got.hex())
    if ping:
        time.sleep(0.05)
        line.port.write(b"\x0e")
        answer = line.read(2)
        if answer != b"\x0e\x50":
            fail("ping answered with %s" % answer.hex(" "))
    else:
        end = line.read(1)[0]
        if end != 0x51:
            fail("start-up ended with %02x, not 51 (a program starts)" % end)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--morvanedirect", required=True)
    parser.add_argument("--classes", required=True)
    parser.add_argument("--lib", required=True)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as work:
        link = subprocess.run([args.morvanedirect, "--link", "--path", args.classes + ";" + args.lib,
                               "Echo"], capture_output=True, cwd=work)
        image_path = os.path.join(work, "Echo.mox")
        if not os.path.exists(image_path):
            fail("linking Echo: " + link.stdout.decode())
        image = open(image_path, "rb").read()

    sim = subprocess.Popen([args.sim, "--listen-port", "0", "--exit-on-eof"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        announced = sim.stdout.readline().decode()
        url = announced[announced.index("rfc2217://"):].strip()
        port = serial.serial_for_url(url, baudrate=28800, timeout=0.1, do_not_open=True)
        port.dtr = False
        port.rts = False
        port.open()
        line = Line(port)

        # DSR follows RTS.
        for level in (True, False, True, False):
            port.rts = level
            time.sleep(0.2)
            if port.dsr != level:
                fail("DSR %s with RTS %s" % (port.dsr, level))

        # A reset with a ping: the loader, whose status shows no program.
        port.reset_input_buffer()
        reset(line, ping=True)
        line.send(b"\x01")
        status = line.frame()
        if len(status) != 6 or status[0] != 0x81 or sum(status) % 256 != 0:
            fail("status packet %s" % status.hex(" "))
        if status[1:4] != b"\x00\x00\x00":
            fail("status in the loader: pc field %s, activity %d" % (status[1:3].hex(), status[3]))

        # The download: begin, then checked 19-byte blocks.
        line.send(b"\x0c")
        if line.read(1) != b"\x8c":
            fail("no acknowledgement of the download")
        for at in range(0, len(image), 16):
            block = bytes([0x0B, 1 if at == 0 else 0]) + image[at:at + 16].ljust(16, b"\0")
            block += bytes([(-sum(block)) % 256])
            line.send(stuff(block))
            ack = line.read(1)
            if ack != b"\x8b":
                fail("block at %d answered %s" % (at, ack.hex()))

        # A reset without a ping runs the program: its text comes as kind-3
        # messages, and it asks for keys with 0x11.
        reset(line, ping=False)
        text = bytearray()
        keys = iter(b"hi\n.")
        while True:
            b = line.read(1)[0]
            if b == 0x11:
                key = next(keys, None)
                line.send(b"\x13" if key is None else bytes([0x12, key]))
            elif b == 0x05:
                message = line.frame()
                if message[0] == 3:
                    text += message[1:]
                elif message[0] == 5:
                    break
                else:
                    fail("message of kind %d" % message[0])
            else:
                fail("unexpected byte %02x" % b)
        expected = b"Type a line (a '.' ends):\n> HI\nBye.\n"
        if bytes(text) != expected:
            fail("the program printed %r, not %r" % (bytes(text), expected))
        port.close()
    finally:
        # The simulator ends by itself once its input ends.
        sim.stdin.close()
        try:
            sim.wait(timeout=5)
        except subprocess.TimeoutExpired:
            sim.kill()
            fail("the simulator did not end with its input")
    print("pyserial spoke the module's protocol with morvane-sim: modem lines, reset, status, "
          "download of %d bytes, messages and keys" % len(image))


if __name__ == "__main__":
    main()
