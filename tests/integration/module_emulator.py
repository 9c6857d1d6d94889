#!/usr/bin/python3
"""A Morvane module behind an RFC 2217 server on loopback, for the tests.

The module side of the protocol: every byte the host sends is echoed (a
ping's answer is its echo); DSR follows RTS; a DTR pulse restarts the
module, which sends 0x0F and ends its start-up window with a byte
0x50..0x5F; in command mode it answers status queries and downloads. After a
restart without a ping it runs a scripted "program" (text, input requests,
exception reports, raw bytes). The server is pyserial's PortManager; the
module is the serial port object it drives, so no device is involved.

Prints "PORT <n>" once it listens. Writes what the module received (the
image, the keys) to --record as JSON at every change.
"""

import argparse
import json
import os
import select
import signal
import socket
import sys
import time

import serial.rfc2217 as rfc2217

FLAG, ESCAPE = 0x7E, 0x7D


def stuff(payload):
    out = bytearray()
    for b in payload:
        if b in (FLAG, ESCAPE):
            out += bytes([ESCAPE, b ^ 0x20])
        else:
            out.append(b)
    return bytes(out)


def checksum(payload):
    return (256 - sum(payload) % 256) % 256


def hex_bytes(text):
    return bytes(int(x, 16) for x in text.split())


class Module:
    """The serial port object PortManager drives: modem lines and data."""

    def __init__(self, opts):
        self.opts = opts
        # Line settings PortManager reads and writes.
        self.baudrate, self.bytesize, self.parity, self.stopbits = 9600, 8, 'N', 1
        self.xonxoff = self.rtscts = self.break_condition = False
        self.cts = self.ri = self.cd = False
        self.rts = False
        self._dtr = False
        self.timers = []  # (due, sequence, function)
        self.sequence = 0
        self.output = bytearray()
        self.state = 'idle'
        self.block = bytearray()
        self.escaped = False
        self.blocks = 0
        self.image = bytearray()
        self.keys = []
        self.awaiting_answer = None  # what to do with the host's answer to 0x11
        self.key_next = False
        self.pinged = False
        self.program = json.loads(opts.program) if opts.program else []
        self.step = 0
        self.resets = 0
        self.received = bytearray()
        self.record()

    # -- modem lines ------------------------------------------------------
    @property
    def dsr(self):
        if self.opts.dsr == 'follows':
            return self.rts
        return self.opts.dsr == 'on'

    @property
    def dtr(self):
        return self._dtr

    @dtr.setter
    def dtr(self, value):
        falling = self._dtr and not value
        self._dtr = value
        if falling:
            self.restart()

    def reset_input_buffer(self):
        pass

    def reset_output_buffer(self):
        pass

    # -- time -------------------------------------------------------------
    def after(self, ms, function):
        self.sequence += 1
        self.timers.append((time.monotonic() + ms / 1000.0, self.sequence, function))
        self.timers.sort()

    def run_due(self):
        now = time.monotonic()
        while self.timers and self.timers[0][0] <= now:
            _, _, function = self.timers.pop(0)
            function()

    def next_due(self):
        return self.timers[0][0] if self.timers else None

    def send(self, data):
        self.output += data

    def record(self):
        if self.opts.record:
            line = [self.baudrate, self.bytesize, self.parity, self.stopbits]
            with open(self.opts.record + '.tmp', 'w') as f:
                json.dump({'image': self.image.hex(), 'blocks': self.blocks, 'keys': self.keys,
                           'resets': self.resets, 'line': line, 'received': self.received.hex()}, f)
            os.replace(self.opts.record + '.tmp', self.opts.record)

    # -- start-up -----------------------------------------------------------
    def restart(self):
        self.resets += 1
        self.record()
        self.timers = []
        self.state = 'reset'
        self.pinged = False
        self.awaiting_answer = None
        self.key_next = False
        if self.opts.on_reset == 'silent':
            return
        if self.opts.on_reset == 'noise':
            self.after(5, lambda: self.send(b'\x33'))
            return
        self.after(5, self.start_load)

    def start_load(self):
        self.state = 'startup'
        self.send(bytes([0x0F]))
        self.after(self.opts.startup_ms, self.end_load)

    def end_load(self):
        self.send(bytes([int(self.opts.end_load, 16)]))
        self.state = 'idle'
        # A ping during start-up keeps the module listening for commands;
        # otherwise it runs the program it holds.
        if not self.pinged and self.program:
            self.step = 0
            self.after(20, self.run_program)

    # -- the program ----------------------------------------------------------
    def message(self, kind, payload):
        self.send(bytes([0x05]) + stuff(bytes([kind]) + payload) + bytes([FLAG]))

    def run_program(self):
        while self.step < len(self.program):
            action = self.program[self.step]
            self.step += 1
            if 'text' in action:
                self.message(3, action['text'].encode('latin-1'))
            elif 'raw' in action:
                self.send(hex_bytes(action['raw']))
            elif 'exception' in action:
                cls, pc = action['exception']
                pc += 1
                self.message(4, bytes([cls >> 8, cls & 0xFF, pc >> 8, pc & 0xFF]))
            elif 'sleep' in action:
                self.after(action['sleep'], self.run_program)
                return
            elif 'input' in action:
                self.ask_for_key(self.got_program_key)
                return

    def ask_for_key(self, then):
        self.awaiting_answer = then
        self.send(bytes([0x11]))

    def got_program_key(self, key):
        if key is None:  # no key yet: ask again a little later
            self.awaiting_answer = None
            self.after(30, lambda: self.ask_for_key(self.got_program_key))
            return
        self.message(3, b'Key ' + bytes([key]) + b'\n')
        self.run_program()

    # -- bytes from the host ----------------------------------------------------
    def write(self, data):
        if self.opts.mode == 'echo':
            self.received += data
            # A plain line with a loopback plug: everything comes back.
            self.send(data)
            self.record()
            return len(data)
        for b in data:
            if b == 0x0E and self.state == 'idle' and self.opts.ping_answer != 'echo':
                # Another device on the line: what comes back is not the ping.
                self.send(hex_bytes(self.opts.ping_answer))
            else:
                self.send(bytes([b]))  # the line echoes before anything else
            self.receive(b)
        return len(data)

    def receive(self, b):
        if self.key_next:
            self.key_next = False
            self.keys.append(b)
            self.record()
            answer, self.awaiting_answer = self.awaiting_answer, None
            if answer:
                answer(b)
            return
        if self.awaiting_answer is not None and b in (0x12, 0x13):
            if b == 0x12:
                self.key_next = True
            else:
                answer, self.awaiting_answer = self.awaiting_answer, None
                answer(None)
            return
        if self.state == 'download':
            self.download_byte(b)
        elif self.state == 'startup':
            # The 0x0E that comes back is the line's echo; the ping keeps the
            # module listening for commands after its start-up.
            if b == 0x0E:
                self.pinged = True
        elif self.state == 'idle' or self.state == 'download':
            self.command(b)

    def command(self, b):
        if b == 0x01:
            payload = hex_bytes(self.opts.status)
            if self.opts.status_checksum == 'auto':
                payload += bytes([checksum(payload)])
            self.send(stuff(payload) + bytes([FLAG]))
        elif b == 0x0C:
            self.state = 'download'
            self.block = bytearray()
            self.escaped = False
            self.blocks = 0
            self.image = bytearray()
            self.record()
            self.send(b'\x8c')

    def download_byte(self, b):
        if b == ESCAPE and not self.escaped:
            self.escaped = True
            return
        if self.escaped:
            b ^= 0x20
            self.escaped = False
        self.block.append(b)
        if len(self.block) < 19:
            return
        block, self.block = bytes(self.block), bytearray()
        ok = block[0] == 0x0B and sum(block) % 256 == 0 and block[1] == (1 if self.blocks == 0 else 0)
        if not ok:
            sys.stderr.write('bad block %d: %s\n' % (self.blocks, block.hex()))
            return  # no acknowledgement: the host times out
        self.image += block[2:18]
        self.blocks += 1  # recorded at the reset that follows a download
        if self.blocks == self.opts.stall_at_block:
            return
        if self.blocks == self.opts.input_during_block:
            # An input request between block and acknowledgement: the host
            # answers it while it waits, then the acknowledgement follows.
            self.ask_for_key(lambda key: self.send(b'\x8b'))
            return
        self.send(b'\x8b')


class Connection:
    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        try:
            self.sock.sendall(data)
        except OSError:
            pass


def serve(opts):
    module = Module(opts)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(('127.0.0.1', opts.port))
    listener.listen(4)
    print('PORT %d' % listener.getsockname()[1], flush=True)
    client = manager = None
    end = time.monotonic() + opts.lifetime
    next_poll = time.monotonic() + 1.0
    while time.monotonic() < end:
        waits = [end, next_poll]
        if module.next_due() is not None:
            waits.append(module.next_due())
        timeout = max(0.0, min(waits) - time.monotonic())
        readable, _, _ = select.select([listener] + ([client] if client else []), [], [], timeout)
        if listener in readable:
            if client:
                client.close()
            client, _ = listener.accept()
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            manager = rfc2217.PortManager(module, Connection(client))
        elif client in readable:
            try:
                data = client.recv(4096)
            except OSError:
                data = b''
            if not data:
                client.close()
                client = manager = None
            else:
                module.write(b''.join(manager.filter(data)))
        module.run_due()
        # Like a slow device server, modem lines are looked at only once a
        # second unless the client asks.
        if manager and time.monotonic() >= next_poll:
            manager.check_modem_lines()
        if time.monotonic() >= next_poll:
            next_poll = time.monotonic() + 1.0
        if module.output:
            data, module.output = bytes(module.output), bytearray()
            if manager:
                manager.connection.write(b''.join(manager.escape(data)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--record')
    parser.add_argument('--mode', choices=['module', 'echo'], default='module')
    parser.add_argument('--program', help='JSON list of actions run after a restart without ping')
    parser.add_argument('--dsr', choices=['follows', 'on', 'off'], default='follows')
    parser.add_argument('--on-reset', choices=['start', 'silent', 'noise'], default='start')
    parser.add_argument('--startup-ms', type=int, default=100)
    parser.add_argument('--end-load', default='55')
    parser.add_argument('--ping-answer', default='echo', help="'echo' or the hex bytes a ping gets instead")
    parser.add_argument('--status', default='81 2a 00 05 00')
    parser.add_argument('--status-checksum', choices=['auto', 'given'], default='auto')
    parser.add_argument('--stall-at-block', type=int, default=-1)
    parser.add_argument('--input-during-block', type=int, default=-1)
    parser.add_argument('--lifetime', type=float, default=60.0)
    opts = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    serve(opts)


if __name__ == '__main__':
    main()
