#!/usr/bin/env python3
"""Runs every benchmark of bench/ and prints one table: benchmark, figure,
goal, met. `make bench` runs it; the raw outputs go to BUILD/bench/results/.

    bench/run_bench.py BUILD [--only NAME,...] [--length-ticks N] [--pace-seconds S]

NAME: ticks, pace, startup, callgrind, plot, plot-memory, length, slow, remote.
"""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from slow_supply import slow_supply
from remote_control import remote_control

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INTERVAL = 0.05  # [s] the fastest interval the panel allows


def find(build, name):
    for sub in ("bin", "bench", "tests", "tests/install"):
        path = os.path.join(build, sub, name)
        if os.access(path, os.X_OK):
            return path
    sys.exit(f"run_bench: no {name} in {build}; build first")


class Table:
    def __init__(self):
        self.rows = []

    def add(self, name, figure, goal="", met=None):
        self.rows.append((name, figure, goal, "" if met is None else ("yes" if met else "NO")))

    def print(self):
        head = ("benchmark", "figure", "goal", "met?")
        widths = [max(len(r[i]) for r in self.rows + [head]) for i in range(4)]
        line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
        print(line(head))
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        for r in self.rows:
            print(line(r))


def harness_env(workdir, build, extra):
    env = dict(os.environ)
    env.update({
        "LD_LIBRARY_PATH": os.path.join(build, "bin"),
        "TMI_SIM_STATE": os.path.join(workdir, "sim.state"),
        "RAILMON_PANEL_DIR": ROOT,
        "QT_QPA_PLATFORM": "offscreen",
        # The supply's lock of its own, so a railmon running beside the
        # benchmarks does not refuse them the (simulated) supply.
        "XDG_RUNTIME_DIR": workdir,
        "RAILMON_LOCK_DIR": workdir,
        # Protection levels of its own, never those armed on this bench.
        "XDG_CONFIG_HOME": workdir,
    })
    env.update(extra)
    return env


def run_harness(build, workdir, script, extra, timeout):
    env = harness_env(workdir, build, dict(extra, RAILMON_SCRIPT=script))
    return subprocess.run([find(build, "railmon_harness"), "-platform", "offscreen"], cwd=workdir, env=env,
                          capture_output=True, text=True, timeout=timeout)


def ticks(build, results, table):
    """railmon's share of a tick against the library's, and one chart frame."""
    out = os.path.join(results, "railmon_bench.json")
    with open(os.path.join(results, "railmon_bench.txt"), "w") as log:
        subprocess.run([find(build, "railmon_bench"), "--benchmark_out=" + out, "--benchmark_out_format=json"],
                       stdout=log, stderr=subprocess.STDOUT, check=True, cwd=tempfile.gettempdir())
    with open(out) as f:
        runs = {b["name"]: b for b in json.load(f)["benchmarks"]}
    for latency in (0, 1):
        for repaint in (0, 1):
            for logging in (0, 1):
                b = runs[f"BM_TickShare/latency:{latency}/logging:{logging}/repaint:{repaint}/real_time"]
                goal, met = "", None
                if latency == 1:
                    limit = 10.0 if repaint else 1.0
                    goal, met = f"share <= {limit:g} %", b["share_pct"] <= limit
                table.add(f"tick, {latency} ms/call, logging {'on' if logging else 'off'}, "
                          f"{'with' if repaint else 'without'} repaints",
                          f"own {b['own_us']:.0f} us of {b['whole_us']:.0f} us = {b['share_pct']:.2f} % "
                          f"({b['calls_per_tick']:.0f} library calls)", goal, met)
    for view, name, limit in ((0, "default view following", 0.5), (1, "whole hour in view", 2.0),
                              (2, "default view, drawn whole each frame", None)):
        b = runs[f"BM_ChartFrame/view:{view}"]
        ms = b["real_time"] if b["time_unit"] == "ms" else b["real_time"] / 1000.0
        table.add("chart frame, " + name, f"{ms:.3f} ms ({b.get('label', '')})",
                  f"<= {limit:g} ms" if limit else "", ms <= limit if limit else None)
    for mib, label in ((0, "no previous log"), (1536, "a 1.5 GiB previous log kept as railmon.log.1")):
        b = runs[f"BM_FirstLoggedTick/previous_mib:{mib}/iterations:20"]
        ms = b["real_time"] / 1000.0
        table.add(f"first logged tick, {label}", f"{ms:.3f} ms",
                  "<= 1 ms (no tick lost at 0.05 s)", ms <= 1.0)
    b = runs["BM_ProtectionReadingToOff/iterations:2000/manual_time"]
    table.add("protection: offending reading's end to the off call's start, 0 ms/call",
              f"p50 {b['p50_us']:.1f} us, p99 {b['p99_us']:.1f} us, max {b['max_us']:.1f} us",
              "<= 20 us", b["p50_us"] <= 20.0)
    medians = {armed: runs[f"BM_TickProtected/armed:{armed}/repeats:5_median"]["real_time"] for armed in (0, 4)}
    table.add("protection: tick, 4 channels, none / 4 armed (median of 5)",
              f"{medians[0]:.2f} / {medians[4]:.2f} us = {medians[4] - medians[0]:+.2f} us",
              "<= 2 us more", medians[4] - medians[0] <= 2.0)
    for name, label in (("BM_TickWithLogging/logging:1", "tick, in-process, logging on"),
                        ("BM_LoadPanel", "load the panel"),
                        ("BM_BindLibrary", "bind the library")):
        b = runs[name]
        table.add(label, f"{b['real_time']:.3g} {b['time_unit']}")


def count_lines(run):
    return [list(map(float, l.split()[1:])) for l in run.stdout.splitlines() if l.startswith("COUNT ")]


def pace(build, results, table, seconds):
    """The fastest interval, four channels, logging, main output, noise."""
    with tempfile.TemporaryDirectory() as workdir:
        idle = 20 * 1000  # [ms]
        script = (f"click:SwitchOnOffCB;click:LogToFileCB;interval:{INTERVAL};click:TimerOnOffCB;wait:3000;count;"
                  f"wait:{int(seconds * 1000)};count;click:TimerOnOffCB;wait:2000;count;wait:{idle};count;click:ExitCB")
        run = run_harness(build, workdir, script, {"RAILMON_COUNT": "1"}, seconds + 120)
        with open(os.path.join(results, "pace.txt"), "w") as f:
            f.write(run.stdout + run.stderr)
        counts = count_lines(run)
        if run.returncode != 0 or len(counts) != 4:
            table.add("pace", f"failed: exit {run.returncode}", "", False)
            return
        (w0, c0, t0, i0, v0, _), (w1, c1, t1, i1, v1, _), (w2, c2, *_, s2), (w3, c3, *_, s3) = counts
        wall = w1 - w0
        requested = wall / INTERVAL
        delivered = t1 - t0
        table.add(f"pace {INTERVAL:g} s, {wall:.0f} s: ticks delivered", f"{delivered:.0f} of {requested:.0f} = "
                  f"{100 * delivered / requested:.1f} %", ">= 99 %", delivered >= 0.99 * requested)
        table.add("pace: repaints per chart per second", f"current {(i1 - i0) / wall:.1f}, voltage {(v1 - v0) / wall:.1f}"
                  f" (ticks {delivered / wall:.1f}/s)", "= tick rate, <= 60",
                  min(i1 - i0, v1 - v0) >= 0.99 * delivered and max(i1 - i0, v1 - v0) <= 60 * wall)
        cpu = 100 * (c1 - c0) / wall
        table.add("pace: process CPU / wall", f"{cpu:.2f} % of a core", "<= 2 %", cpu <= 2.0)
        idle_cpu = 100 * (c3 - c2) / (w3 - w2)
        table.add("idle, timer off: process CPU / wall", f"{idle_cpu:.3f} % ({(s3 - s2) / (w3 - w2):.1f} wake-ups/s)",
                  "<= 0.1 %", idle_cpu <= 0.1)


def length(build, results, table, total):
    """total ticks at the runtime's fastest pace with logging on."""
    every = max(total // 20, 1)
    warm = 100000 if total >= 200000 else total // 2  # past one chart history (72,000 points)
    with tempfile.TemporaryDirectory() as workdir:
        start = time.monotonic()
        run = run_harness(build, workdir, "click:SwitchOnOffCB;click:LogToFileCB;interval:0.001;click:TimerOnOffCB",
                          {"RAILMON_EXIT_AFTER_TICKS": str(total), "RAILMON_REPORT_RSS_EVERY": str(every)},
                          total / 100 + 3600)
        seconds = time.monotonic() - start
        with open(os.path.join(results, "length.txt"), "w") as f:
            f.write("\n".join(l for l in run.stdout.splitlines() if not l.startswith("TICK")) + run.stderr)
        rss = {}
        done = 0
        for l in run.stdout.splitlines():
            m = re.match(r"RSS (\d+) (\d+)", l)
            if m:
                rss[int(m.group(1))] = int(m.group(2))
            m = re.match(r"TICKS (\d+)", l)
            if m:
                done = int(m.group(1))
        with open(os.path.join(workdir, "railmon.log"), "rb") as f:
            lines = sum(1 for _ in f)
    after = min((t for t in rss if t >= warm), default=None)
    if run.returncode != 0 or after is None or not rss:
        table.add("length", f"failed: exit {run.returncode}", "", False)
        return
    end = rss[max(rss)]
    growth = (end - rss[after]) / 1024.0
    table.add(f"length {done:,} ticks ({seconds:.0f} s): RSS after {after:,} ticks vs end",
              f"{rss[after]:,} kB -> {end:,} kB ({growth:+.2f} MiB)", "growth <= 2 MiB", growth <= 2.0)
    # One header line, then four records per tick; the exit may let one more
    # tick in after the counted one.
    expected = 1 + 4 * done
    table.add("length: log lines", f"{lines:,} for {done:,} ticks", f"1 + 4 x ticks = {expected:,}",
              lines == expected)


def startup_commands(build):
    """railmon up and out again, Qt alone with its panel file, the bare window."""
    return {"railmon": [find(build, "railmon_harness"), "-platform", "offscreen"],
            "floor": [find(build, "panel_floor"), "-platform", "offscreen", os.path.join(ROOT, "railmon-ctrl.uir")],
            "bare": [find(build, "bare_window"), "-platform", "offscreen"]}


def startup(build, results, table, rounds=15):
    """Process start to the panel shown and out again, against a bare window,
    and against Qt alone showing the same panel file and charts."""
    times = {"railmon": [], "floor": [], "bare": []}
    with tempfile.TemporaryDirectory() as workdir:
        env = harness_env(workdir, build, {"RAILMON_SCRIPT": "click:ExitCB"})
        commands = startup_commands(build)
        for _ in range(2):  # the disk cache warm for all
            for cmd in commands.values():
                subprocess.run(cmd, cwd=workdir, env=env, capture_output=True, timeout=60)
        for _ in range(rounds):
            for name, cmd in commands.items():
                start = time.monotonic()
                subprocess.run(cmd, cwd=workdir, env=env, capture_output=True, timeout=60, check=True)
                times[name].append(time.monotonic() - start)
    r, f, b = (statistics.median(times[name]) for name in ("railmon", "floor", "bare"))
    with open(os.path.join(results, "startup.txt"), "w") as out:
        json.dump(times, out, indent=1)
    table.add(f"start-up to panel shown and out (median of {rounds})",
              f"railmon {1000 * r:.0f} ms / bare window {1000 * b:.0f} ms = {r / b:.2f}", "<= 1.3", r / b <= 1.3)
    table.add("start-up: the panel file and its charts in stock Qt",
              f"{1000 * f:.0f} ms / bare window = {f / b:.2f}; railmon / it = {r / f:.2f}", "", None)


def callgrind(build, results, table):
    if not shutil.which("valgrind"):
        table.add("instructions per tick (callgrind)", "valgrind missing", "", False)
        return
    out = os.path.join(results, "callgrind.out")
    with tempfile.TemporaryDirectory() as workdir:
        env = harness_env(workdir, build, {})
        subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no", "--toggle-collect=*measuredTick*",
                        "--callgrind-out-file=" + out, find(build, "tick_once")], env=env, cwd=workdir,
                       capture_output=True, check=True, timeout=600)
    with open(out) as f:
        total = next(int(l.split()[1]) for l in f if l.startswith(("summary:", "totals:")))
    table.add("instructions per tick, 4 channels, logging on (callgrind)", f"{total:,} Ir", "see bench/README.md")
    # Start-up counted exactly, where wall times move with the machine's load.
    counts = {}
    with tempfile.TemporaryDirectory() as workdir:
        env = harness_env(workdir, build, {"RAILMON_SCRIPT": "click:ExitCB"})
        for name, cmd in startup_commands(build).items():
            out = os.path.join(results, f"callgrind-startup-{name}.out")
            subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out] + cmd, env=env,
                           cwd=workdir, capture_output=True, check=True, timeout=600)
            with open(out) as f:
                counts[name] = next(int(l.split()[1]) for l in f if l.startswith(("summary:", "totals:")))
    table.add("instructions of start-up: railmon / panel file in stock Qt / bare window (callgrind)",
              " / ".join(f"{counts[n] / 1e6:.1f} M" for n in ("railmon", "floor", "bare")) +
              f" = {counts['railmon'] / counts['bare']:.2f} / {counts['floor'] / counts['bare']:.2f} / 1")


def run_kept(build, results, name, timeout):
    """Runs a bench program of its own, its output kept as results/NAME.txt."""
    run = subprocess.run([find(build, name)], capture_output=True, text=True, timeout=timeout,
                         cwd=tempfile.gettempdir())
    with open(os.path.join(results, name + ".txt"), "w") as f:
        f.write(run.stdout + run.stderr)
    return run


def plot_million(build, results, table):
    """railmon-plot on a log of a million records."""
    run = run_kept(build, results, "plot_million", 1200)
    for l in run.stdout.splitlines():
        m = re.match(r"railmon-plot -o (\S+)\s+(.*)", l)
        if m:
            table.add(f"railmon-plot, 1,000,000 records, {m.group(1)}", m.group(2))


def plot_memory(build, results, table):
    """railmon-plot on a log of about a gigabyte: peak memory and MB/s."""
    run = run_kept(build, results, "plot_memory", 1800)
    for l in run.stdout.splitlines():
        m = re.match(r"plot-memory \S+: (\d+) MB in .* = (\d+) MB/s, peak RSS (\d+) MiB, exit (\d+)", l)
        if m:
            size, speed, peak, status = (int(g) for g in m.groups())
            table.add(f"railmon-plot, a {size} MB log to PNG with the summary",
                      f"{speed} MB/s, peak RSS {peak} MiB, exit {status}", "<= 200 MiB, >= 100 MB/s",
                      status == 0 and peak <= 200 and speed >= 100)
    if run.returncode != 0:
        table.add("railmon-plot, a 1 GB log", f"failed: exit {run.returncode}", "", False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--only", default="ticks,pace,startup,callgrind,plot,plot-memory,length,slow,remote")
    parser.add_argument("--length-ticks", type=int, default=1000000)
    parser.add_argument("--pace-seconds", type=float, default=60)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    results = os.path.join(build, "bench", "results")
    os.makedirs(results, exist_ok=True)
    table = Table()
    wanted = args.only.split(",")
    print(f"railmon benchmarks: {os.cpu_count()} cores; raw outputs in {results}", flush=True)
    if "ticks" in wanted:
        ticks(build, results, table)
    if "pace" in wanted:
        pace(build, results, table, args.pace_seconds)
    if "startup" in wanted:
        startup(build, results, table)
    if "callgrind" in wanted:
        callgrind(build, results, table)
    if "plot" in wanted:
        plot_million(build, results, table)
    if "plot-memory" in wanted:
        plot_memory(build, results, table)
    if "length" in wanted:
        length(build, results, table, args.length_ticks)
    if "slow" in wanted:
        slow_supply(build, lambda name: find(build, name), results, table)
    if "remote" in wanted:
        remote_control(build, lambda name: find(build, name), results, table)
    table.print()
    with open(os.path.join(results, "table.md"), "w") as f:
        sys.stdout = f
        table.print()


if __name__ == "__main__":
    main()
