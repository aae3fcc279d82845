#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# zub3ctl serve's figures, side by side in one run against one virtual receiver: the poll
# period of monitor alone and of serve with 0, 1, 10 and 50 WebSocket clients and with
# MQTT on, serve's CPU per added client, and the time from a press on the receiver to the
# page's change in headless Chromium. Arguments: the build directory and seconds per row.
import json, os, shutil, socket, statistics, subprocess, sys, tempfile, threading, time
import urllib.request

import websocket

BUILD = sys.argv[1]
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 10
INTERVAL = 10
PRESSES = 60
ZUB3CTL = os.path.join(BUILD, "cli", "zub3ctl")
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


def monitor_alone(port):
    r = subprocess.run([ZUB3CTL, "monitor", "--port", port, "--id=0", "--speed=1250000",
                        "--interval=%d" % INTERVAL, "--duration=%gs" % SECONDS, "--format=csv", "-q"],
                       capture_output=True, text=True, env=ENV, timeout=SECONDS + 30)
    t = [float(line.split(",")[0]) for line in r.stdout.splitlines()[1:]]
    periods = [b - a for a, b in zip(t, t[1:])]
    return {"period": statistics.median(periods), "mean": (t[-1] - t[0]) / (len(t) - 1)}


def reader(url, stop):
    ws = websocket.create_connection(url, timeout=5)
    while not stop.is_set():
        ws.recv()
    ws.close()


def serve_row(port, clients, mqtt=None):
    http = free_port()
    command = [ZUB3CTL, "serve", "--port", port, "--id=0", "--speed=1250000",
               "--interval=%d" % INTERVAL, "--listen=127.0.0.1:%d" % http, "-q"]
    if mqtt:
        command += ["--mqtt=127.0.0.1:%d" % mqtt, "--mqtt-topic=bench/zub3"]
    p = subprocess.Popen(command, env=ENV)
    try:
        wait_for(lambda: state(http))
        stop = threading.Event()
        threads = [threading.Thread(target=reader, args=("ws://127.0.0.1:%d/ws" % http, stop))
                   for _ in range(clients)]
        for t in threads:
            t.start()
        time.sleep(1)
        first, cpu0 = state(http), cpu_seconds(p.pid)
        time.sleep(SECONDS)
        last, cpu1 = state(http), cpu_seconds(p.pid)
        stop.set()
        for t in threads:
            t.join()
        wall = (last["t_ms"] - first["t_ms"]) / 1000
        return {"mean": (last["t_ms"] - first["t_ms"]) / (last["seq"] - first["seq"]),
                "cpu": 100 * (cpu1 - cpu0) / wall}
    finally:
        p.terminate()
        p.wait(10)


def browser_latency(sim, port):
    """Press to page: the receiver's button goes down at a known wall-clock moment; the page
    notes when its drawing changed (window.zub3.changedAt, wall clock in ms)."""
    http = free_port()
    serve = subprocess.Popen([ZUB3CTL, "serve", "--port", port, "--id=0", "--speed=1250000",
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
        ordered = sorted(latencies)
        return {"median": statistics.median(latencies), "p95": ordered[-(-95 * len(ordered) // 100) - 1]}
    finally:
        if chromium:
            chromium.terminate()
            chromium.wait(15)
        serve.terminate()
        serve.wait(10)


def main():
    sim = subprocess.Popen([os.path.join(BUILD, "sim", "zub3sim"), "--speed=1250000", "--id=0"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=ENV)
    port = sim.stdout.readline().split()[0]
    broker = None
    rows = []
    try:
        print("serve: monitor alone ...", file=sys.stderr)
        alone = monitor_alone(port)
        rows.append(("monitor alone", alone["mean"], None))
        base = None
        for clients in (0, 1, 10, 50):
            print("serve: %d WebSocket clients ..." % clients, file=sys.stderr)
            r = serve_row(port, clients)
            base = base or r
            rows.append(("serve, %d WebSocket clients" % clients, r["mean"], r["cpu"]))
            if clients == 50:
                per_client = (r["cpu"] - base["cpu"]) / 50
        if shutil.which("mosquitto"):
            mqtt = free_port()
            conf = os.path.join(HOME, "mosquitto.conf")
            with open(conf, "w") as f:
                f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % mqtt)
            broker = subprocess.Popen(["mosquitto", "-c", conf], stderr=subprocess.DEVNULL)
            wait_for(lambda: socket.create_connection(("127.0.0.1", mqtt), timeout=1).close() or True)
            print("serve: MQTT on ...", file=sys.stderr)
            r = serve_row(port, 0, mqtt)
            rows.append(("serve, MQTT on, 0 WebSocket clients", r["mean"], r["cpu"]))
        latency = browser_latency(sim, port) if shutil.which("chromium") else None
    finally:
        if broker:
            broker.terminate()
            broker.wait(10)
        sim.terminate()
        sim.wait(10)
        shutil.rmtree(HOME, ignore_errors=True)

    print("\nzub3ctl serve, 1250000 bit/s, interval %d ms, %g s a row (mean period over the row):\n"
          % (INTERVAL, SECONDS))
    print("| loop | mean period (ms) | - monitor's (ms) | CPU of serve (one core) |")
    print("|---|---:|---:|---:|")
    for name, period, cpu in rows:
        print("| %s | %.3f | %s | %s |" % (name, period, "" if cpu is None else "%+.3f" % (period - alone["mean"]),
                                          "" if cpu is None else "%.2f %%" % cpu))
    print("\nCPU per added WebSocket client (0 to 50): %.3f %% of a core." % per_client)
    if latency:
        print("Press to browser (headless Chromium, %d presses): median %.1f ms, 95th percentile %.1f ms."
              % (PRESSES, latency["median"], latency["p95"]))


main()
