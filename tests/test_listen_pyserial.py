#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""zub3sim --listen against a client that is not ours: pyserial's RFC 2217 port opens it,
sets the line and polls; the receiver answers at its own speed and 8E1 only.

Usage: test_listen_pyserial.py ZUB3SIM"""

import os
import subprocess
import sys
import tempfile

import serial

POLL_ID3 = bytes([0xA3, 0x7F, 0x00, 0x07])
REPLY_SIZE = 22  # the echo and the receiver's 18 bytes


def main():
    failures = []
    with tempfile.TemporaryDirectory() as work:
        sim = subprocess.Popen(
            [sys.argv[1], "--listen=127.0.0.1:0", "--id=3", "--speed=625000"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
            env=dict(os.environ, XDG_RUNTIME_DIR=work, ZUB3_LOCK_DIR=work))
        try:
            address = sim.stdout.readline().split()[1]
            for baud, parity, answers in ((625000, serial.PARITY_EVEN, True),
                                          (115200, serial.PARITY_EVEN, False),
                                          (625000, serial.PARITY_NONE, False)):
                port = serial.serial_for_url(address, baudrate=baud, parity=parity, timeout=0.5)
                port.write(POLL_ID3)
                reply = port.read(REPLY_SIZE)
                port.close()
                expected = REPLY_SIZE if answers else 0
                if len(reply) != expected or (answers and reply[:5] != POLL_ID3 + b"\x23"):
                    failures.append(f"{baud} {parity}: {reply.hex()}")
        finally:
            sim.terminate()
            sim.wait(10)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
