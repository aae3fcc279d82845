#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The layers hold as docs/ARCHITECTURE.md draws them: the drawing shows every folder the
table limits; every project include of a folder
points only at the folders (or headers) its row of the layer table names; the folders
limited to Qt Core reach no Qt Gui, Widgets or Charts header by any include chain, and the
programs of those that are not the window link none of those libraries; no program carries
the tests' fake serial device; the system's own calls stay in platform/'s per-system files
(name_unix.cpp, name_win.cpp), and nothing above platform/ asks which system it is on.

The table is read from the document, so that the two cannot drift apart.

Usage: test_Layers.py SOURCE_DIR compile_commands.json PROGRAM..."""

import json
import os
import re
import shlex
import subprocess
import sys

GUI = re.compile(r"/Qt(Gui|Widgets|OpenGL|Charts)/|libQt6(Gui|Widgets|OpenGL|Charts)")
FAKE = re.compile(r"FakeComm|OpenFakeDevice|FakeLine")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)
TICKED = re.compile(r"`([^`]+)`")
SOURCE_SUFFIXES = (".cpp", ".h")
WIN32_HEADER = re.compile(r'^\s*#\s*include\s*<(windows|winsock2|setupapi|devguid|io)\.h>', re.M | re.I)
SYSTEM_TEST = re.compile(r'^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|__linux__|__unix__)\b', re.M)


class Layer:
    def __init__(self, folder, may_use):
        self.folder = folder
        # "anything": the tests and the developer programs may include every folder.
        self.unrestricted = may_use.startswith("anything")
        named = TICKED.findall(may_use)
        self.folders = {folder} | {t.rstrip("/") for t in named if t.endswith("/")}
        self.headers = {t for t in named if "/" in t and t.endswith(".h")}
        self.qt_core_only = "Qt Core" in may_use

    def allows(self, header):
        return (self.unrestricted or header.split("/")[0] in self.folders
                or header in self.headers)


def layer_table(document):
    """folder -> Layer, from the table under "## Layers" whose columns are folder, holds,
    may use."""
    layers = {}
    in_section = in_table = False
    for line in document.splitlines():
        if line.startswith("## "):
            in_section = line.strip() == "## Layers"
            in_table = False
            continue
        if not in_section:
            continue
        if not line.startswith("|"):
            in_table = False
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if [c.lower() for c in cells] == ["folder", "holds", "may use"]:
            in_table = True
            continue
        if not in_table or set(cells[0]) <= set("-: "):
            continue
        folder = TICKED.findall(cells[0])
        if len(cells) == 3 and folder:
            name = folder[0].rstrip("/")
            layers[name] = Layer(name, cells[2])
    return layers


def drawing_faults(document, layers):
    """The drawing above the table names every folder the table limits (the tests, the
    benchmark and the tools may use anything and are left out), and no folder without a
    row."""
    section = document.split("\n## Layers", 1)[-1].split("\n## ", 1)[0]
    blocks = section.split("```")
    drawn = set(re.findall(r"\b([a-z]+)/", blocks[1])) if len(blocks) > 2 else set()
    limited = {name for name, layer in layers.items() if not layer.unrestricted}
    return ([f"the drawing under \"## Layers\" leaves out {name}/" for name in sorted(limited - drawn)]
            + [f"the drawing under \"## Layers\" shows {name}/, which has no row"
               for name in sorted(drawn - set(layers))])


def project_sources(source):
    """Relative paths of the C++ sources of the tree, the build directories left out."""
    for root, dirs, files in os.walk(source):
        rel_root = os.path.relpath(root, source)
        if rel_root == ".":
            dirs[:] = [d for d in dirs if not d.startswith((".", "build"))]
            continue
        for f in files:
            if f.endswith(SOURCE_SUFFIXES):
                yield os.path.join(rel_root, f)


def project_header(source, including, name, folders):
    """The header an include names, relative to the source root, or None for a system or
    generated header."""
    if name.split("/")[0] in folders and os.path.exists(os.path.join(source, name)):
        return name
    beside = os.path.normpath(os.path.join(os.path.dirname(including), name))
    if os.path.exists(os.path.join(source, beside)):
        return beside
    return None


def include_faults(source, layers):
    faults = []
    for rel in sorted(project_sources(source)):
        folder = rel.split(os.sep)[0]
        layer = layers.get(folder)
        if layer is None:
            faults.append(f"{folder}/ holds {rel} but has no row in the layer table")
            continue
        with open(os.path.join(source, rel), errors="replace") as f:
            text = f.read()
        for name in INCLUDE.findall(text):
            header = project_header(source, rel, name, layers)
            if header and not layer.allows(header):
                faults.append(f"{rel} includes {header}, which {folder}/ may not use")
    return faults


def system_faults(source):
    """Win32 headers only in platform/'s _win files, per-system files only in platform/, and
    no test for the system outside platform/ (the tests' Windows cases aside)."""
    faults = []
    for rel in sorted(project_sources(source)):
        folder = rel.split(os.sep)[0]
        base = os.path.splitext(os.path.basename(rel))[0]
        with open(os.path.join(source, rel), errors="replace") as f:
            text = f.read()
        if base.endswith(("_win", "_unix")) and folder not in ("platform", "tests"):
            faults.append(f"{rel} is a per-system file outside platform/")
        if WIN32_HEADER.search(text) and not (base.endswith("_win") or folder == "tests"):
            faults.append(f"{rel} includes a Windows header but is no _win file")
        if SYSTEM_TEST.search(text) and folder not in ("platform", "tests"):
            faults.append(f"{rel} asks which system it is on; that belongs in platform/")
    return faults


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


def gui_faults(source, commands, layers):
    core_only = {name for name, layer in layers.items() if layer.qt_core_only}
    faults = []
    with open(commands) as f:
        entries = json.load(f)
    checked = 0
    for e in entries:
        rel = os.path.relpath(e["file"], source)
        if rel.split(os.sep)[0] not in core_only:
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
        faults.append(f"no source of {', '.join(sorted(core_only))} in {commands}")
    return faults


def program_faults(programs):
    faults = []
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
    return faults


def main():
    source, commands, programs = sys.argv[1], sys.argv[2], sys.argv[3:]
    document = os.path.join(source, "docs", "ARCHITECTURE.md")
    with open(document) as f:
        text = f.read()
    layers = layer_table(text)
    if not layers:
        faults = [f"no layer table (folder | holds | may use) under \"## Layers\" in {document}"]
    else:
        faults = (drawing_faults(text, layers) + include_faults(source, layers) + system_faults(source)
                  + gui_faults(source, commands, layers) + program_faults(programs))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
