#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""zub3ctl serve against zub3sim, with real peers: WebSocket clients, raw HTTP, headless
Chromium driven through its DevTools port, and a mosquitto broker.

Usage: test_serve.py ZUB3CTL ZUB3SIM [Class.test_case ...]"""

import json
import os
import random
import shutil
import signal
import socket
import time
import unittest

import websocket

from support.serve_harness import (HOME, RECORD_KEYS, Broker, Browser, Serve, Sim, _try,
                                   free_port, mqtt_read, run, until)


class ServeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Sim()
        cls.serve = Serve(cls.sim, "--allow-host", "Robot.example",
                          "--allow-origin", "https://console.example")

    @classmethod
    def tearDownClass(cls):
        code, err = cls.serve.stop()
        cls.sim.stop()
        assert code == 0, (code, err)

    def assertPolling(self):
        """The server still polls: a record newer than the one seen now comes."""
        seq = self.serve.get("/api/state")[1]["seq"]
        until("polling to go on", lambda: self.serve.get("/api/state")[1]["seq"] > seq + 5)

    def test_stream_is_every_record_in_order(self):
        ws = self.serve.ws()
        records = [json.loads(ws.recv()) for _ in range(200)]
        ws.close()
        self.assertEqual(list(records[0].keys()), RECORD_KEYS)
        seqs = [r["seq"] for r in records]
        self.assertEqual(seqs, list(range(seqs[0], seqs[0] + 200)))
        self.assertTrue(all(a["t_ms"] < b["t_ms"] for a, b in zip(records, records[1:])))
        self.assertEqual(self.serve.get("/api/receiver"), (200, {"id": 0, "speed": 115200}))

    def test_changes_only_sends_differences_and_one_a_second(self):
        ws = self.serve.ws("/ws?changes=1")
        ws.recv()
        self.sim.say("press triangle")
        held = until("the press", lambda: json.loads(ws.recv())["held"])
        self.assertEqual(held, ["triangle"])
        start, count = time.monotonic(), 0
        while time.monotonic() - start < 3.5:
            ws.recv()
            count += 1
        self.sim.say("release all")
        ws.close()
        self.assertIn(count, (3, 4))

    def test_a_client_that_never_reads_holds_up_nothing_and_is_closed(self):
        stuck = socket.socket()
        stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stuck.connect(("127.0.0.1", self.serve.http))
        stuck.sendall(f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{self.serve.http}\r\nUpgrade: websocket\r\n"
                      "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n".encode())
        reader = self.serve.ws()
        first = json.loads(reader.recv())["seq"]
        start = last = time.monotonic()
        seqs, longest = [], 0
        while last - start < 20:
            seqs.append(json.loads(reader.recv())["seq"])
            now = time.monotonic()
            longest, last = max(longest, now - last), now
        reader.close()
        # Every poll, none held back while the stuck client's queue filled and it was closed.
        self.assertEqual(seqs, list(range(first + 1, first + 1 + len(seqs))))
        self.assertLess(longest, 0.5)
        # What was queued for it, then its end: bounded, not a stream that goes on.
        stuck.settimeout(5)
        queued = 0
        with self.assertRaises((ConnectionResetError, EOFError)):
            while queued < 1_000_000:
                data = stuck.recv(65536)
                if not data:
                    raise EOFError
                queued += len(data)
        stuck.close()

    def test_request_rules(self):
        host = f"127.0.0.1:{self.serve.http}"
        ws = (f"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")
        cases = [
            (f"GET /api/state HTTP/1.1\r\nHost: {host}\r\n\r\n", 200),
            ("GET /api/state HTTP/1.1\r\nHost: localhost\r\n\r\n", 200),
            ("GET /api/state HTTP/1.1\r\nHost: robot.example:80\r\n\r\n", 200),
            ("GET /api/state HTTP/1.1\r\nHost: evil.example\r\n\r\n", 421),
            ("GET /api/state HTTP/1.1\r\nHost: 10.0.0.1\r\n\r\n", 421),
            ("GET /api/state HTTP/1.0\r\n\r\n", 400),
            (f"GET /api/state HTTP/1.1\r\nHost: {host}\r\nHost: evil.example\r\n\r\n", 400),
            (f"GET /index.html HTTP/1.1\r\nHost: {host}\r\n\r\n", 404),
            (f"GET /../../etc/passwd HTTP/1.1\r\nHost: {host}\r\n\r\n", 404),
            (f"DELETE /api/state HTTP/1.1\r\nHost: {host}\r\n\r\n", 405),
            (f"GET /api/state HTTP/1.1\r\nHost: {host}\r\nX: {'a' * 9000}\r\n\r\n", 431),
            (f"POST /api/receiver HTTP/1.1\r\nHost: {host}\r\nContent-Length: 4097\r\n\r\n", 413),
            (f"POST /api/receiver HTTP/1.1\r\nHost: {host}\r\nTransfer-Encoding: chunked\r\n\r\n", 411),
            (f"GET /ws HTTP/1.1\r\nHost: {host}\r\n\r\n", 426),
            (f"GET /ws HTTP/1.1\r\nHost: {host}\r\nOrigin: http://evil.example\r\n{ws}\r\n", 403),
            (f"GET /ws HTTP/1.1\r\nHost: {host}\r\nOrigin: http://{host}\r\n{ws}\r\n", 101),
            (f"GET /ws HTTP/1.1\r\nHost: {host}\r\nOrigin: https://console.example\r\n{ws}\r\n", 101),
            (f"GET /api/state HTTP/1.1\r\nHost: {host}\r\n\r\nGET / HTTP/1.1\r\n\r\n", 400),
        ]
        for request, status in cases:
            with self.subTest(request=request[:60]):
                self.assertEqual(self.serve.raw(request.encode()), status)
        self.assertPolling()

    def test_a_request_that_never_ends_is_timed_out(self):
        with socket.create_connection(("127.0.0.1", self.serve.http), timeout=15) as s:
            s.sendall(b"GET /api/state HTTP/1.1\r\nHost: localhost\r\n")
            self.assertTrue(s.recv(100).startswith(b"HTTP/1.1 408 "))

    def test_malformed_requests_leave_the_polling_going(self):
        rng = random.Random(31)
        pieces = [b"GET", b"POST", b" ", b"/", b"/ws", b"/api/receiver", b"HTTP/1.1", b"HTTP/9",
                  b"\r\n", b"\n", b"\r", b":", b"Host", b"Content-Length: -1", b"\x00", b"\xff",
                  b"Upgrade: websocket", b"%00", b"?changes=1&changes=0", b"\t"]
        for _ in range(300):
            junk = b"".join(rng.choice(pieces) for _ in range(rng.randint(1, 30))) + b"\r\n\r\n"
            status = self.serve.raw(junk, timeout=12)
            self.assertTrue(status is None or 400 <= status < 500, (junk, status))
        self.assertPolling()

    def test_writes_without_a_token_file_are_off(self):
        status, body = self.serve.get("/api/receiver", "POST", b'{"id": 1, "speed": 115200}')
        self.assertEqual(status, 403)
        self.assertIn("--token-file", body["error"])


class WriteTest(unittest.TestCase):
    def test_token_rules_and_a_write_between_polls(self):
        token = f"{HOME}/token"
        with open(token, "w") as f:
            f.write("s3cret\n")
        os.chmod(token, 0o644)
        sim = Sim()
        refused = Serve(sim, "--token-file", token, wait=False)
        self.assertEqual(refused.p.wait(10), 2)
        self.assertIn("chmod 600", refused.p.stderr.read())
        os.chmod(token, 0o600)
        serve = Serve(sim, "--token-file", token)
        auth = {"Authorization": "Bearer s3cret"}
        cases = [
            ({}, b'{"id": 7, "speed": 625000}', 401, "token"),
            ({"Authorization": "Bearer wrong"}, b'{"id": 7, "speed": 625000}', 401, "token"),
            (auth, b'{"id": 32, "speed": 625000}', 400, "0 to 31"),
            (auth, b'{"id": 7, "speed": 9600}', 400, "115200, 625000 or 1250000"),
            (auth, b'{"id": 7}', 400, "JSON object"),
            (auth, b"not json", 400, "JSON object"),
        ]
        for headers, body, status, why in cases:
            with self.subTest(body=body, headers=headers):
                got, answer = serve.get("/api/receiver", "POST", body, headers)
                self.assertEqual(got, status)
                self.assertIn(why, answer["error"])
        ws = serve.ws()
        seq = json.loads(ws.recv())["seq"]
        self.assertEqual(serve.get("/api/receiver", "POST", b'{"id": 7, "speed": 625000}', auth),
                         (200, {"id": 7, "speed": 625000}))
        self.assertEqual(serve.get("/api/receiver"), (200, {"id": 7, "speed": 625000}))
        # Polling went on at the new ID and speed, without a gap in the numbers.
        later = [json.loads(ws.recv())["seq"] for _ in range(50)]
        ws.close()
        self.assertEqual(later[-1] - later[0], 49)
        self.assertGreater(later[0], seq)
        self.assertEqual(serve.stop()[0], 0)
        sim.stop()


class WaitTest(unittest.TestCase):
    def test_records_resume_when_the_receiver_comes_back_under_its_name(self):
        first = Sim("--port", "72")
        serve = Serve(first)
        ws = serve.ws()
        ws.settimeout(15)
        before = json.loads(ws.recv())["seq"]
        first.stop()
        second = Sim("--port", "72")
        second.say("press S2")
        try:
            back = next(r for r in (json.loads(ws.recv()) for _ in range(3000))
                        if "S2" in r["held"])
            self.assertGreater(back["seq"], before)
            ws.close()
            code, err = serve.stop()
            self.assertEqual(code, 0, err)
            self.assertIn("Waiting for COM72 to come back", err)
            self.assertIn("COM72 is back after", err)
        finally:
            if serve.p.poll() is None:
                serve.stop()
            second.stop()


class ClientLimitTest(unittest.TestCase):
    def test_max_clients(self):
        sim = Sim()
        serve = Serve(sim, "--max-clients", "2")
        a, b = serve.ws(), serve.ws()
        with self.assertRaises(websocket.WebSocketBadStatusException) as refused:
            serve.ws()
        self.assertEqual(refused.exception.status_code, 503)
        a.close()
        c = until("a place to come free", lambda: _try(serve.ws))
        self.assertIn("seq", json.loads(c.recv()))
        b.close()
        c.close()
        self.assertEqual(serve.stop()[0], 0)
        sim.stop()


@unittest.skipUnless(shutil.which("mosquitto"), "mosquitto is not installed")
class MqttTest(unittest.TestCase):
    def test_records_online_flag_last_will_and_a_broker_restart(self):
        port = free_port()
        broker = Broker(port)
        sim = Sim()
        serve = Serve(sim, "--mqtt", f"127.0.0.1:{port}", "--mqtt-topic", "fleet/arm")
        try:
            records = [json.loads(line) for line in mqtt_read(port, "fleet/arm/state", 20)]
            self.assertEqual(len(records), 20)
            self.assertEqual(list(records[0].keys()), RECORD_KEYS)
            # Retained: a subscriber that comes later still reads it.
            self.assertEqual(mqtt_read(port, "fleet/arm/online", 1), ["online"])

            broker.stop()
            seq = serve.get("/api/state")[1]["seq"]
            time.sleep(1.5)
            self.assertGreater(serve.get("/api/state")[1]["seq"], seq + 50)
            broker = Broker(port)
            self.assertEqual(len(mqtt_read(port, "fleet/arm/state", 5, timeout=20)), 5)

            serve.stop(signal.SIGKILL)
            self.assertEqual(mqtt_read(port, "fleet/arm/online", 1), ["offline"])
            serve = Serve(sim, "--mqtt", f"127.0.0.1:{port}", "--mqtt-topic", "fleet/arm")
            until("online again", lambda: mqtt_read(port, "fleet/arm/online", 1) == ["online"])
            self.assertEqual(serve.stop()[0], 0)
            self.assertEqual(mqtt_read(port, "fleet/arm/online", 1), ["offline"])
        finally:
            if serve.p.poll() is None:
                serve.stop()
            sim.stop()
            broker.stop()


@unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
class BrowserTest(unittest.TestCase):
    def test_the_page_follows_the_controller_and_comes_back_after_a_restart(self):
        sim = Sim()
        serve = Serve(sim)
        browser = Browser(serve.url("/"), "en-US", "360,740")
        try:
            until("records on the page", lambda: browser.eval("(window.zub3 && window.zub3.seq) || 0") > 0)
            self.assertEqual(browser.eval("document.querySelector('[data-text=speed]').textContent"),
                             "Line speed")
            # A phone's width shows the whole controller without scrolling sideways.
            self.assertTrue(browser.eval("document.documentElement.scrollWidth <= innerWidth"))
            sim.say("press circle up")
            until("the press", lambda: browser.eval(
                "['btnRR','btnLU','btnLRU'].map(i => document.getElementById(i).classList.contains('lit'))")
                == [True, True, False])
            sim.say("press right")
            until("the diagonal", lambda: browser.eval(
                "document.getElementById('btnLRU').classList.contains('lit')"))
            sim.say("release all")
            sim.say("channel 1 127")
            sim.say("channel 3 64")
            until("the sticks", lambda: browser.eval(
                "['cpbPA1','cpbPA3'].map(i => document.getElementById(i).dataset.value)") == ["127", "64"])
            until("every indicator off", lambda: browser.eval("document.querySelectorAll('.lit').length") == 0)

            serve.stop()
            until("the page to notice", lambda: browser.eval("window.zub3.link") == "reconnecting")
            serve = Serve(sim, listen_port=serve.http)
            sim.say("press S4")
            until("records after the restart", lambda: browser.eval(
                "document.getElementById('btnS4').classList.contains('lit')"), timeout=15)
            self.assertEqual(serve.stop()[0], 0)
        finally:
            browser.stop()
            if serve.p.poll() is None:
                serve.stop()
            sim.stop()


if __name__ == "__main__":
    run()
