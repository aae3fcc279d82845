#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The layers hold: nothing in core/, serial/ or platform/ reaches Qt Gui or Widgets, by any
include chain or by linking, and no program carries the tests' fake serial device.

Usage: test_Layers.py SOURCE_DIR compile_commands.json PROGRAM..."""

import json
import os
import re
import shlex
import subprocess
import sys

LOWER_LAYERS = ("core", "serial", "platform")
GUI = re.compile(r"/Qt(Gui|Widgets|OpenGL|Charts)/|libQt6(Gui|Widgets|OpenGL|Charts)")
FAKE = re.compile(r"FakeComm|OpenFakeDevice|FakeLine")


def included_files(entry):
    """Every header one translation unit pulls in, as the compiler sees them."""
    args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
    out = []
    skip = False
    for a in args:
        if skip:
            skip = False
            continue
        if a == "-o":
            skip = True
            continue
        if a in ("-c", "-MD"):
            continue
        if a in ("-MT", "-MF"):
            skip = True
            continue
        out.append(a)
    # With only Qt Core's include path, a Gui or Widgets header is not even found.
    run = subprocess.run(out + ["-M"], cwd=entry["directory"], capture_output=True, text=True)
    if run.returncode != 0:
        errors = [l for l in run.stderr.splitlines() if "error" in l]
        return None, (errors or [run.stderr.strip()])[0]
    return run.stdout, None


def main():
    source, commands, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    faults = []
    with open(commands) as f:
        entries = json.load(f)
    checked = 0
    for e in entries:
        rel = os.path.relpath(e["file"], source)
        if rel.split(os.sep)[0] not in LOWER_LAYERS:
            continue
        checked += 1
        deps, error = included_files(e)
        if error:
            faults.append(f"{rel}: {error}")
            continue
        for dep in deps.split():
            if GUI.search(dep):
                faults.append(f"{rel} includes {dep}")
                break
    if checked == 0:
        faults.append("no source of core/, serial/ or platform/ in " + commands)

    for program in programs:
        name = os.path.basename(program)
        libs = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
        if name != "ZUB3Manager":
            for line in libs.splitlines():
                if GUI.search(line):
                    faults.append(f"{name} links {line.split()[0]}")
        symbols = subprocess.run(["nm", "-C", program], capture_output=True, text=True).stdout
        text = subprocess.run(["strings", program], capture_output=True, text=True).stdout
        if FAKE.search(symbols) or FAKE.search(text):
            faults.append(f"{name} carries the fake serial device")

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
