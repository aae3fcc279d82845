#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the benchmark's poll loops side by side against one virtual receiver (zub3sim, its
# own process) per line speed and prints the tables. scripts/bench.sh builds and starts it
# under Xvfb; arguments: the build directory and the polls per run.
import json, os, shutil, statistics, subprocess, sys, tempfile

BUILD = sys.argv[1]
POLLS = int(sys.argv[2]) if len(sys.argv) > 2 else 300
SPEEDS = (1250000, 115200)
INTERVALS = (5, 10, 20)
IDLE_SECONDS = 5
HERE = os.path.dirname(os.path.abspath(__file__))
FLOOR = os.path.join(BUILD, "bench", "bench_Floor")
WINDOW = os.path.join(BUILD, "bench", "bench_PollCycle")
FRAME = subprocess.run([FLOOR, "--frame"], capture_output=True, text=True, check=True).stdout.strip()
RUNTIME = tempfile.mkdtemp(prefix="zub3-bench-")  # the receiver's registration, nobody else's
ENV = dict(os.environ, XDG_RUNTIME_DIR=RUNTIME, XDG_CONFIG_HOME=os.path.join(RUNTIME, "config"),
           LC_ALL="C.UTF-8")


def loops(port, device, rate, interval, count, pid):
    """The loops of one row group: name -> (command, Qt platform or None)."""
    args = [str(rate), str(interval), str(count), str(pid)]
    return {
        "floor (C++)": ([FLOOR, device] + args, None),
        "pyserial": (["/usr/bin/python3", os.path.join(HERE, "bench_pyserial.py"), device] + args + [FRAME], None),
        "window, xcb": ([WINDOW, port] + args, "xcb"),
        "window, offscreen": ([WINDOW, port] + args, "offscreen"),
        # A scaled screen: everything the window paints itself at two device pixels a pixel.
        "window, xcb, ratio 2": ([WINDOW, port] + args, "xcb@2"),
        "window + chart + sticks, xcb": ([WINDOW, port] + args + ["chart"], "xcb"),
        "window + recording, xcb": ([WINDOW, port] + args + ["record"], "xcb"),
    }


def run(command, platform):
    """platform is a Qt platform, with @factor for a scaled screen, or None."""
    env = ENV
    if platform:
        name, _, factor = platform.partition("@")
        env = dict(ENV, QT_QPA_PLATFORM=name, QT_SCALE_FACTOR=factor or "1")
    r = subprocess.run(command, capture_output=True, text=True, env=env, timeout=600)
    lines = r.stdout.strip().splitlines()
    if r.returncode != 0 or not lines:
        return {"error": (r.stderr.strip().splitlines() or ["exit %d" % r.returncode])[-1]}
    return json.loads(lines[-1])


def figures(result):
    if "error" in result:
        return result
    periods = [1000 * (b - a) for a, b in zip(result["starts"], result["starts"][1:])]
    ordered = sorted(periods)
    result["polls"] = len(periods)
    if periods:
        result["median"] = statistics.median(periods)
        result["p95"] = ordered[max(0, -(-95 * len(ordered) // 100) - 1)]
    return result


def share(seconds, result):
    return "%.1f %%" % (100 * seconds / result["wall"]) if result["wall"] > 0 else "-"


rows, details = [], []
budget = None  # the chart's and the recording's cost beside the window alone, round by round
BUDGET_ROUNDS = 6


def measure(title, rate, interval, chosen, port, device, pid):
    results = {}
    for name, (command, platform) in loops(port, device, rate, interval, POLLS, pid).items():
        if name not in chosen:
            continue
        print("%s: %d bit/s, %d ms, %s ..." % (title, rate, interval, name), file=sys.stderr)
        results[name] = figures(run(command, platform))
    floor = results.get("floor (C++)", {})
    for name, r in results.items():
        if "error" in r:
            rows.append("| %s | %d | %d | %s | failed: %s | | | | | | | |" % (title, rate, interval, name, r["error"]))
            continue
        excess = lambda key: "%+.2f" % (r[key] - floor[key]) if key in floor and name != "floor (C++)" else ""
        rows.append("| %s | %d | %d | %s | %d | %.2f | %.2f | %s | %s | %s | %s | %.1f | %d |" % (
            title, rate, interval, name, r["polls"], r["median"], r["p95"], excess("median"), excess("p95"),
            share(r["cpu"], r), share(r["receiver_cpu"], r), r["switches"] / max(1, r["polls"] + 1), r["failures"]))
        if "exchange_ms" in r:
            details.append("| %s | %d | %d | %s | %.2f | %+.2f |" % (
                title, rate, interval, name, r["exchange_ms"], r["wait_ms"] - interval))


def zub3ctl_loop(address, rate, interval, count, pid):
    """zub3ctl monitor as a loop of the benchmark: its records' times are the poll starts."""
    before = os.times()
    start_cpu = process_cpu(pid)
    r = subprocess.run([os.path.join(BUILD, "cli", "zub3ctl"), "monitor", "--port", address,
                        "--id=0", "--speed=%d" % rate, "--interval=%d" % interval,
                        "--count=%d" % (count + 5), "--format=csv"],
                       capture_output=True, text=True, env=ENV, timeout=600)
    after = os.times()
    if r.returncode != 0:
        return {"error": (r.stderr.strip().splitlines() or ["exit %d" % r.returncode])[-1]}
    starts = [float(line.split(",")[0]) / 1000 for line in r.stdout.splitlines()[1:]][5:]
    wall = after.elapsed - before.elapsed
    return {"starts": starts, "wall": wall,
            "cpu": (after.children_user + after.children_system) - (before.children_user + before.children_system),
            "receiver_cpu": process_cpu(pid) - start_cpu, "switches": 0,
            "failures": int(__import__("re").search(r"(\d+) without a reply", r.stderr).group(1))}


def process_cpu(pid):
    total = 0.0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0]) / 1e9
    return total


def network(rate, interval):
    """The same receiver through ser2net on the loopback: pyserial's RFC 2217 client, the
    window on a port of ports.conf and zub3ctl."""
    sim, _, device = receiver(rate)
    listener = __import__("socket").socket()
    listener.bind(("127.0.0.1", 0))
    tcp = listener.getsockname()[1]
    listener.close()
    config = os.path.join(RUNTIME, "ser2net.yaml")
    with open(config, "w") as f:
        f.write("connection: &zub3\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n"
                "  connector: serialdev,%s,115200n81,local\n" % (tcp, device))
    os.makedirs(os.path.join(RUNTIME, "config", "zub3"), exist_ok=True)
    with open(os.path.join(RUNTIME, "config", "zub3", "ports.conf"), "w") as f:
        f.write("COM200 rfc2217://127.0.0.1:%d\n" % tcp)
    server = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-d", "-c", config],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    address = "rfc2217://127.0.0.1:%d" % tcp
    try:
        __import__("time").sleep(1)
        title = "ser2net"
        results = {}
        for name, command, platform in (
                ("pyserial rfc2217", ["/usr/bin/python3", os.path.join(HERE, "bench_pyserial.py"),
                                      address + "?ign_set_control", str(rate), str(interval), str(POLLS),
                                      str(sim.pid), FRAME], None),
                ("window, offscreen", [WINDOW, "COM200", str(rate), str(interval), str(POLLS), str(sim.pid)],
                 "offscreen"),
                ("zub3ctl", None, None)):
            print("%s: %d bit/s, %d ms, %s ..." % (title, rate, interval, name), file=sys.stderr)
            results[name] = figures(zub3ctl_loop(address, rate, interval, POLLS, sim.pid) if command is None
                                    else run(command, platform))
        base = results.get("pyserial rfc2217", {})
        for name, r in results.items():
            if "error" in r:
                net_rows.append("| %d | %d | %s | failed: %s | | | | | | |" % (rate, interval, name, r["error"]))
                continue
            diff = lambda key: "%+.2f" % (r[key] - base[key]) if key in base and r is not base else ""
            net_rows.append("| %d | %d | %s | %d | %.2f | %.2f | %s | %s | %s | %s |" % (
                rate, interval, name, r["polls"], r["median"], r["p95"], diff("median"), diff("p95"),
                share(r["cpu"], r), share(r["receiver_cpu"], r)))
    finally:
        server.terminate()
        server.wait()
        sim.terminate()
        sim.wait()


net_rows = []


def cpu_budget(port, pid):
    """The window alone, with the chart and sticks panel, and recording, in turn for several
    rounds: between two single runs the shared machine's noise is larger than what the chart
    or a recording add. Returns each loop's CPU share per round, or an error."""
    names = ("window, xcb", "window + chart + sticks, xcb", "window + recording, xcb")
    chosen = loops(port, None, SPEEDS[0], INTERVALS[0], POLLS, pid)
    shares = {name: [] for name in names}
    order = list(names)
    for round in range(BUDGET_ROUNDS):
        # Each round in another order, so that none always runs after another.
        order = order[1:] + order[:1]
        for name in order:
            print("budget, round %d: %s ..." % (round + 1, name), file=sys.stderr)
            r = run(*chosen[name])
            if "error" in r:
                return r
            shares[name].append(100 * r["cpu"] / r["wall"])
    return shares


def receiver(rate, *options):
    sim = subprocess.Popen([os.path.join(BUILD, "sim", "zub3sim"), "--speed=%d" % rate, "--id=0"]
                           + list(options),
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=ENV)
    port, device = sim.stdout.readline().split()[:2]
    sim.stdout.readline()  # what it is and how to command it
    return sim, port, device


def moving_recording():
    """A recording that changes a button, every channel and so the dump every millisecond:
    whatever the interval, each poll finds everything changed."""
    path = os.path.join(RUNTIME, "moving.csv")
    with open(path, "w") as f:
        f.write("t_ms,buttons,pa1,pa2,pa3,pa4\n")
        for t in range(60000):
            f.write("%d,%d,%d,%d,%d,%d\n" % (t, 1 << (t % 16), t % 128, (t * 3 + 40) % 128,
                                           (t * 5 + 80) % 128, (t * 7 + 20) % 128))
    return path


everything = ("floor (C++)", "pyserial", "window, xcb", "window, offscreen")
idle = None
# "network", "local" or "serve": a part of the run; "moving": only the moving receiver's rows
# (the window alone beside it with the chart or a recording) and the chart's memory
ONLY = os.environ.get("BENCH_ONLY", "")
if ONLY in ("", "network"):
    network(SPEEDS[0], INTERVALS[1])
for rate in SPEEDS if ONLY in ("", "local") else SPEEDS[:1] if ONLY == "moving" else ():
    sim, port, device = receiver(rate) if ONLY != "moving" else (None, None, None)
    try:
        for interval in INTERVALS if sim else ():
            measure("still", rate, interval, everything, port, device, sim.pid)
        if sim and rate == SPEEDS[0]:
            # Every indicator, gauge and dump follows the receiver's animation.
            sim.stdin.write("demo on\n")
            sim.stdin.flush()
            measure("demo", rate, INTERVALS[0], ("floor (C++)", "window, xcb", "window, offscreen"),
                    port, device, sim.pid)
            sim.stdin.write("demo off\n")
            sim.stdin.flush()
            print("monitoring off, port open ...", file=sys.stderr)
            idle = run([WINDOW, port, str(rate), "idle", str(IDLE_SECONDS), str(sim.pid)], "xcb")
    finally:
        if sim:
            sim.terminate()
            sim.wait()
    if rate == SPEEDS[0]:
        sim, port, device = receiver(rate, "--replay=" + moving_recording(), "--loop")
        try:
            measure("moving", rate, INTERVALS[0],
                    ("floor (C++)", "window, xcb", "window, xcb, ratio 2", "window, offscreen",
                     "window + chart + sticks, xcb", "window + recording, xcb"),
                    port, device, sim.pid)
            budget = cpu_budget(port, sim.pid)
        finally:
            sim.terminate()
            sim.wait()
shutil.rmtree(RUNTIME, ignore_errors=True)
# The chart's and sticks panel's memory over a long session, offscreen.
memory = subprocess.run([os.path.join(BUILD, "bench", "bench_ChartMemory")], capture_output=True,
                        text=True, env=dict(ENV, QT_QPA_PLATFORM="offscreen"), timeout=600)

if rows:
    print("| receiver | line speed (bit/s) | interval (ms) | loop | polls | median period (ms) | "
          "95th percentile (ms) | median - floor's (ms) | 95th - floor's (ms) | CPU (one core) | "
          "CPU receiver | context switches per poll | failed polls |")
    print("|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    print("\n".join(rows))
    print("\n| receiver | line speed (bit/s) | interval (ms) | loop | exchange, median (ms) | "
          "wait - interval, median (ms) |")
    print("|---|---:|---:|---|---:|---:|")
    print("\n".join(details))
if budget and "error" in budget:
    print("\nThe chart's and the recording's cost: failed: %s" % budget["error"])
elif budget:
    alone, chart, recording = (budget[n] for n in
                               ("window, xcb", "window + chart + sticks, xcb", "window + recording, xcb"))
    times = sorted(c / a for a, c in zip(alone, chart))
    added = sorted(r - a for a, r in zip(alone, recording))
    print("\nMoving receiver, 5 ms, xcb, %d rounds of the window alone, with the chart and sticks panel"
          " open, and recording, in turn (CPU of one core, round by round):\n" % BUDGET_ROUNDS)
    print("| loop | CPU per round | median |")
    print("|---|---|---:|")
    for name, shares in budget.items():
        print("| %s | %s | %.1f %% |" % (name, ", ".join("%.1f" % x for x in shares), statistics.median(shares)))
    print("\nThe chart and sticks panel: %.2f times the window alone (median of the rounds; %.2f to %.2f;"
          " aim at most 1.6). Recording: %+.2f %% of a core (median; %+.2f to %+.2f; aim at most +0.3)."
          % (statistics.median(times), times[0], times[-1], statistics.median(added), added[0], added[-1]))
if net_rows:
    print("\nThrough ser2net on the loopback (the same receiver, one run; the differences are"
          " to pyserial's RFC 2217 client):\n")
    print("| line speed (bit/s) | interval (ms) | loop | polls | median period (ms) | "
          "95th percentile (ms) | median - pyserial's (ms) | 95th - pyserial's (ms) | CPU (one core) | "
          "CPU receiver |")
    print("|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|")
    print("\n".join(net_rows))
if memory.returncode == 0:
    print("\nThe chart and the sticks panel over two hours of polls at 5 ms (the chart keeps the"
          " newest hour):\n")
    print(memory.stdout.strip())
else:
    print("\nChart memory: failed: %s" % (memory.stderr.strip().splitlines() or ["?"])[-1])
if idle and "error" not in idle:
    print("\nWindow with the port open and monitoring off, xcb, %d s: CPU %.2f %% of one core."
          % (IDLE_SECONDS, 100 * idle["cpu"] / idle["wall"]))
elif idle:
    print("\nWindow with the port open and monitoring off: failed: %s" % idle["error"])
if ONLY in ("", "serve"):
    sys.stdout.flush()
    subprocess.run(["/usr/bin/python3", os.path.join(HERE, "bench_serve.py"), BUILD], check=True)
