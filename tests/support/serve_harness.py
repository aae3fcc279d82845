#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What the tests of zub3ctl serve share: the programs under test, a private home, a
virtual receiver, the server, a mosquitto broker and headless Chromium.

A test file imports it and ends with run(); it is started as
FILE.py ZUB3CTL ZUB3SIM [Class.test_case ...]."""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

import websocket

ZUB3CTL, ZUB3SIM = sys.argv[1], sys.argv[2]
HOME = tempfile.mkdtemp(prefix="zub3-serve-test-")
ENV = dict(os.environ, XDG_CONFIG_HOME=f"{HOME}/config", XDG_RUNTIME_DIR=f"{HOME}/run",
           ZUB3_LOCK_DIR=f"{HOME}/lock", LC_ALL="C.UTF-8")
for d in ("config", "run", "lock"):
    os.makedirs(f"{HOME}/{d}", mode=0o700)
RECORD_KEYS = ["t_ms", "time", "buttons", "held", "pa1", "pa2", "pa3", "pa4", "seq", "failed",
               "link", "age_ms"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def until(what, check, timeout=10.0, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(step)
    raise AssertionError(f"timed out waiting for {what}")


class Sim:
    def __init__(self, *options):
        self.p = subprocess.Popen([ZUB3SIM, *options], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  env=ENV, text=True)
        self.port = self.p.stdout.readline().split()[0]  # "COM51 /dev/pts/3"

    def say(self, line):
        self.p.stdin.write(line + "\n")
        self.p.stdin.flush()

    def stop(self):
        self.p.terminate()
        self.p.wait(10)
        self.p.stdin.close()
        self.p.stdout.close()


class Serve:
    def __init__(self, sim, *options, listen_port=None, wait=True):
        self.http = listen_port or free_port()
        self.p = subprocess.Popen([ZUB3CTL, "serve", "--port", sim.port, "--listen",
                                   f"127.0.0.1:{self.http}", *options],
                                  env=ENV, stderr=subprocess.PIPE, text=True)
        if wait:
            until("the first record", lambda: self.get("/api/state")[0] == 200)

    def url(self, path):
        return f"http://127.0.0.1:{self.http}{path}"

    def get(self, path, method="GET", body=None, headers=None):
        req = urllib.request.Request(self.url(path), data=body, method=method, headers=headers or {})
        try:
            with urllib.request.urlopen(req, timeout=5) as r:
                return r.status, json.loads(r.read() or b"null")
        except urllib.error.HTTPError as e:
            return e.code, json.loads(e.read() or b"null")
        except OSError:
            return None, None

    def ws(self, path="/ws", **kw):
        return websocket.create_connection(f"ws://127.0.0.1:{self.http}{path}", timeout=5, **kw)

    def raw(self, data, timeout=5):
        """Sends bytes as they are; the status the server answers, or None if it closed."""
        with socket.create_connection(("127.0.0.1", self.http), timeout=timeout) as s:
            try:
                s.sendall(data)
                reply = s.recv(200)
            except OSError:
                return None
        return int(reply.split()[1]) if reply.startswith(b"HTTP/1.1 ") else None

    def stop(self, sig=signal.SIGTERM):
        self.p.send_signal(sig)
        self.p.wait(10)
        err = self.p.stderr.read()
        self.p.stderr.close()
        return self.p.returncode, err


def _try(connect):
    try:
        return connect()
    except websocket.WebSocketException:
        return None


class Broker:
    def __init__(self, port):
        self.port = port
        conf = f"{HOME}/mosquitto-{port}.conf"
        with open(conf, "w") as f:
            f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
        self.p = subprocess.Popen(["mosquitto", "-c", conf], stderr=subprocess.DEVNULL)
        until("the broker", lambda: _connects(port))

    def stop(self):
        self.p.terminate()
        self.p.wait(10)


def _connects(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def mqtt_read(port, topic, count, timeout=10):
    out = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t", topic,
                          "-C", str(count), "-W", str(timeout)],
                         capture_output=True, text=True, timeout=timeout + 5)
    return out.stdout.splitlines()


class Browser:
    """Headless Chromium with its DevTools port, one page."""

    def __init__(self, url, lang, size):
        self.profile = tempfile.mkdtemp(dir=HOME)
        self.p = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", f"--user-data-dir={self.profile}", "--remote-debugging-port=0",
             f"--lang={lang}", f"--window-size={size}", url],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=dict(ENV, LANGUAGE=lang))
        port_file = f"{self.profile}/DevToolsActivePort"
        until("Chromium's DevTools port", lambda: _read(port_file).count("\n") >= 1, timeout=30)
        port = int(_read(port_file).split()[0])
        pages = until("the page", lambda: [t for t in _json(f"http://127.0.0.1:{port}/json")
                                           if t["type"] == "page"], timeout=15)
        self.ws = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=10,
                                              suppress_origin=True)
        self.id = 0

    def eval(self, expression):
        self.id += 1
        self.ws.send(json.dumps({"id": self.id, "method": "Runtime.evaluate",
                                 "params": {"expression": expression, "returnByValue": True}}))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.id:
                return reply["result"]["result"].get("value")

    def stop(self):
        self.ws.close()
        self.p.terminate()
        self.p.wait(15)


def _read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def _json(url):
    try:
        with urllib.request.urlopen(url, timeout=2) as r:
            return json.load(r)
    except OSError:
        return []



def run():
    """Runs the cases named after the two programs (all when none are named)."""
    try:
        unittest.main(module="__main__", argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
    finally:
        shutil.rmtree(HOME, ignore_errors=True)
