#!/usr/bin/env python3
"""Values per second of quorvex.Card.read against the C++ interface's block
reader, on the same simulated capture: reads of 10000 scans of 16 analog
inputs (ranges 0..3 in turn), in batches of 8, the module fed outside the
timed region as bench/retrieval_bench.cpp feeds it for BM_BlockReader.

    python3 bench/python_read_bench.py [--repeats 5] [--seconds 1]

Each repeat runs the C++ benchmark, then the Python reads for about as long,
so that both see the same load. Rates are given per second of wall time and
per second of the reading thread's CPU time (steadier on a loaded machine);
the summary gives the medians of the paired ratios.
"""

import argparse
import ctypes
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

CHECKOUT = Path(__file__).resolve().parent.parent
try:
    import quorvex
except ImportError:  # run from a checkout without installing the package
    sys.path.insert(0, str(CHECKOUT / "python"))
    import quorvex
from quorvex.sim import Simulator

SCANS, INPUTS, BATCH = 10000, 16, 8


def cpp_rates(program: Path, seconds: float) -> tuple[float, float]:
    """Values per wall second and per CPU second of BM_BlockReader/16."""
    result = subprocess.run(
        [str(program), "--benchmark_filter=^BM_BlockReader/16$", "--benchmark_format=json",
         f"--benchmark_min_time={seconds}"], capture_output=True, text=True, check=True)
    figures = json.loads(result.stdout)["benchmarks"][0]
    assert figures["time_unit"] == "us"
    return figures["values/s"], BATCH * SCANS * INPUTS / (figures["cpu_time"] * 1e-6)


class PythonReads:
    """Card 0 set up as BM_BlockReader sets it up: the module runs on its
    manual clock in pattern mode, the library's worker stays off and the
    benchmark fetches for it."""

    def __init__(self) -> None:
        self.sim = Simulator()
        self.sim.reset()
        self.sim.set_clock(0)
        self.sim.set_pattern(0)
        self.sim.lib.kestro_sim_log_enable(0)
        self.card = quorvex.Card(0)
        self.card.configure_scan(ai=range(INPUTS), ranges=[quorvex.Range(k % 4) for k in
                                                           range(INPUTS)], rate=1000)
        if self.sim.driver.ZQ7_AD_Start(0) != 0:
            raise RuntimeError("the module did not start")
        self.count = ctypes.c_int32()

    def feed(self) -> None:
        for _ in range(BATCH):
            self.sim.advance(0, SCANS)
            self.count.value = SCANS
            if self.sim.driver.ZQ7_AD_ReadData_MixedChannels(0, ctypes.byref(self.count)) != 0:
                raise RuntimeError("the driver's fetch failed")

    def rates(self, read, seconds: float) -> tuple[float, float]:
        """Values per wall second and per CPU second of `read()`, timed over
        batches for `seconds`."""
        wall, cpu, batches = 0.0, 0.0, 0
        while wall < seconds:
            self.feed()
            begin, begin_cpu = time.perf_counter(), time.thread_time()
            for _ in range(BATCH):
                read()
            wall += time.perf_counter() - begin
            cpu += time.thread_time() - begin_cpu
            batches += 1
        values = batches * BATCH * SCANS * INPUTS
        return values / wall, values / cpu


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=1.0, help="timed seconds per figure")
    parser.add_argument("--cpp", type=Path,
                        default=CHECKOUT / "build" / "default" / "bin" / "qvx_retrieval_bench")
    options = parser.parse_args()

    reads = PythonReads()
    out = np.empty((SCANS, INPUTS))
    reads.feed()  # read the whole batch, so that the driver's FIFO starts empty
    first = reads.card.read(SCANS * BATCH, scaled=False)[0]
    expected = [reads.sim.pattern("ai", k, 0, 1)[0] for k in range(INPUTS)]
    if first.tolist() != expected:
        raise RuntimeError("the reads do not deliver the module's pattern")
    # The two C calls of a read through ctypes alone, without the package.
    lib, count = reads.card._lib, ctypes.c_int32()
    address, pointer = out.ctypes.data, ctypes.pointer(count)

    def bare_calls():
        lib.SwitchCard(0)
        count.value = SCANS
        lib.GetScaledData(0, address, pointer, 0)

    variants = {"read(10000)": lambda: reads.card.read(SCANS),
                "read(10000, out=buffer)": lambda: reads.card.read(SCANS, out=out),
                "bare ctypes calls": bare_calls}

    print(f"values/s of reads of {SCANS} scans x {INPUTS} inputs, per wall / CPU second "
          "(G = 1e9; Python as a share of C++)")
    figures = {"C++ block_reader": [], **{name: [] for name in variants}}
    for _ in range(options.repeats):
        figures["C++ block_reader"].append(cpp_rates(options.cpp, options.seconds))
        for name, read in variants.items():
            figures[name].append(reads.rates(read, options.seconds))
        cpp_wall, cpp_cpu = figures["C++ block_reader"][-1]
        line = [f"C++ block_reader {cpp_wall / 1e9:.2f}G/{cpp_cpu / 1e9:.2f}G"]
        for name in variants:
            wall, cpu = figures[name][-1]
            line.append(f"{name} {wall / 1e9:.2f}G/{cpu / 1e9:.2f}G "
                        f"({wall / cpp_wall:.0%}/{cpu / cpp_cpu:.0%})")
        print("  ".join(line))
    cpp = figures.pop("C++ block_reader")
    print("medians:")
    print(f"  C++ block_reader: {statistics.median(w for w, _ in cpp) / 1e9:.2f}G values/s, "
          f"{statistics.median(c for _, c in cpp) / 1e9:.2f}G per CPU second")
    for name, rates in figures.items():
        wall = statistics.median(p[0] / c[0] for p, c in zip(rates, cpp))
        cpu = statistics.median(p[1] / c[1] for p, c in zip(rates, cpp))
        print(f"  {name}: {statistics.median(w for w, _ in rates) / 1e9:.2f}G values/s; "
              f"Python overhead {1 - wall:.1%} of wall time, {1 - cpu:.1%} of CPU time")
    reads.card.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
