#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""zub3ctl serve with many WebSocket readers: what each record costs the server per client.

Usage: test_serve_readers.py ZUB3CTL ZUB3SIM [Class.test_case ...]"""

import json
import threading
import unittest

from support.serve_harness import Serve, Sim, run, until

CLIENTS = 20


def write_calls(pid):
    """The server's write system calls so far, all its threads together (sockets, the
    serial line, eventfds and pipes alike)."""
    with open(f"/proc/{pid}/io") as f:
        return int(next(line for line in f if line.startswith("syscw:")).split()[1])


class ReadersTest(unittest.TestCase):
    def test_each_record_costs_one_write_per_client(self):
        sim = Sim("--speed=1250000")
        # All from one address: the limit per address is raised for them.
        serve = Serve(sim, "--interval=10", "--speed=1250000", "--id=0",
                      f"--max-clients-per-address={CLIENTS}")
        clients = []
        seen = [[] for _ in range(CLIENTS)]
        stop = threading.Event()

        def read(ws, into):
            while not stop.is_set():
                into.append(json.loads(ws.recv())["seq"])

        threads = []
        try:
            clients = [serve.ws() for _ in range(CLIENTS)]
            threads = [threading.Thread(target=read, args=(ws, into))
                       for ws, into in zip(clients, seen)]
            for t in threads:
                t.start()
            until("every client's first record", lambda: all(seen))
            first, before = serve.get("/api/state")[1]["seq"], write_calls(serve.p.pid)
            until("300 records", lambda: serve.get("/api/state")[1]["seq"] >= first + 300, timeout=30)
            last, after = serve.get("/api/state")[1]["seq"], write_calls(serve.p.pid)
        finally:
            stop.set()
            for t in threads:
                t.join(10)
            for ws in clients:
                ws.close()
            code, err = serve.stop()
            sim.stop()
        self.assertEqual(code, 0, err)
        records = last - first
        for n, got in enumerate(seen):
            with self.subTest(client=n):
                self.assertGreaterEqual(sum(first < s <= last for s in got), 0.9 * records)
        # The socket write, and nothing besides it that grows with the clients: the event
        # loop waking itself through an eventfd cost two more. The poll's own writes and the
        # two requests for the state are shared by all.
        self.assertLess((after - before) / (records * CLIENTS), 1.5)


if __name__ == "__main__":
    run()
