"""The operator's hold on a slow supply, with real X events: from a click on
Exit to the process's end, and from a click on the main output switch (on)
to the library's TMI_MainOutput call, at 10 ms, 300 ms and 2 s per call.

Exit to the process's end runs on the simulated supply (TMI_SIM_LATENCY_MS).
The stop (to the hand-back's first call, TMI_RemoteLocal) and the switch-off
run on the recording fake (TMI_FAKE_LATENCY_MS, the same per-call delay),
which notes when each call starts (TMI_FAKE_TIMES), on the same monotonic
clock as the click's. Both click while the timer's sweep is under way, at a random
moment of a call, so a figure includes the rest of the call in progress.

An Exit waits for the call under way and then hands the supply back (two
calls: TMI_RemoteLocal, TMI_HandleClose): its hand-back begins within one
call and 50 ms, the process ends within three calls and 50 ms beside its
own teardown; a switch-off's goal is one call and 50 ms.

run_bench.py runs it as its part "slow"; alone, with another railmon (an
older build's, for a before and after):

    bench/slow_supply.py BUILD [--railmon PATH]

SLOW_SUPPLY_LATENCIES=10,300 picks other latencies [ms per call].
"""
import os
import random
import sys
import subprocess
import tempfile
import time

LATENCIES_MS = tuple(int(v) for v in os.environ.get("SLOW_SUPPLY_LATENCIES", "10,300,2000").split(","))
ROUNDS = 3
SLACK = 0.05  # [s] the goal's allowance beyond the calls
PATIENCE_CALLS = 30  # calls' time after which a click counts as come to nothing


class Display:
    """Xvfb on a free display, without TCP."""

    def __init__(self, workdir):
        self.read_fd, write_fd = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-noreset", "-screen", "0",
                                        "1280x1024x24", "-nolisten", "tcp"], pass_fds=(write_fd,),
                                       stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(self.read_fd) as f:
            self.name = ":" + f.readline().strip()

    def close(self):
        self.server.terminate()
        self.server.wait()


def xdotool(display, *args, timeout=60):
    return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display), capture_output=True,
                          text=True, timeout=timeout).stdout


def places(build_find, display, names):
    """Each control's rectangle in the panel's window: name -> (x, y, w, h)."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = subprocess.run([build_find("widget_locator"), os.path.join(root, "railmon-ctrl.uir"), *names],
                         env=dict(os.environ, DISPLAY=display), capture_output=True, text=True, check=True,
                         timeout=60).stdout
    return {line.split()[0]: tuple(int(v) for v in line.split()[1:5]) for line in out.splitlines()}


class Railmon:
    program = None  # another railmon than the build's, when given

    def __init__(self, build, build_find, workdir, display, library_dir, env):
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        self.env = dict(os.environ, DISPLAY=display, LD_LIBRARY_PATH=library_dir, RAILMON_PANEL_DIR=root,
                        RAILMON_LOCK_DIR=workdir, XDG_RUNTIME_DIR=workdir, XDG_CONFIG_HOME=workdir,
                        TMI_SIM_STATE=os.path.join(workdir, "sim.state"), TMI_SIM_NOISE="0", **env)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.display = display
        self.process = subprocess.Popen([Railmon.program or build_find("railmon")], cwd=workdir, env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.lost = 0  # clicks that came to nothing and were made again
        self.find_panel()

    def find_panel(self):
        # The panel's title names the model; the window of start-up is only
        # "railmon". xdotool's --name took that window for "^railmon - ", so
        # the titles are compared here.
        end = time.monotonic() + 120
        while time.monotonic() < end:
            for window in xdotool(self.display, "search", "--onlyvisible", "--pid", str(self.process.pid),
                                  "--name", "railmon").split():
                if xdotool(self.display, "getwindowname", window).startswith("railmon - "):
                    self.window = window
                    time.sleep(0.5)  # mapped and laid out, as a person's first click comes
                    return
            time.sleep(0.05)
        raise RuntimeError("no railmon panel")

    def click_until(self, place, done, patience):
        """Clicks until `done()` holds within `patience` seconds of a click.
        A click that comes to nothing is made again, counted in `lost`, and
        the time measured is the one from the click that worked; railmon
        should lose none."""
        for _ in range(5):
            start = self.click(place)
            end = time.monotonic() + patience
            while time.monotonic() < end:
                if done(start):
                    return start
                time.sleep(0.005)
            self.lost += 1
            self.find_panel()
        raise RuntimeError("five clicks came to nothing")

    def click(self, place):
        x, y, w, h = place
        xdotool(self.display, "mousemove", "--window", self.window, str(x + w // 2), str(y + h // 2))
        start = time.monotonic()
        xdotool(self.display, "click", "1")
        return start

    def has_ended(self, _start):
        if self.process.poll() is None:
            return False
        self.ended_at = time.monotonic()
        return True

    def end(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def call_starts(path, name):
    """Start times of every call `name` the fake noted."""
    try:
        with open(path) as f:
            return [float(t) for t, n in (line.split() for line in f if line.strip()) if n == name]
    except FileNotFoundError:
        return []


def exit_times(build, build_find, display, where, latency, lost):
    times = []
    for _ in range(ROUNDS):
        with tempfile.TemporaryDirectory() as workdir:
            railmon = Railmon(build, build_find, workdir, display, os.path.join(build, "bin"),
                              {"TMI_SIM_LATENCY_MS": str(latency)})
            try:
                railmon.click(where["PANEL_TIMERONOFF"])
                time.sleep(1.0 + random.uniform(0, latency / 1000))
                # Patience for an older railmon too, which finished two
                # sweeps of twelve calls first.
                start = railmon.click_until(where["PANEL_EXIT"], railmon.has_ended, PATIENCE_CALLS * latency / 1000 + 5)
                times.append(railmon.ended_at - start)
                lost.append(railmon.lost)
            finally:
                railmon.end()
    return times


def call_times(build, build_find, display, where, latency, fake_dir, control, call, lost):
    """From a click on `control` to the start of the library call `call`."""
    times = []
    for _ in range(ROUNDS):
        with tempfile.TemporaryDirectory() as workdir:
            noted = os.path.join(workdir, "calls.times")
            railmon = Railmon(build, build_find, workdir, display, fake_dir,
                              {"TMI_FAKE_LATENCY_MS": str(latency), "TMI_FAKE_TIMES": noted})
            try:
                # The sweep under way first, so the click comes during a call.
                railmon.click_until(where["PANEL_TIMERONOFF"],
                                    lambda start: any(t >= start for t in call_starts(noted, "TMI_MoniDataQ")),
                                    14 * latency / 1000 + 3)
                time.sleep(random.uniform(0, latency / 1000))
                start = railmon.click_until(where[control],
                                            lambda start: any(t >= start for t in call_starts(noted, call)),
                                            PATIENCE_CALLS * latency / 1000 + 5)
                times.append(min(t for t in call_starts(noted, call) if t >= start) - start)
                lost.append(railmon.lost)
            finally:
                railmon.end()
    return times


def fake_library_dir(build):
    for sub in ("tests/fakes/complete", "tests/fake", "tests"):
        path = os.path.join(build, sub)
        if os.path.exists(os.path.join(path, "libTMI_API.so")):
            return path
    raise RuntimeError(f"no recording fake libTMI_API.so in {build}/tests")


def slow_supply(build, build_find, results, table):
    with tempfile.TemporaryDirectory() as workdir:
        display = Display(workdir)
        try:
            where = places(build_find, display.name, ["PANEL_EXIT", "PANEL_MAINOUTPUT", "PANEL_TIMERONOFF"])
            lines = []
            for latency in LATENCIES_MS:
                call = latency / 1000
                fake = fake_library_dir(build)
                lost = []
                stops = call_times(build, build_find, display.name, where, latency, fake, "PANEL_EXIT",
                                   "TMI_RemoteLocal", lost)
                exits = exit_times(build, build_find, display.name, where, latency, lost)
                offs = call_times(build, build_find, display.name, where, latency, fake, "PANEL_MAINOUTPUT",
                                  "TMI_MainOutput", lost)
                lines.append(f"{latency} ms/call: stop {stops} exit {exits} off {offs}; clicks made again {sum(lost)}")
                for what, times, goal, note in (
                        ("Exit click to the hand-back's first call", stops, call + SLACK, "1 call + 50 ms"),
                        ("Exit click to process end", exits, 3 * call + SLACK, "3 calls + 50 ms"),
                        ("off click to TMI_MainOutput", offs, call + SLACK, "1 call + 50 ms")):
                    worst = max(times)
                    table.add(f"{what}, {latency} ms per call (worst of {ROUNDS})", f"{1000 * worst:.0f} ms",
                              f"<= {1000 * goal:.0f} ms ({note})", worst <= goal)
            with open(os.path.join(results, "slow_supply.txt"), "w") as f:
                f.write("\n".join(lines) + "\n")
        finally:
            display.close()


if __name__ == "__main__":
    import argparse
    import sys

    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from run_bench import Table, find

    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--railmon")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    Railmon.program = args.railmon and os.path.abspath(args.railmon)
    results = os.path.join(build, "bench", "results")
    os.makedirs(results, exist_ok=True)
    table = Table()
    slow_supply(build, lambda name: find(build, name), results, table)
    table.print()
