#!/usr/bin/python3
"""I-V sweep of CH +6V through railmon's remote control, with PyVISA.

Start railmon with remote control on (railmon --remote, or tick "Remote
control"), then:

    python3 iv_sweep.py --port 5025 --csv iv.csv --png iv.png

It sets a current limit, switches the main output on, steps CH +6V from 0 V
to 6 V, measuring the current at each step, switches the output off again
and writes the points as CSV and as a plot. Against the simulated supply,
TMI_SIM_LOAD=100,100,10,10 puts 10 ohm on CH +6V.
"""
import argparse
import csv
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt  # noqa: E402
import pyvisa  # noqa: E402

CHANNEL = 3  # CH +6V


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=5025)
    parser.add_argument("--to", type=float, default=6.0, help="last voltage [V]")
    parser.add_argument("--step", type=float, default=0.5, help="voltage step [V]")
    parser.add_argument("--limit", type=float, default=1.0, help="current limit [A]")
    parser.add_argument("--csv", default="iv.csv")
    parser.add_argument("--png", default="iv.png")
    args = parser.parse_args()

    rm = pyvisa.ResourceManager("@py")
    supply = rm.open_resource("TCPIP0::127.0.0.1::%d::SOCKET" % args.port)
    supply.read_termination = supply.write_termination = "\n"
    supply.timeout = 10000
    print(supply.query("*IDN?"))

    steps = int(round(args.to / args.step))
    points = []
    supply.write("*CLS;VOLT 0,(@%d);CURR %g,(@%d);OUTP ON" % (CHANNEL, args.limit, CHANNEL))
    try:
        for i in range(steps + 1):
            volts = i * args.step
            supply.write("VOLT %.3f,(@%d)" % (volts, CHANNEL))
            measured = [float(x) for x in supply.query("MEAS:VOLT? (@%d);CURR? (@%d)" % (CHANNEL, CHANNEL)).split(";")]
            points.append((volts, measured[0], measured[1]))
    finally:
        supply.write("OUTP OFF")
    error = supply.query("SYST:ERR?")
    supply.close()
    if not error.startswith("0,"):
        print("railmon reported:", error, file=sys.stderr)
        return 1

    with open(args.csv, "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["setpoint_V", "measured_V", "measured_A"])
        writer.writerows(points)
    fig, ax = plt.subplots(figsize=(6, 4))
    ax.plot([p[1] for p in points], [p[2] for p in points], "o-")
    ax.set_xlabel("Voltage [V]")
    ax.set_ylabel("Current [A]")
    ax.set_title("CH +6V I-V sweep")
    ax.grid(True)
    fig.tight_layout()
    fig.savefig(args.png)
    print("%d points written to %s and %s" % (len(points), args.csv, args.png))
    return 0


if __name__ == "__main__":
    sys.exit(main())
