#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The benchmark's pyserial loop: what a user would write instead of the window, with the
# same rule (the next poll one interval after the reply). Reports as the other loops do.
#   bench_pyserial.py DEVICE BIT-RATE INTERVAL-MS POLLS RECEIVER-PID POLL-FRAME-HEX
# DEVICE may be a network port, "rfc2217://HOST:PORT?ign_set_control", as pyserial opens it.
import json, os, resource, sys, time
import serial

from serial_line import standard_rate

WARM_UP = 5
REPLY = 22


def process_cpu(pid):
    total = 0.0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as f:
            total += int(f.read().split()[0]) / 1e9
    return total


def mark(pid):
    u = resource.getrusage(resource.RUSAGE_SELF)
    return time.monotonic(), process_cpu(os.getpid()), process_cpu(pid), u.ru_nvcsw + u.ru_nivcsw


device, rate, interval = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) / 1000
polls, receiver = int(sys.argv[4]), int(sys.argv[5])
frame = bytes.fromhex(sys.argv[6])
if device.startswith("rfc2217://"):
    port = serial.serial_for_url(device, rate, parity=serial.PARITY_EVEN, timeout=0.5)
else:
    standard_rate(device)
    port = serial.Serial(device, rate, parity=serial.PARITY_EVEN, timeout=0.5)
starts, failures, first = [], 0, None
for i in range(WARM_UP + polls + 1):
    if i == WARM_UP:
        first = mark(receiver)
    if i >= WARM_UP:
        starts.append(time.monotonic())
    port.write(frame)
    reply = port.read(REPLY)
    if len(reply) != REPLY or reply[:len(frame)] != frame:
        failures += 1
    time.sleep(interval)
last = mark(receiver)
port.close()
print(json.dumps({"starts": starts, "wall": last[0] - first[0], "cpu": last[1] - first[1],
                  "receiver_cpu": last[2] - first[2], "switches": last[3] - first[3],
                  "failures": failures}))
