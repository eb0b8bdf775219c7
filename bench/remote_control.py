"""Remote control's cost, one client on loopback, railmon on the simulated
supply at 0 ms per call (its default), offscreen:

- `MEAS:VOLT? (@1)` round trip, median and 99th percentile, asked and
  waited for by scpi_client (C++, so no interpreter's time is in it): an
  upper bound of railmon's own time, which includes the sweep's three
  library calls (microseconds at 0 ms) and the loopback's two crossings.
- `*IDN?` answered per second by the same client.
- The pace run (timer at its fastest, logging on, main output on, both
  charts) with one client polling `FETC:VOLT? (@1:4)` as fast as it can:
  ticks delivered and chart repaints per tick (railmon_harness,
  RAILMON_COUNT=1, as run_bench.py's pace part).
- 1,000,000 commands from one client: railmon's resident memory growth.

run_bench.py runs it as its part "remote"; alone: bench/remote_control.py BUILD
"""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

INTERVAL = 0.05  # [s] the panel's fastest interval
PACE_SECONDS = 60
COMMANDS = 1_000_000


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def environment(workdir, build, extra=None):
    """As run_bench.py's pace part runs the harness: the simulated supply
    with its noise, so each tick's new points move the charts."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", RAILMON_LOCK_DIR=workdir, XDG_RUNTIME_DIR=workdir,
               XDG_CONFIG_HOME=workdir, RAILMON_PANEL_DIR=os.path.join(build, "bin"), TMI_SIM_STATE=os.path.join(workdir, "sim.state"),
               LD_LIBRARY_PATH=os.path.join(build, "bin"))
    env.update(extra or {})
    return env


def connect(port, process, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"railmon ended with {process.returncode} before it listened")
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=5)
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            return s
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("railmon never listened")


class Lines:
    """Request and answer over one socket, LF-terminated."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def ask(self, command):
        self.sock.sendall(command + b"\n")
        return self.read_line()

    def read_line(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("the connection closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line


def client(find, port, command, seconds):
    """scpi_client's ask-and-wait figures: answers, per_second, median_us, p99_us."""
    out = subprocess.run([find("scpi_client"), str(port), command, str(seconds)], capture_output=True, text=True,
                         check=True, timeout=seconds + 30).stdout.split()
    return {out[i]: float(out[i + 1]) for i in range(0, len(out), 2)}


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def railmon_alone(build, table, results, find):
    with tempfile.TemporaryDirectory() as workdir:
        port = free_port()
        process = subprocess.Popen([os.path.join(build, "bin", "railmon"), f"--remote={port}"], cwd=workdir,
                                   env=environment(workdir, build), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            connect(port, process).close()
            client(find, port, "MEAS:VOLT? (@1)", 1)  # warm-up
            meas = client(find, port, "MEAS:VOLT? (@1)", 5)
            table.add("remote MEAS:VOLT? (@1) round trip, median / p99 (railmon's own time and the loopback's)",
                      f"{meas['median_us']:.0f} / {meas['p99_us']:.0f} us", "<= 50 us / 200 us",
                      meas["median_us"] <= 50 and meas["p99_us"] <= 200)
            idn = client(find, port, "*IDN?", 5)
            table.add("remote *IDN? answered per second, one client asking and waiting",
                      f"{idn['per_second']:,.0f} (round trip {idn['median_us']:.0f} us)", ">= 20,000",
                      idn["per_second"] >= 20000)

            # A million commands, sent in batches and answered, so the
            # client never holds more than a batch unread.
            sock = connect(port, process)
            lines = Lines(sock)
            for _ in range(10000):
                lines.ask(b"*IDN?")
            before = resident_kib(process.pid)
            batch = 1000
            for _ in range(COMMANDS // batch):
                sock.sendall(b"INST:NSEL?\n" * batch)
                for _ in range(batch):
                    lines.read_line()
            after = resident_kib(process.pid)
            sock.close()
            growth = (after - before) / 1024
            table.add(f"remote {COMMANDS:,} commands, one client: resident memory",
                      f"{before:,} -> {after:,} kB ({growth:+.2f} MiB)", "growth <= 1 MiB", growth <= 1.0)
            with open(os.path.join(results, "remote_control.txt"), "w") as f:
                f.write(f"MEAS:VOLT? (@1) {meas}\n*IDN? {idn}\nresident kB {before} -> {after}\n")
        finally:
            process.terminate()
            process.wait(30)


def pace_with_client(build, table, results, find):
    with tempfile.TemporaryDirectory() as workdir:
        port = free_port()
        script = (f"click:SwitchOnOffCB;click:LogToFileCB;interval:{INTERVAL};click:TimerOnOffCB;wait:3000;count;"
                  f"wait:{PACE_SECONDS * 1000};count;click:ExitCB")
        process = subprocess.Popen([find("railmon_harness"), "-platform", "offscreen", f"--remote={port}"],
                                   cwd=workdir, env=environment(workdir, build, {"RAILMON_SCRIPT": script,
                                                                                 "RAILMON_COUNT": "1"}),
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        polls = [0]
        stop = threading.Event()

        def poll():
            try:
                lines = Lines(connect(port, process))
                while not stop.is_set():
                    lines.ask(b"FETC:VOLT? (@1:4)")
                    polls[0] += 1
            except (OSError, RuntimeError):
                pass

        client = threading.Thread(target=poll, daemon=True)
        client.start()
        out, _ = process.communicate(timeout=PACE_SECONDS + 120)
        stop.set()
        client.join(5)
        with open(os.path.join(results, "remote_pace.txt"), "w") as f:
            f.write(out)
        counts = [list(map(float, l.split()[1:])) for l in out.splitlines() if l.startswith("COUNT ")]
        if process.returncode != 0 or len(counts) != 2:
            table.add("remote pace", f"failed: exit {process.returncode}", "", False)
            return
        (w0, _, t0, i0, v0, _), (w1, _, t1, i1, v1, _) = counts
        wall = w1 - w0
        requested = wall / INTERVAL
        delivered = t1 - t0
        table.add(f"remote pace {INTERVAL:g} s, {wall:.0f} s, a client polling FETC:VOLT? (@1:4): ticks delivered",
                  f"{delivered:.0f} of {requested:.0f} = {100 * delivered / requested:.1f} % "
                  f"({polls[0] / wall:,.0f} polls/s)", ">= 99 %", delivered >= 0.99 * requested)
        per_tick = max((i1 - i0), (v1 - v0)) / delivered if delivered else 0
        table.add("remote pace: chart repaints per tick",
                  f"current {(i1 - i0) / delivered:.2f}, voltage {(v1 - v0) / delivered:.2f}", "1",
                  0.99 <= min(i1 - i0, v1 - v0) / delivered and per_tick <= 1.01)


def remote_control(build, find, results, table):
    railmon_alone(build, table, results, find)
    pace_with_client(build, table, results, find)


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from run_bench import Table, find

    build = os.path.abspath(sys.argv[1])
    results = os.path.join(build, "bench", "results")
    os.makedirs(results, exist_ok=True)
    table = Table()
    remote_control(build, lambda name: find(build, name), results, table)
    table.print()
