#!/usr/bin/env python3
"""Captures one second of four analog inputs and a counter from card 0 and
plots it with matplotlib, when it is installed.

    python3 examples/python_capture.py [picture.png]

On the simulated module the inputs carry a sine, a square wave, a ramp and
noise, and the counter counts a 200 Hz signal; a real module shows what its
inputs see.
"""

import sys
from pathlib import Path

import numpy as np

try:
    import quorvex
except ImportError:  # run from a checkout without installing the package
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))
    import quorvex

RATE = 1000  # scans per second


def steer_the_simulator():
    from quorvex.sim import Simulator

    try:
        sim = Simulator()
    except RuntimeError:
        return  # a real driver
    sim.set_signal(0, 0, "sine", amplitude=2.0, frequency=5.0)
    sim.set_signal(0, 1, "square", amplitude=1.0, offset=-3.0, frequency=3.0)
    sim.set_signal(0, 2, "ramp", amplitude=1.5, offset=3.0, frequency=2.0)
    sim.set_signal(0, 3, "noise", amplitude=0.5, offset=6.0)
    sim.set_counter_input(0, 0, 200.0)


def main() -> int:
    picture = sys.argv[1] if len(sys.argv) > 1 else "capture.png"
    steer_the_simulator()
    with quorvex.Card(0) as card:
        print(card.info().name, "-", quorvex.version())
        card.configure_scan(ai=[0, 1, 2, 3], ranges=10, counters=[0], rate=RATE)
        card.start_capture()
        blocks = []
        for block in card.blocks(250, count=RATE):  # one second in four blocks
            print(f"scans {block.first_scan}..{block.first_scan + block.scans - 1}")
            blocks.append(block.data)
        data = np.concatenate(blocks)
        names, units = card.slot_names, [slot.unit for slot in card.slots]
    for name, unit, column in zip(names, units, data.T):
        print(f"{name}: {column.min():10.4f} .. {column.max():10.4f} {unit}")

    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed (Debian: apt install python3-matplotlib), "
              "so no picture was drawn")
        return 0
    seconds = np.arange(len(data)) / RATE
    figure, (volts, counts) = plt.subplots(2, 1, sharex=True, figsize=(9, 6),
                                           gridspec_kw={"height_ratios": [3, 1]})
    for k, name in enumerate(names[:4]):
        volts.plot(seconds, data[:, k], label=name)
    volts.set_ylabel("V")
    volts.set_ylim(-5, 8.5)
    volts.legend(loc="upper left", ncol=4)
    counts.plot(seconds, data[:, 4], color="black")
    counts.set_ylabel(f"{names[4]} (counts)")
    counts.set_xlabel("s")
    figure.suptitle("One second from card 0")
    figure.savefig(picture, dpi=100)
    print(f"wrote {picture}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
