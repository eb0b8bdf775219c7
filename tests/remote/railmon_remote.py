"""Starts railmon (or the harness) with remote control on a free port, in a
folder of its own, and stops it; shared by the remote-control tests."""
import os
import shutil
import socket
import subprocess
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Railmon:
    """railmon or railmon_harness against the recording fake (library='fake')
    or the simulated supply (library='sim'), remote control on at self.port."""

    def __init__(self, build, program=None, library="fake", env=None, script=None, port=None, wait=True):
        # Absolute: railmon runs in a folder of its own.
        build = self.build = os.path.abspath(build)
        self.work = tempfile.mkdtemp(prefix="railmon-remote-")
        self.port = port or free_port()
        self.calls = os.path.join(self.work, "calls")
        self.out_path = os.path.join(self.work, "out")
        run_env = dict(os.environ)
        run_env.update(QT_QPA_PLATFORM="offscreen", RAILMON_LOCK_DIR=self.work, TMI_FAKE_LOG=self.calls,
                       RAILMON_PANEL_DIR=os.path.join(build, "bin"),
                       TMI_SIM_STATE=os.path.join(self.work, "sim-state"))
        run_env.pop("LD_LIBRARY_PATH", None)
        if library == "fake":
            run_env["LD_LIBRARY_PATH"] = os.path.join(build, "tests", "fakes", "complete")
        if script is not None:
            run_env["RAILMON_SCRIPT"] = script
        run_env.update(env or {})
        program = os.path.abspath(program or os.path.join(build, "bin", "railmon"))
        self.out = open(self.out_path, "wb")
        self.process = subprocess.Popen([program, "--remote=%d" % self.port], cwd=self.work, env=run_env,
                                        stdout=self.out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        if wait:
            self.wait_for_output("Remote control on")

    def output(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_for_output(self, text, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.output():
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError("railmon never printed %r:\n%s" % (text, self.output()))

    def call_log(self):
        try:
            with open(self.calls) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def resource(self):
        return "TCPIP0::127.0.0.1::%d::SOCKET" % self.port

    def wait_exit(self, timeout=30):
        return self.process.wait(timeout)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.out.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def open_visa(resource, timeout_ms=10000):
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(resource)
    inst.read_termination = "\n"
    inst.write_termination = "\n"
    inst.timeout = timeout_ms
    return inst
