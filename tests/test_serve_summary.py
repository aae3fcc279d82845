#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""zub3ctl serve's summary on its end, as monitor's: the polls, the records published
and the WebSocket clients served.

Usage: test_serve_summary.py ZUB3CTL ZUB3SIM [Class.test_case ...]"""

import json
import re
import unittest

from support.serve_harness import Serve, Sim, run

FIRST_LINE = re.compile(r"^(\d+) polls, (\d+) without a reply, (\d+) rejected, (\d+) records? published$",
                        re.M)


class ServeSummaryTest(unittest.TestCase):
    def setUp(self):
        self.sim = Sim()

    def tearDown(self):
        self.sim.stop()

    def test_the_summary_counts_polls_records_and_clients(self):
        serve = Serve(self.sim)
        seen = []
        for _ in range(2):
            ws = serve.ws()
            seen.append(json.loads(ws.recv())["seq"])
            ws.close()
        code, err = serve.stop()
        self.assertEqual(code, 0, err)
        figures = FIRST_LINE.search(err)
        self.assertIsNotNone(figures, err)
        polls, silent, rejected, published = map(int, figures.groups())
        self.assertEqual(published, polls - silent - rejected, err)
        self.assertGreaterEqual(published, max(seen), err)
        self.assertIn("\n2 WebSocket clients served\n", err)

    def test_quiet_leaves_the_summary_out(self):
        serve = Serve(self.sim, "-q")
        code, err = serve.stop()
        self.assertEqual(code, 0, err)
        self.assertIsNone(FIRST_LINE.search(err), err)
        self.assertNotIn("served", err)


if __name__ == "__main__":
    run()
