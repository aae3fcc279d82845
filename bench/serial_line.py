# SPDX-License-Identifier: GPL-3.0-or-later
# What the benchmark's Python loops share about opening the receiver's line with pyserial.
import os, termios


def standard_rate(device):
    """A line left at a rate termios cannot name (termios2's BOTHER, as the other loops leave
    it) makes pyserial's first tcsetattr fail; a fresh port is at a standard rate."""
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
    attributes = termios.tcgetattr(fd)
    attributes[2] = attributes[2] & ~(termios.CBAUD | termios.CIBAUD) | termios.B9600
    attributes[4] = attributes[5] = termios.B9600
    termios.tcsetattr(fd, termios.TCSANOW, attributes)
    os.close(fd)
