#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""zub3ctl serve and its readers when things go wrong: a receiver that falls silent or
goes away, a broker that cannot be reached, refuses or goes away; and what a dashboard
reads from a broker: the rate, the flags, Home Assistant's discovery.

Usage: test_serve_mqtt.py ZUB3CTL ZUB3SIM [Class.test_case ...]"""

import getpass
import json
import os
import shutil
import subprocess
import threading
import time
import unittest

from support.serve_harness import (HOME, RECORD_KEYS, Broker, Browser, Serve, Sim, free_port,
                                   mqtt_read, run, until)


class Log:
    """The server's standard error, read as it comes."""

    def __init__(self, serve):
        self.lines = []
        self.serve = serve
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for line in self.serve.p.stderr:
            self.lines.append(line.rstrip("\n"))

    def wait(self, text, timeout=15):
        return until(f"the log line {text!r}",
                     lambda: next((l for l in self.lines if text in l), None), timeout)

    def stop(self):
        self.serve.p.terminate()
        self.serve.p.wait(10)
        self.thread.join(5)
        self.serve.p.stderr.close()
        return self.serve.p.returncode


def serve_logged(sim, *options, wait=True):
    serve = Serve(sim, *options, wait=wait)
    return serve, Log(serve)


def retained(port, topic, timeout=2):
    """What a subscriber that comes now reads first: the retained messages, by topic."""
    out = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t", topic, "-v",
                          "--retained-only", "-W", str(timeout)],
                         capture_output=True, text=True, timeout=timeout + 5)
    return dict(line.split(" ", 1) for line in out.stdout.splitlines() if " " in line)


class SecureBroker(Broker):
    """mosquitto with a password file, and a TLS listener with a certificate of its own CA."""

    def __init__(self, port, tls_port):
        d = f"{HOME}/broker-{port}"
        os.makedirs(d)
        run_ = lambda *a: subprocess.run(a, check=True, capture_output=True)
        for name in ("ca", "other-ca"):
            run_("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                 "-subj", f"/CN={name}", "-keyout", f"{d}/{name}.key", "-out", f"{d}/{name}.crt")
        run_("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
             "-keyout", f"{d}/server.key", "-out", f"{d}/server.csr")
        with open(f"{d}/ext", "w") as f:
            f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
        run_("openssl", "x509", "-req", "-in", f"{d}/server.csr", "-CA", f"{d}/ca.crt",
             "-CAkey", f"{d}/ca.key", "-CAcreateserial", "-days", "2", "-extfile", f"{d}/ext",
             "-out", f"{d}/server.crt")
        run_("mosquitto_passwd", "-c", "-b", f"{d}/passwords", "robot", "right")
        os.chmod(f"{d}/server.key", 0o644)
        self.dir = d
        self.port = port
        conf = f"{d}/mosquitto.conf"
        with open(conf, "w") as f:
            f.write(f"per_listener_settings true\n"
                    f"listener {port} 127.0.0.1\nallow_anonymous false\npassword_file {d}/passwords\n"
                    f"listener {tls_port} 127.0.0.1\nallow_anonymous true\ncafile {d}/ca.crt\n"
                    f"certfile {d}/server.crt\nkeyfile {d}/server.key\npersistence false\n"
                    # Started as root, mosquitto would become a user that cannot read these.
                    f"user {getpass.getuser()}\n")
        self.p = subprocess.Popen(["mosquitto", "-c", conf], stderr=subprocess.DEVNULL)
        from support.serve_harness import _connects
        until("the broker", lambda: _connects(port) and _connects(tls_port))


def secret(name, text):
    path = f"{HOME}/{name}"
    with open(path, "w") as f:
        f.write(text + "\n")
    os.chmod(path, 0o600)
    return path


@unittest.skipUnless(shutil.which("mosquitto"), "mosquitto is not installed")
class BrokerFailureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.port, cls.tls_port = free_port(), free_port()
        cls.broker = SecureBroker(cls.port, cls.tls_port)
        cls.sim = Sim()

    @classmethod
    def tearDownClass(cls):
        cls.broker.stop()
        cls.sim.stop()

    def test_each_failure_is_said_once_with_its_reason(self):
        d = self.broker.dir
        wrong, right = secret("wrong-password", "wrong"), secret("right-password", "right")
        user = ["--mqtt-user", "robot", "--mqtt-password-file"]
        rows = [  # name, options, what the log says; None: it connects
            ("closed port", ["--mqtt", f"mqtt://127.0.0.1:{free_port()}"], "Connection refused"),
            ("unknown host", ["--mqtt", "mqtt://no-such-broker.invalid"], "cannot find the host"),
            ("refused credentials", ["--mqtt", f"127.0.0.1:{self.port}", *user, wrong], "refused: "),
            ("TLS from a stranger", ["--mqtt", f"mqtts://localhost:{self.tls_port}",
                                     "--mqtt-cafile", f"{d}/other-ca.crt"], "TLS: "),
            ("right credentials", ["--mqtt", f"mqtt://127.0.0.1:{self.port}/", *user, right], None),
            ("TLS with its authority", ["--mqtt", f"mqtts://localhost:{self.tls_port}",
                                        "--mqtt-cafile", f"{d}/ca.crt"], None),
        ]
        for name, options, reason in rows:
            with self.subTest(name):
                serve, log = serve_logged(self.sim, *options, "--log-level", "info")
                try:
                    if reason is None:
                        log.wait("MQTT: connected to")
                    else:
                        self.assertIn("MQTT: cannot connect to", log.wait(reason))
                        # One line per failure, not one per try.
                        until("a third try",
                              lambda: sum("MQTT: trying" in l for l in log.lines) >= 3)
                finally:
                    self.assertEqual(log.stop(), 0)
                self.assertEqual(sum("cannot connect" in l for l in log.lines),
                                 0 if reason is None else 1, log.lines)


@unittest.skipUnless(shutil.which("mosquitto"), "mosquitto is not installed")
class BrokerAwayTest(unittest.TestCase):
    def test_records_not_sent_while_the_broker_is_away_are_counted(self):
        port = free_port()
        broker = Broker(port)
        sim = Sim()
        serve, log = serve_logged(sim, "--mqtt", f"mqtt://127.0.0.1:{port}", "--mqtt-interval",
                                  "50ms", "--log-level", "info")
        try:
            log.wait("MQTT: connected to 127.0.0.1")
            broker.stop()
            log.wait("MQTT: lost the broker at 127.0.0.1")
            seq = serve.get("/api/state")[1]["seq"]
            until("a second of polls", lambda: serve.get("/api/state")[1]["seq"] > seq + 50)
            broker = Broker(port)
            back = log.wait("again after")
            missed = int(back.split("; ")[1].split()[0])
            self.assertGreaterEqual(missed, 10, back)
        finally:
            self.assertEqual(log.stop(), 0)
            sim.stop()
            broker.stop()
        self.assertTrue(any("MQTT: trying 127.0.0.1" in l for l in log.lines), log.lines)
        summary = next((l for l in log.lines if "MQTT: " in l and "records published" in l), "")
        self.assertRegex(summary, r"MQTT: \d+ records published, \d+ not sent")
        self.assertGreaterEqual(int(summary.split(", ")[1].split()[0]), missed)


class AddressTest(unittest.TestCase):
    def test_broker_addresses_that_are_refused_say_why(self):
        from support.serve_harness import ENV, ZUB3CTL
        rows = [
            (["--mqtt", "ws://broker"], "is not an MQTT address"),
            (["--mqtt", "mqtt://broker/robots"], "more than a host and a port"),
            (["--mqtt", "mqtt://user@broker"], "more than a host and a port"),
            (["--mqtt", "mqtt://"], "names no host"),
            (["--mqtt", "broker:1883:2"], "is not a broker's address"),
            (["--mqtt", "mqtts://broker:0"], "--mqtt"),
            (["--mqtt", "mqtt://broker", "--mqtt-cafile", "/dev/null"], "mqtts://"),
            (["--mqtt", "broker", "--ha-discovery=a/#"], "--ha-discovery"),
            (["--ha-discovery"], "need --mqtt"),
        ]
        for options, reason in rows:
            with self.subTest(" ".join(options)):
                r = subprocess.run([ZUB3CTL, "serve", "--port", "COM99", *options], env=ENV,
                                   capture_output=True, text=True, timeout=10)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
                self.assertIn(reason, r.stderr)


@unittest.skipUnless(shutil.which("mosquitto"), "mosquitto is not installed")
class LinkTest(unittest.TestCase):
    """A receiver that stops answering and a port that goes away are told to every reader."""

    def setUp(self):
        # Cleanups, not tearDown: a start that fails half-way leaves nothing running.
        self.broker_port = free_port()
        self.broker = Broker(self.broker_port)
        self.addCleanup(lambda: self.broker.stop())
        self.sim = Sim("--port", "74")
        self.addCleanup(lambda: self.sim.stop())
        self.serve, self.log = serve_logged(self.sim, "--mqtt", f"127.0.0.1:{self.broker_port}",
                                            "--mqtt-topic", "arm", wait=False)
        self.addCleanup(lambda: self.assertEqual(self.log.stop(), 0))
        self.wait_online("online")

    def wait_online(self, flag):
        until(flag, lambda: retained(self.broker_port, "arm/online").get("arm/online") == flag)

    def link_message(self, ws, link):
        return until(f"a message with link {link}",
                     lambda: (lambda r: r if r["link"] == link else None)(json.loads(ws.recv())))

    def assert_told(self, ws, link):
        message = self.link_message(ws, link)
        status, state = self.serve.get("/api/state")
        self.assertEqual((status, state["link"]), (200, link))
        # The last record again: nothing new was polled, and it grows older.
        self.assertEqual(state["seq"], message["seq"])
        until("the record to age", lambda: self.serve.get("/api/state")[1]["age_ms"] >=
              state["age_ms"] + 250)
        self.assertEqual(self.serve.get("/api/receiver")[0], 503)
        self.assertEqual(self.serve.get("/api/receiver")[1]["link"], link)
        self.wait_online("offline")
        until("the retained state", lambda: json.loads(
            retained(self.broker_port, "arm/state")["arm/state"])["link"] == link)
        self.log.wait(f"COM74: link {link}")

    def assert_ok_again(self, ws):
        message = self.link_message(ws, "ok")
        self.assertLess(message["age_ms"], 200)
        self.assertEqual(self.serve.get("/api/receiver")[0], 200)
        self.wait_online("online")
        self.log.wait("COM74: link ok")

    def test_a_silent_receiver_is_no_reply(self):
        ws = self.serve.ws("/ws?changes=1")
        first = json.loads(ws.recv())
        self.assertEqual(list(first.keys()), RECORD_KEYS)
        self.assertEqual(first["link"], "ok")
        self.sim.say("fault no-reply")
        self.assert_told(ws, "no-reply")
        self.sim.say("fault off")
        self.assert_ok_again(ws)

    def test_a_port_that_goes_away_is_away(self):
        ws = self.serve.ws()
        ws.settimeout(15)
        self.sim.stop()
        self.assert_told(ws, "away")
        self.sim = Sim("--port", "74")
        self.assert_ok_again(ws)


@unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
class PageLinkTest(unittest.TestCase):
    def test_the_page_says_a_silent_receiver_and_a_lost_port(self):
        sim = Sim("--port", "75")
        serve = Serve(sim)
        browser = Browser(serve.url("/"), "en-US", "800,600")
        shown = lambda: browser.eval("document.getElementById('link').textContent")
        try:
            until("records on the page", lambda: shown() == "Receiving", timeout=15)
            sim.say("fault no-reply")
            until("the silence", lambda: shown() == "The receiver does not answer")
            sim.say("fault off")
            until("records again", lambda: shown() == "Receiving")
            sim.stop()
            until("the lost port", lambda: shown() == "The receiver's port is away")
            # It stays said: no record comes to replace it.
            time.sleep(2)
            self.assertEqual(shown(), "The receiver's port is away")
        finally:
            browser.stop()
            serve.stop()
            if sim.p.poll() is None:
                sim.stop()


@unittest.skipUnless(shutil.which("mosquitto"), "mosquitto is not installed")
class DashboardTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.port = free_port()
        cls.broker = Broker(cls.port)
        cls.sim = Sim()

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()
        cls.broker.stop()

    def serve(self, *options):
        return serve_logged(self.sim, "--mqtt", f"127.0.0.1:{self.port}", *options)

    def timed_states(self, topic, count):
        start = time.monotonic()
        states = [json.loads(l) for l in mqtt_read(self.port, topic, count, timeout=20)]
        return states, time.monotonic() - start

    def test_the_broker_gets_the_latest_record_at_its_interval(self):
        serve, log = self.serve("--mqtt-topic", "rate", "--mqtt-interval", "250ms")
        try:
            states, took = self.timed_states("rate/state", 9)
        finally:
            self.assertEqual(log.stop(), 0)
        # The first is the retained one; eight intervals follow.
        self.assertGreater(took, 8 * 0.25 * 0.8)
        self.assertLess(took, 8 * 0.25 * 2.5)
        seqs = [s["seq"] for s in states]
        self.assertEqual(seqs, sorted(set(seqs)))
        # The latest record each time, never one that waited: about 25 polls apart.
        self.assertGreater(min(b - a for a, b in zip(seqs[1:], seqs[2:])), 5)
        self.assertTrue(all(s["age_ms"] < 250 for s in states[1:]), states)

    def test_changes_go_at_once_and_a_heartbeat_each_second(self):
        serve, log = self.serve("--mqtt-topic", "still", "--changes")
        try:
            states, took = self.timed_states("still/state", 4)
            self.assertGreater(took, 2.5)
            self.sim.say("press cross")
            start = time.monotonic()
            pressed = until("the press", lambda: [json.loads(l) for l in mqtt_read(
                self.port, "still/state", 2) if "cross" in json.loads(l)["held"]])
            self.assertLess(time.monotonic() - start, 1.5)
            self.assertEqual(pressed[0]["held"], ["cross"])
        finally:
            self.sim.say("release all")
            self.assertEqual(log.stop(), 0)

    def test_discovery_is_retained_and_removed_when_turned_off(self):
        serve, log = self.serve("--mqtt-topic", "fleet/arm", "--ha-discovery")
        configs = until("25 configs", lambda: (lambda c: c if len(c) == 25 else None)(
            retained(self.port, "homeassistant/#")))
        self.assertEqual(log.stop(), 0)
        # What each holds is the unit test's; here, that a subscriber reads them whole.
        for topic, payload in configs.items():
            self.assertEqual(json.loads(payload)["state_topic"], "fleet/arm/state", topic)

        # Another prefix: the first one's configs go, the new ones come.
        serve, log = self.serve("--mqtt-topic", "fleet/arm", "--ha-discovery=ha2")
        until("the old configs removed", lambda: not retained(self.port, "homeassistant/#"))
        until("the new configs", lambda: len(retained(self.port, "ha2/#")) == 25)
        self.assertEqual(log.stop(), 0)
        self.assertTrue(any("removed the Home Assistant discovery configs under homeassistant/" in l
                            for l in log.lines), log.lines)

        # Without discovery: they go, and so does the note of them.
        serve, log = self.serve("--mqtt-topic", "fleet/arm")
        until("the configs removed", lambda: not retained(self.port, "ha2/#"))
        self.assertEqual(log.stop(), 0)
        self.assertNotIn("fleet/arm/discovery", retained(self.port, "fleet/arm/#"))


if __name__ == "__main__":
    run()
