"""Cost of a channel table on the columnar path: 10 000 channels configured against none.

Run with the module importable (``make bench`` does it in .venv)::

    python benchmarks/bench_channels.py [--quick] [--repeats N]

Waveform triggers of 64 samples on 10 000 channels (in random order, so that lookups are not
helped by the order of the rows) are reconstructed by ``reconstruct_tarvo_numpy`` with

* ``no table``: the charge and time each from a ``LinearReco`` (the baseline);
* ``types``: the same, with ``extractors: {channels: {table: ...}}`` giving every record its
  channel's PMT type;
* ``types + per-channel lines``: the table configured, and charge and time each from a
  ``ChannelLinearReco`` reading its channel's line from the table.

The variants are timed in turn, repeat after repeat, and each figure is the median CPU time of
the calling thread; the machine's load average is printed before and after, since a loaded
machine widens the spread.  The target is a ratio of at most 1.15 to the baseline.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import orvane

CHANNELS = 10_000
TARGET = 1.15

LINE_KEYS = ("slope", "intercept", "slope_uncertainty", "intercept_uncertainty", "covariance")
CHARGE = (1.0 / 300.0, 0.0, 1e-4, 0.06, 0.0)
TIME = (1.0, -4e-9, 0.0, 1e-9, 0.0)

EXTRACTORS = "extractors:\n  Tarvo:\n    drop_bad_edge: true\n    drop_bad_integral: false\n"
WINDOWS = {"charge": ("-300.0", "4.0e6"), "time": ("-.inf", ".inf")}
FEATURES = {"charge": "waveform_integral", "time": "rising_edge_time"}


def reconstructor(prop: str, per_channel: bool) -> str:
    low, high = WINDOWS[prop]
    text = (
        f"  {prop}:\n    class: {'ChannelLinearReco' if per_channel else 'LinearReco'}\n"
        f"    feature: {FEATURES[prop]}\n    hit_property: {prop}\n    pmt_type: -1\n"
        f"    min_value: {low}\n    max_value: {high}\n"
    )
    if per_channel:
        return text + f"    table: channels.csv\n    columns: {prop}\n"
    line = CHARGE if prop == "charge" else TIME
    return text + "".join(f"    {k}: {v!r}\n" for k, v in zip(LINE_KEYS, line))


def settings(table: bool, per_channel: bool) -> str:
    text = EXTRACTORS
    if table:
        text += "  channels:\n    table: channels.csv\n"
    return (
        text + "reco:\n" + reconstructor("charge", per_channel) + reconstructor("time", per_channel)
    )


def write_table(path: Path, rng: np.random.Generator) -> None:
    """10 000 channels of two types; every row holds the baseline's lines, so the hits of the
    three variants are the same and the comparison is of equal work."""
    header = ["channel", "pmt_type"]
    header += [f"{p}_{k}" for p in ("charge", "time") for k in LINE_KEYS]
    types = rng.integers(0, 2, CHANNELS)
    numbers = ",".join(repr(v) for v in (*CHARGE, *TIME))
    lines = [",".join(header)] + [f"{c},{types[c]},{numbers}" for c in range(CHANNELS)]
    path.write_text("\n".join(lines) + "\n")


def simulate(n: int, rng: np.random.Generator) -> tuple[np.ndarray, np.ndarray]:
    """Trigger rows on random channels and an (n, 64) block of noisy pulses."""
    length = 64
    rows = np.zeros(n, orvane.tarvo_trigger_dtype)
    rows["channel"] = rng.integers(0, CHANNELS, n)
    ticks = np.cumsum(rng.integers(1, 5000, n))
    rows["trigger_time_s"] = ticks // 250_000_000
    rows["trigger_time_ticks"] = ticks % 250_000_000
    rows["baseline"] = 1000.0
    block = np.empty((n, length), np.uint16)
    t = np.arange(length, dtype=np.float64)
    for first in range(0, n, 65536):
        m = min(65536, n - first)
        start = rng.uniform(10, 20, m)[:, None]
        height = rng.exponential(150.0, m)[:, None]
        dt = np.clip(t[None, :] - start, 0.0, None)
        pulse = height * (np.exp(-dt / 5.0) - np.exp(-dt / 0.8))
        block[first : first + m] = np.clip(
            np.rint(1000.0 + rng.normal(0, 2.0, (m, length)) + pulse), 0, 65535
        )
    return rows, block


def load() -> str:
    one, five, _ = os.getloadavg()
    return f"load average {one:.2f} (1 min), {five:.2f} (5 min) on {os.cpu_count()} CPUs"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke test")
    parser.add_argument("--repeats", type=int, default=9, help="timed repeats per variant")
    args = parser.parse_args(argv)
    n = 1_000_000 // (20 if args.quick else 1)
    print(
        f"\nChannel table on the columnar path: {n} waveform triggers of 64 samples, "
        f"{CHANNELS} channels; {load()}"
    )
    rng = np.random.default_rng(3)
    rows, block = simulate(n, rng)
    with tempfile.TemporaryDirectory() as raw:
        tmp = Path(raw)
        write_table(tmp / "channels.csv", rng)
        variants = {
            "no table": (False, False),
            "types": (True, False),
            "types + per-channel lines": (True, True),
        }
        recos = {}
        for name, (table, per_channel) in variants.items():
            path = tmp / f"{len(recos)}.yaml"
            path.write_text(settings(table, per_channel))
            recos[name] = orvane.ChargeReconstruction(str(path))
        hits = {name: reco.reconstruct_tarvo_numpy(rows, block) for name, reco in recos.items()}
        same = all(h.tobytes() == hits["no table"].tobytes() for h in hits.values())
        cpu: dict[str, list[float]] = {name: [] for name in recos}
        for _ in range(args.repeats):
            for name, reco in recos.items():
                start = time.thread_time()
                reco.reconstruct_tarvo_numpy(rows, block)
                cpu[name].append(time.thread_time() - start)
    base = statistics.median(cpu["no table"])
    print(f"{'variant':>26}  {'CPU [ms]':>9}  {'ns/trigger':>10}  {'ratio':>6}")
    for name, times in cpu.items():
        median = statistics.median(times)
        print(f"{name:>26}  {median * 1e3:9.1f}  {median / n * 1e9:10.1f}  {median / base:5.2f}x")
    worst = max(statistics.median(t) for t in cpu.values()) / base
    print(
        f"median of {args.repeats}; the hits of every variant are "
        f"{'identical' if same else 'NOT identical'}; worst ratio {worst:.2f}x "
        f"(target {TARGET:.2f}x: {'met' if worst <= TARGET else 'NOT met'}); {load()}"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
