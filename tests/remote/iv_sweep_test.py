"""docs/examples/iv_sweep.py against the simulated supply with 10 ohm on
CH +6V: every step's current is the load's, and a plot is written.

    iv_sweep_test.py BUILD_DIR SOURCE_DIR
"""
import csv
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from railmon_remote import Railmon  # noqa: E402

build, source = (os.path.abspath(p) for p in sys.argv[1:3])
with Railmon(build, library="sim", env={"TMI_SIM_LOAD": "100,100,10,10", "TMI_SIM_NOISE": "0"}) as railmon:
    out_csv, out_png = (os.path.join(railmon.work, name) for name in ("iv.csv", "iv.png"))
    run = subprocess.run(["/usr/bin/python3", os.path.join(source, "docs", "examples", "iv_sweep.py"), "--port",
                          str(railmon.port), "--csv", out_csv, "--png", out_png], capture_output=True, text=True,
                         timeout=120)
    print(run.stdout, run.stderr)
    assert run.returncode == 0, "the example failed"
    with open(out_csv) as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == 13, rows
    for row in rows:
        volts, amps = float(row["measured_V"]), float(row["measured_A"])
        assert abs(amps - volts / 10) < 0.01, row
    assert abs(float(rows[-1]["measured_A"]) - 0.6) < 0.01, rows[-1]
    with open(out_png, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n", "no PNG written"
print("iv sweep: 1 passed, 0 failed")
