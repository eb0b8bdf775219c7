"""The operator's hold on a slow supply, with real X events: from a click on
Exit to the process's end, and from a click on the main output switch (on)
to the library's TMI_MainOutput call, at 10 ms, 300 ms and 2 s per call.

Exit runs on the simulated supply (TMI_SIM_LATENCY_MS). The switch-off runs
on the recording fake (TMI_FAKE_LATENCY_MS, the same per-call delay), which
notes when each call starts (TMI_FAKE_TIMES), on the same monotonic clock as
the click's. Both click while the timer's sweep is under way, at a random
moment of a call, so a figure includes the rest of the call in progress.

An Exit waits for the call under way and then hands the supply back (two
calls: TMI_RemoteLocal, TMI_HandleClose), so its goal is three calls and
50 ms; a switch-off's is one call and 50 ms.

run_bench.py runs it as its part "slow"; alone, with another railmon (an
older build's, for a before and after):

    bench/slow_supply.py BUILD [--railmon PATH]
"""
import os
import random
import subprocess
import tempfile
import time

LATENCIES_MS = (10, 300, 2000)
ROUNDS = 3
SLACK = 0.05  # [s] the goal's allowance beyond the calls


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
                        RAILMON_LOCK_DIR=workdir, XDG_RUNTIME_DIR=workdir, TMI_SIM_STATE=os.path.join(
                            workdir, "sim.state"), TMI_SIM_NOISE="0", **env)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.display = display
        self.process = subprocess.Popen([Railmon.program or build_find("railmon")], cwd=workdir, env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The panel's title names the model; the window of start-up is only "railmon".
        found = xdotool(display, "search", "--sync", "--onlyvisible", "--pid", str(self.process.pid), "--name",
                        "^railmon - ", timeout=120).split()
        if not found:
            raise RuntimeError("no railmon panel")
        self.window = found[0]
        time.sleep(0.5)  # mapped and laid out, as a person's first click comes

    def click(self, place):
        x, y, w, h = place
        xdotool(self.display, "mousemove", "--window", self.window, str(x + w // 2), str(y + h // 2))
        start = time.monotonic()
        xdotool(self.display, "click", "1")
        return start

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


def exit_times(build, build_find, display, where, latency):
    times = []
    for _ in range(ROUNDS):
        with tempfile.TemporaryDirectory() as workdir:
            railmon = Railmon(build, build_find, workdir, display, os.path.join(build, "bin"),
                              {"TMI_SIM_LATENCY_MS": str(latency)})
            try:
                railmon.click(where["PANEL_TIMERONOFF"])
                time.sleep(1.0 + random.uniform(0, latency / 1000))
                start = railmon.click(where["PANEL_EXIT"])
                railmon.process.wait(timeout=120)
                times.append(time.monotonic() - start)
            finally:
                railmon.end()
    return times


def off_times(build, build_find, display, where, latency, fake_dir):
    times = []
    for _ in range(ROUNDS):
        with tempfile.TemporaryDirectory() as workdir:
            noted = os.path.join(workdir, "calls.times")
            railmon = Railmon(build, build_find, workdir, display, fake_dir,
                              {"TMI_FAKE_LATENCY_MS": str(latency), "TMI_FAKE_TIMES": noted})
            try:
                railmon.click(where["PANEL_TIMERONOFF"])
                time.sleep(1.0 + random.uniform(0, latency / 1000))
                start = railmon.click(where["PANEL_MAINOUTPUT"])
                deadline = time.monotonic() + 150
                while time.monotonic() < deadline:
                    after = [t for t in call_starts(noted, "TMI_MainOutput") if t >= start]
                    if after:
                        times.append(after[0] - start)
                        break
                    time.sleep(0.005)
                else:
                    raise RuntimeError("no TMI_MainOutput within 150 s of the click")
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
                exits = exit_times(build, build_find, display.name, where, latency)
                offs = off_times(build, build_find, display.name, where, latency, fake_library_dir(build))
                lines.append(f"{latency} ms/call: exit {exits} off {offs}")
                worst = max(exits)
                table.add(f"Exit click to process end, {latency} ms per call (worst of {ROUNDS})",
                          f"{1000 * worst:.0f} ms", f"<= {1000 * (3 * call + SLACK):.0f} ms (3 calls + 50 ms)",
                          worst <= 3 * call + SLACK)
                worst = max(offs)
                table.add(f"off click to TMI_MainOutput, {latency} ms per call (worst of {ROUNDS})",
                          f"{1000 * worst:.0f} ms", f"<= {1000 * (call + SLACK):.0f} ms (1 call + 50 ms)",
                          worst <= call + SLACK)
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
