#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# zub3ctl serve's figures beside a plain Python server (bench_serve_peer.py: pyserial,
# websockets, paho-mqtt) against one virtual receiver, in alternating rounds: the mean poll
# period, CPU, records per client and press-to-client latency with 0, 50 and 200 WebSocket
# clients, the same with MQTT on, and serve with 50 clients and a slowloris from one address
# beside serve alone. Then the press-to-page time in headless Chromium. The clients come
# from their own loopback addresses; five read every record at once and time the presses,
# the others read what has come every 50 ms, as a page drawing at its own pace does.
# Arguments: the build directory, seconds per row and rounds.
import json, multiprocessing, os, selectors, shutil, socket, statistics, subprocess, sys
import tempfile, threading, time
import urllib.request

import websocket

BUILD = sys.argv[1]
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 8
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 2
INTERVAL = 5
RATE = 1250000
CLIENTS = (0, 50, 200)
PROBES = 5  # clients that read at once and time the presses
READER_PROCESSES = 2  # for the others, each reading every NAP seconds, as a page does
NAP = 0.05
SLOWLORIS = 300  # half-sent requests held open, each reopened when the server closes it
PRESSES = 60
HERE = os.path.dirname(os.path.abspath(__file__))
ZUB3CTL = os.path.join(BUILD, "cli", "zub3ctl")
FRAME = subprocess.run([os.path.join(BUILD, "bench", "bench_Floor"), "--frame"],
                       capture_output=True, text=True, check=True).stdout.strip()
HOME = tempfile.mkdtemp(prefix="zub3-bench-serve-")
ENV = dict(os.environ, XDG_RUNTIME_DIR=HOME, XDG_CONFIG_HOME=HOME, ZUB3_LOCK_DIR=HOME, LC_ALL="C.UTF-8")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(check, timeout=20):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            if check():
                return
        except OSError:
            pass
        time.sleep(0.05)
    raise RuntimeError("timed out")


def state(port):
    with urllib.request.urlopen("http://127.0.0.1:%d/api/state" % port, timeout=5) as r:
        return json.load(r)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percentile(values, p):
    ordered = sorted(values)
    return ordered[max(0, -(-p * len(ordered) // 100) - 1)]


# --- the WebSocket clients: raw sockets, many to a process, so that reading every record
# costs the benchmark little of the two cores it shares with the server ---

def handshake(port, source):
    s = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))
    s.sendall(("GET /ws HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\n"
               "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
               "Sec-WebSocket-Version: 13\r\n\r\n" % port).encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(4096)
        if not chunk:
            raise RuntimeError("the server closed a WebSocket handshake")
        head += chunk
    if not head.startswith(b"HTTP/1.1 101"):
        raise RuntimeError("WebSocket refused: " + head.split(b"\r\n")[0].decode())
    s.setblocking(False)
    return s, head.split(b"\r\n\r\n", 1)[1]


def frames(buffer):
    """The complete frames' payloads at the start of buffer, and what is left."""
    out, at = [], 0
    while len(buffer) - at >= 2:
        size, start = buffer[at + 1] & 0x7F, at + 2
        if size == 126:
            if len(buffer) - at < 4:
                break
            size, start = int.from_bytes(buffer[at + 2:at + 4], "big"), at + 4
        elif size == 127:
            if len(buffer) - at < 10:
                break
            size, start = int.from_bytes(buffer[at + 2:at + 10], "big"), at + 10
        if len(buffer) < start + size:
            break
        if buffer[at] & 0x0F == 1:
            out.append(buffer[start:start + size])
        at = start + size
    return out, buffer[at:]


def buttons_of(payload):
    at = payload.find(b'"buttons": ') + 11
    return payload[at:payload.find(b",", at)]


def readers(port, first, count, nap, control):
    """count clients from their own loopback addresses (a server may limit clients per
    address), reading what has come every nap seconds. Answers "mark" with each client's
    records so far and "stop" with that and, from clients that do not nap, the moments the
    buttons changed."""
    selector = selectors.DefaultSelector()
    records, changes, last, pending = [0] * count, [[] for _ in range(count)], [None] * count, []
    for i in range(count):
        s, rest = handshake(port, "127.0.1.%d" % (first + i + 1))
        pending.append(rest)
        selector.register(s, selectors.EVENT_READ, i)
    selector.register(control, selectors.EVENT_READ, None)
    control.send("ready")
    newest = None  # the first client's newest record
    while True:
        for key, _ in selector.select():
            i = key.data
            if i is None:
                what = control.recv()
                if what == "mark":
                    control.send((list(records), newest and json.loads(newest)))
                    continue
                control.send((records, [] if nap else changes))
                return
            data = key.fileobj.recv(262144)
            if not data:
                selector.unregister(key.fileobj)
                continue
            now = time.monotonic()
            payloads, pending[i] = frames(pending[i] + data)
            for p in payloads:
                records[i] += 1
                if i == 0:
                    newest = p
                b = buttons_of(p)
                if last[i] is not None and b != last[i]:
                    changes[i].append(now)
                last[i] = b
        if nap:
            time.sleep(nap)


class Clients:
    """count clients: the first PROBES read at once, the rest take naps. Both kinds cost the
    two cores the server runs on; clients that read every record the moment it comes would
    leave the server little of them."""

    def __init__(self, port, count):
        self.pipes, self.processes = [], []
        probes = min(PROBES, count)
        rest = count - probes
        share = -(-rest // READER_PROCESSES) if rest else 1
        groups = [(0, probes, 0)] + [(first, min(share, count - first), NAP)
                                     for first in range(probes, count, share)]
        for first, n, nap in groups:
            mine, theirs = multiprocessing.Pipe()
            p = multiprocessing.Process(target=readers, args=(port, first, n, nap, theirs))
            p.start()
            self.pipes.append(mine)
            self.processes.append(p)
        for pipe in self.pipes:
            if not pipe.poll(60) or pipe.recv() != "ready":
                raise RuntimeError("the WebSocket clients did not connect")

    def mark(self):
        """Each client's records so far, and the newest record one of them has seen."""
        for pipe in self.pipes:
            pipe.send("mark")
        answers = [pipe.recv() for pipe in self.pipes]
        return [n for counts, _ in answers for n in counts], answers[0][1]

    def stop(self):
        for pipe in self.pipes:
            pipe.send("stop")
        records, changes = [], []
        for pipe, p in zip(self.pipes, self.processes):
            r, c = pipe.recv()
            records += r
            changes += c
            p.join(10)
        return records, changes


def slowloris(port, count, stop):
    """count requests from 127.0.0.1 that never end: a header line now and then, each
    connection opened again a second after the server has closed it."""
    held, closed = [], []
    while not stop.is_set():
        now = time.monotonic()
        while len(held) + len(closed) < count:
            closed.append(0.0)
        for at in [t for t in closed if t <= now]:
            closed.remove(at)
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=2)
                s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")
                held.append(s)
            except OSError:
                closed.append(now + 1)
        for s in list(held):
            try:
                s.send(b"X-a: b\r\n")
            except OSError:
                held.remove(s)
                s.close()
                closed.append(now + 1)
        stop.wait(1)
    for s in held:
        s.close()


# --- one row: a server, its clients, presses on the receiver, the figures ---

def start_server(program, port, device, http, mqtt):
    if program == "serve":
        command = [ZUB3CTL, "serve", "--port", port, "--id=0", "--speed=%d" % RATE,
                   "--interval=%d" % INTERVAL, "--listen=127.0.0.1:%d" % http, "--max-clients=1000", "-q"]
        if mqtt:
            command += ["--mqtt=127.0.0.1:%d" % mqtt, "--mqtt-topic=bench/zub3"]
    else:
        command = ["/usr/bin/python3", os.path.join(HERE, "bench_serve_peer.py"), device, str(RATE),
                   str(INTERVAL), str(http), FRAME] + (["%d" % mqtt, "bench/zub3"] if mqtt else [])
    return subprocess.Popen(command, env=ENV)


def row(sim, program, clients, mqtt=None, attack=False):
    http = free_port()
    server = start_server(program, sim.port, sim.device, http, mqtt)
    group, stop = None, threading.Event()
    try:
        wait_for(lambda: state(http))
        group = Clients(http, clients) if clients else None
        if attack:
            threading.Thread(target=slowloris, args=(http, SLOWLORIS, stop), daemon=True).start()
        time.sleep(1)
        # With clients, the period comes from what they read: no request that a crowd of
        # half-sent ones could hold up.
        counts0, before = group.mark() if group else ([], state(http))
        cpu0, t0 = cpu_seconds(server.pid), time.monotonic()
        presses, word = [], 0
        while time.monotonic() - t0 < SECONDS:
            time.sleep(0.15 + (len(presses) % 7) * 0.023)  # out of step with the polls
            presses.append(time.monotonic())
            sim.stdin.write(("press S1" if word == 0 else "release all") + "\n")
            sim.stdin.flush()
            word ^= 1
        cpu1, t1 = cpu_seconds(server.pid), time.monotonic()
        counts1, after = group.mark() if group else ([], state(http))
        records = after["seq"] - before["seq"]
        result = {"period": (after["t_ms"] - before["t_ms"]) / records,
                  "cpu": 100 * (cpu1 - cpu0) / (t1 - t0)}
        if group:
            _, changes = group.stop()
            group = None
            result["per_client"] = statistics.mean(b - a for a, b in zip(counts0, counts1)) / records
            latencies = []
            for k, p in enumerate(presses[:-1]):
                for seen in changes:
                    first = next((c for c in seen if p <= c < presses[k + 1]), None)
                    if first is not None:
                        latencies.append(1000 * (first - p))
            result["latency"] = (statistics.median(latencies), percentile(latencies, 95)) if latencies else None
        if word:
            sim.stdin.write("release all\n")
            sim.stdin.flush()
        return result
    finally:
        stop.set()
        if group:
            group.stop()
        server.terminate()
        server.wait(10)


def browser_latency(sim, port):
    """Press to page: the receiver's button goes down at a known wall-clock moment; the page
    notes when its drawing changed (window.zub3.changedAt, wall clock in ms)."""
    http = free_port()
    serve = subprocess.Popen([ZUB3CTL, "serve", "--port", port, "--id=0", "--speed=%d" % RATE,
                              "--interval=%d" % INTERVAL, "--listen=127.0.0.1:%d" % http, "-q"], env=ENV)
    profile = tempfile.mkdtemp(dir=HOME)
    chromium = None
    try:
        wait_for(lambda: state(http))
        chromium = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--remote-debugging-port=0", "http://127.0.0.1:%d/" % http],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=ENV)
        active = os.path.join(profile, "DevToolsActivePort")
        wait_for(lambda: os.path.exists(active) and open(active).read().count("\n") >= 1)
        devtools = int(open(active).read().split()[0])
        pages = []
        wait_for(lambda: pages.extend(t for t in json.load(urllib.request.urlopen(
            "http://127.0.0.1:%d/json" % devtools)) if t["type"] == "page") or pages)
        cdp = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=10, suppress_origin=True)
        ids = iter(range(1, 1 << 30))

        def evaluate(expression):
            i = next(ids)
            cdp.send(json.dumps({"id": i, "method": "Runtime.evaluate",
                                 "params": {"expression": expression, "returnByValue": True}}))
            while True:
                reply = json.loads(cdp.recv())
                if reply.get("id") == i:
                    return reply["result"]["result"].get("value")

        wait_for(lambda: (evaluate("(window.zub3 && window.zub3.seq) || 0") or 0) > 0)
        latencies = []
        for n in range(PRESSES):
            word = "press S1" if n % 2 == 0 else "release all"
            before = evaluate("window.zub3.changedAt")
            time.sleep(0.05 + (n % 7) * 0.003)  # not in step with the polls
            pressed = time.time()
            sim.stdin.write(word + "\n")
            sim.stdin.flush()
            wait_for(lambda: evaluate("window.zub3.changedAt") != before, timeout=5)
            latencies.append(evaluate("window.zub3.changedAt") - pressed * 1000)
        cdp.close()
        return {"median": statistics.median(latencies), "p95": percentile(latencies, 95)}
    finally:
        if chromium:
            chromium.terminate()
            chromium.wait(15)
        serve.terminate()
        serve.wait(10)


def mean_of(results, key):
    values = [r[key] for r in results if r.get(key) is not None]
    return statistics.mean(values) if values else None


def show(value, form):
    return "" if value is None else form % value


def table(title, rows, ratio_of):
    """rows: (label, program, results of the rounds); ratio_of: label -> the row it is
    compared with."""
    print("\n" + title + "\n")
    print("| row | mean period (ms) | CPU (one core) | records per client | latency median (ms) | latency 95th (ms) | period ratio | CPU ratio | latency ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    figures = {}
    for label, results in rows:
        lat = [r["latency"] for r in results if r.get("latency")]
        figures[label] = {"period": mean_of(results, "period"), "cpu": mean_of(results, "cpu"),
                          "per_client": mean_of(results, "per_client"),
                          "median": statistics.mean(m for m, _ in lat) if lat else None,
                          "p95": statistics.mean(p for _, p in lat) if lat else None,
                          "rounds": ", ".join("%.3f" % r["period"] for r in results)}
    for label, _ in rows:
        f = figures[label]
        base = figures.get(ratio_of.get(label))
        ratio = lambda key: show(f[key] / base[key] if base and f[key] and base[key] else None, "%.2f")
        print("| %s | %.3f (%s) | %.2f %% | %s | %s | %s | %s | %s | %s |" % (
            label, f["period"], f["rounds"], f["cpu"], show(f["per_client"], "%.3f"),
            show(f["median"], "%.1f"), show(f["p95"], "%.1f"), ratio("period"), ratio("cpu"), ratio("median")))


def main():
    sim = subprocess.Popen([os.path.join(BUILD, "sim", "zub3sim"), "--speed=%d" % RATE, "--id=0"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=ENV)
    sim.port, sim.device = sim.stdout.readline().split()[:2]
    broker = None
    results = {}
    try:
        for n in range(ROUNDS):
            programs = ("serve", "peer") if n % 2 == 0 else ("peer", "serve")
            for clients in CLIENTS:
                for program in programs:
                    print("serve: round %d, %s, %d clients ..." % (n + 1, program, clients), file=sys.stderr)
                    results.setdefault((program, clients), []).append(row(sim, program, clients))
            for attack in (False, True) if n % 2 == 0 else (True, False):
                print("serve: round %d, slowloris %s ..." % (n + 1, attack), file=sys.stderr)
                key = ("serve", "slowloris") if attack else ("serve", "alone")
                results.setdefault(key, []).append(row(sim, "serve", 50 if attack else 0, attack=attack))
        if shutil.which("mosquitto"):
            mqtt = free_port()
            conf = os.path.join(HOME, "mosquitto.conf")
            with open(conf, "w") as f:
                f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % mqtt)
            broker = subprocess.Popen(["mosquitto", "-c", conf], stderr=subprocess.DEVNULL)
            wait_for(lambda: socket.create_connection(("127.0.0.1", mqtt), timeout=1).close() or True)
            for n in range(ROUNDS):
                for program in ("serve", "peer") if n % 2 == 0 else ("peer", "serve"):
                    print("serve: round %d, %s, MQTT on ..." % (n + 1, program), file=sys.stderr)
                    results.setdefault((program, "mqtt"), []).append(row(sim, program, 0, mqtt=mqtt))
        latency = browser_latency(sim, sim.port) if shutil.which("chromium") else None
    finally:
        if broker:
            broker.terminate()
            broker.wait(10)
        sim.terminate()
        sim.wait(10)
        shutil.rmtree(HOME, ignore_errors=True)

    print("\nzub3ctl serve and a Python peer, %d bit/s, interval %d ms, %g s a row, %d rounds "
          "(mean over the rounds; the periods of each round in brackets):" % (RATE, INTERVAL, SECONDS, ROUNDS))
    rows, ratio_of = [], {}
    for clients in CLIENTS:
        rows += [("serve, %d clients" % clients, results[("serve", clients)]),
                 ("peer, %d clients" % clients, results[("peer", clients)])]
        ratio_of["serve, %d clients" % clients] = "peer, %d clients" % clients
    if ("serve", "mqtt") in results:
        rows += [("serve, MQTT, 0 clients", results[("serve", "mqtt")]),
                 ("peer, MQTT, 0 clients", results[("peer", "mqtt")])]
        ratio_of["serve, MQTT, 0 clients"] = "peer, MQTT, 0 clients"
    table("Ratios: serve's figure over the peer's.", rows, ratio_of)
    table("serve with more clients: the period over serve's with none.",
          [("serve, %d clients" % c, results[("serve", c)]) for c in CLIENTS],
          {"serve, %d clients" % c: "serve, 0 clients" for c in CLIENTS[1:]})
    table("serve with 50 clients and %d half-sent requests from one address, beside serve alone "
          "(rounds alternating):" % SLOWLORIS,
          [("serve alone", results[("serve", "alone")]),
           ("serve, 50 clients + slowloris", results[("serve", "slowloris")])],
          {"serve, 50 clients + slowloris": "serve alone"})
    if latency:
        print("\nPress to browser (headless Chromium, %d presses): median %.1f ms, 95th percentile %.1f ms."
              % (PRESSES, latency["median"], latency["p95"]))


main()
