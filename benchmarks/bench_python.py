"""Throughput of the Python face: the object API, the columnar path and a pure-NumPy baseline.

Run with the module importable (``make bench`` does it in .venv)::

    python benchmarks/bench_python.py [--quick] [--repeats N]

Every figure is the median of several repeats measured side by side in one run, as CPU time of
the calling thread (the columnar path works in the calling thread with the interpreter lock
released; NumPy's loops here are single-threaded too), so that other load on a shared machine
does not count; wall-clock medians are printed next to them.

Tables:

1. Reconstruction of waveform triggers, 64 and 1024 samples per waveform: the object API
   (``ChargeReconstruction.reconstruct`` on a list of ``TarvoTrigger``, including the list
   conversion), the columnar path (``reconstruct_tarvo_numpy``) with one and with two linear
   reconstructors, and the same extraction and calibration written in vectorised NumPy, the
   baseline a user would otherwise write (checked to give the same hits).
2. The four NumPy conversion functions against a plain NumPy copy of the same bytes.
3. The columnar path with 1 and 2 threads (``threads=``): wall-clock speed-up with the load
   average printed, and, for a busy machine, the speed-up the CPU times give (one thread's CPU
   time over half the two threads' total: what two idle cores would reach) with the share of
   the wall time the two threads were on a core.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import threading
import time
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

import numpy as np

import orvane

SECONDS_PER_TICK = 4e-9

# Waveform extraction with the rising-edge drop (as the example settings), the charge from the
# integral and the time from the rising edge, each a LinearReco.
CHARGE = {
    "slope": 1.0 / 300.0,
    "intercept": 0.0,
    "slope_uncertainty": 1e-4,
    "intercept_uncertainty": 0.06,
    "covariance": 0.0,
    "min_value": -300.0,
    "max_value": 4e6,
}
TIME = {
    "slope": 1.0,
    "intercept": -4e-9,
    "slope_uncertainty": 0.0,
    "intercept_uncertainty": 1e-9,
    "covariance": 0.0,
    "min_value": -np.inf,
    "max_value": np.inf,
}


def linear_block(name: str, feature: str, prop: str, p: dict[str, float]) -> str:
    def number(v: float) -> str:
        return ".inf" if v == np.inf else "-.inf" if v == -np.inf else repr(float(v))

    keys = "\n".join(f"    {k}: {number(v)}" for k, v in p.items())
    return (
        f"  {name}:\n    class: LinearReco\n    feature: {feature}\n"
        f"    hit_property: {prop}\n    pmt_type: -1\n{keys}\n"
    )


def settings_text(with_time: bool) -> str:
    text = "extractors:\n  Tarvo:\n    drop_bad_edge: true\n    drop_bad_integral: false\nreco:\n"
    text += linear_block("charge", "waveform_integral", "charge", CHARGE)
    if with_time:
        text += linear_block("time", "rising_edge_time", "time", TIME)
    return text


# --- Data ----------------------------------------------------------------------------------


def simulate(n: int, length: int, seed: int = 1) -> tuple[np.ndarray, np.ndarray]:
    """Trigger rows and an (n, length) block of pulses on a fractional baseline near 1000 LSB
    with noise, made in chunks to keep the temporaries small."""
    rng = np.random.default_rng(seed)
    rows = np.zeros(n, orvane.tarvo_trigger_dtype)
    rows["channel"] = np.arange(n) % 128
    ticks = np.cumsum(rng.integers(1, 5000, n))
    rows["trigger_time_s"] = ticks // 250_000_000
    rows["trigger_time_ticks"] = ticks % 250_000_000
    rows["baseline"] = (1000.0 + rng.uniform(-5, 5, n)).astype(np.float32)
    block = np.empty((n, length), np.uint16)
    t = np.arange(length, dtype=np.float64)
    for first in range(0, n, 65536):
        m = min(65536, n - first)
        start = rng.uniform(length * 0.15, length * 0.3, m)[:, None]
        height = rng.exponential(150.0, m)[:, None]
        dt = np.clip(t[None, :] - start, 0.0, None)
        pulse = height * (np.exp(-dt / 5.0) - np.exp(-dt / 0.8))
        noisy = rows["baseline"][first : first + m, None] + rng.normal(0, 2.0, (m, length)) + pulse
        block[first : first + m] = np.clip(np.rint(noisy), 0, 65535)
    return rows, block


def objects(rows: np.ndarray, block: np.ndarray) -> list[orvane.TarvoTrigger]:
    out = []
    for row, waveform in zip(rows.tolist(), block.tolist()):
        trigger = orvane.TarvoTrigger()
        trigger.channel, trigger.trigger_time_s, trigger.trigger_time_ticks = row[:3]
        trigger.baseline = row[3]
        trigger.waveform = waveform
        out.append(trigger)
    return out


# --- The pure-NumPy baseline ------------------------------------------------------------------


def numpy_reconstruct(rows: np.ndarray, block: np.ndarray, run_number: int) -> np.ndarray:
    """The same extraction, edge drop and two linear reconstructors in vectorised NumPy, for
    baselines where the integral through the integer sum is exact (as here)."""
    n, length = block.shape
    baseline = rows["baseline"]
    integral = block.sum(axis=1, dtype=np.uint64).astype(np.float64) - np.float64(
        length
    ) * baseline.astype(np.float64)
    diffs = np.diff(block.astype(np.int32), axis=1)
    k = diffs.argmax(axis=1)  # the first maximum: the lowest index wins ties
    index = np.arange(n)
    km = np.clip(k, 1, length - 3)
    y1 = diffs[index, km - 1].astype(np.float64)
    y2 = diffs[index, km].astype(np.float64)
    y3 = diffs[index, km + 1].astype(np.float64)
    x1, x2, x3 = (km - 1).astype(np.float64), km.astype(np.float64), (km + 1).astype(np.float64)
    r = (x3 - x1) / (x2 - x1)
    a = ((y3 - y1) - (y2 - y1) * r) / ((x3 * x3 - x1 * x1) - r * (x2 * x2 - x1 * x1))
    b = ((y2 - y1) - a * (x2 * x2 - x1 * x1)) / (x2 - x1)
    with np.errstate(divide="ignore", invalid="ignore"):  # rows at k = 0 are not used
        vertex = -b / (a + a) + 1.0
    edge = np.where(k == 0, 0.0, np.where(k == length - 2, float(length), vertex))
    at_edge = block[index, np.clip(edge.astype(np.int64), 0, length - 1)].astype(np.float32)
    keep = (edge != 0.0) & (edge != length) & ~(baseline > at_edge)
    trigger_time = (
        rows["trigger_time_s"].astype(np.float64)
        + rows["trigger_time_ticks"].astype(np.float64) * SECONDS_PER_TICK
    ) - 0.0 * 1e-9
    rising_edge = edge * SECONDS_PER_TICK + trigger_time

    def linear(x: np.ndarray, p: dict[str, float]) -> tuple[np.ndarray, np.ndarray]:
        value = p["slope"] * x + p["intercept"]
        variance = (
            ((x * x) * p["slope_uncertainty"]) * p["slope_uncertainty"]
            + p["intercept_uncertainty"] * p["intercept_uncertainty"]
        ) + (x + x) * p["covariance"]
        uncertainty = np.sqrt(variance)
        acted = ~(p["min_value"] > x) & ~(x >= p["max_value"])
        taken = acted & ~(uncertainty >= np.inf)  # the update rule against +infinity
        return np.where(taken, value, 0.0), np.where(taken, uncertainty, np.inf)

    charge, charge_unc = linear(integral, CHARGE)
    time_, time_unc = linear(rising_edge, TIME)
    largest = np.finfo(np.float64).max
    keep &= (rows["channel"] >= 0) & (time_unc <= largest) & (charge_unc <= largest)
    out = np.empty(int(keep.sum()), orvane.hit_dtype)
    out["channel"] = rows["channel"][keep]
    out["id"] = ((run_number & 0xFFFFFFFF) << 32) | (index[keep].astype(np.int64) << 4)
    out["time"] = time_[keep]
    out["charge"] = charge[keep]
    out["time_uncertainty"] = time_unc[keep]
    out["charge_uncertainty"] = charge_unc[keep]
    return out


# --- Timing --------------------------------------------------------------------------------


@dataclass
class Timing:
    cpu: float  # median CPU seconds of the calling thread
    wall: float  # median wall-clock seconds


def measure(work: Callable[[], object], repeats: int) -> Timing:
    work()  # warm up (page faults of first-touch output, caches)
    cpu, wall = [], []
    for _ in range(repeats):
        c0, w0 = time.thread_time(), time.perf_counter()
        work()
        cpu.append(time.thread_time() - c0)
        wall.append(time.perf_counter() - w0)
    return Timing(statistics.median(cpu), statistics.median(wall))


def same_hits(a: np.ndarray, b: np.ndarray) -> bool:
    return a.shape == b.shape and all(a[f].tobytes() == b[f].tobytes() for f in a.dtype.names)


def table(title: str, header: list[str], lines: list[list[str]]) -> None:
    widths = [max(len(h), *(len(line[i]) for line in lines)) for i, h in enumerate(header)]
    print(f"\n{title}")
    print("  ".join(h.rjust(w) for h, w in zip(header, widths)))
    for line in lines:
        print("  ".join(c.rjust(w) for c, w in zip(line, widths)))


def reconstruction(length: int, n: int, n_objects: int, repeats: int, tmp: Path) -> None:
    two = tmp / "two.yaml"
    one = tmp / "one.yaml"
    two.write_text(settings_text(True))
    one.write_text(settings_text(False))
    reco = orvane.ChargeReconstruction(str(two))
    reco_one = orvane.ChargeReconstruction(str(one))
    rows, block = simulate(n, length)
    run = orvane.RunInfo.simulation_run().run_number

    columnar = reco.reconstruct_tarvo_numpy(rows, block)
    baseline = numpy_reconstruct(rows, block, run)
    obj = objects(rows[:n_objects], block[:n_objects])
    object_hits = orvane.hit_list_to_numpy(reco.reconstruct(obj))
    agree = same_hits(baseline, columnar) and same_hits(
        object_hits, reco.reconstruct_tarvo_numpy(rows[:n_objects], block[:n_objects])
    )

    def two_threads() -> None:
        half = n // 2
        worker = threading.Thread(
            target=reco.reconstruct_tarvo_numpy, args=(rows[half:], block[half:], None, half)
        )
        worker.start()
        reco.reconstruct_tarvo_numpy(rows[:half], block[:half])
        worker.join()

    cases: list[tuple[str, int, Callable[[], object]]] = [
        ("object API: reconstruct(list)", n_objects, lambda: reco.reconstruct(obj)),
        (
            "object API + hit_list_to_numpy",
            n_objects,
            lambda: orvane.hit_list_to_numpy(reco.reconstruct(obj)),
        ),
        ("columnar, 1 linear reco", n, lambda: reco_one.reconstruct_tarvo_numpy(rows, block)),
        ("columnar, 2 linear recos", n, lambda: reco.reconstruct_tarvo_numpy(rows, block)),
        ("pure NumPy, 2 linear recos", n, lambda: numpy_reconstruct(rows, block, run)),
        ("plain sum (NumPy, uint64)", n, lambda: block.sum(axis=1, dtype=np.uint64)),
    ]
    results = {name: (count, measure(work, repeats)) for name, count, work in cases}
    wall_2t = measure(two_threads, repeats).wall

    def ns(name: str) -> float:
        count, timing = results[name]
        return timing.cpu / count * 1e9

    lines = []
    for name, (count, timing) in results.items():
        per = timing.cpu / count * 1e9
        lines.append(
            [
                name,
                f"{count}",
                f"{timing.cpu * 1e3:.1f}",
                f"{timing.wall * 1e3:.1f}",
                f"{per:.1f}",
                f"{1e3 / per:.2f}",
            ]
        )
    lines.append(
        [
            "columnar, 2 recos, 2 threads (wall)",
            f"{n}",
            "",
            f"{wall_2t * 1e3:.1f}",
            f"{wall_2t / n * 1e9:.1f}",
            f"{n / wall_2t / 1e6:.2f}",
        ]
    )
    table(
        f"Waveform triggers of {length} samples (median of {repeats}; the NumPy baseline "
        f"{'gives the same hits' if agree else 'DIFFERS'} as the columnar path, and so does the "
        "object API)",
        ["path", "triggers", "CPU [ms]", "wall [ms]", "ns/trigger", "Mtrig/s"],
        lines,
    )
    col = ns("columnar, 2 linear recos")
    print(
        f"ratios: pure NumPy / columnar = {ns('pure NumPy, 2 linear recos') / col:.1f}x; "
        f"object API / columnar = {ns('object API: reconstruct(list)') / col:.1f}x; "
        f"columnar throughput / plain NumPy sum throughput = "
        f"{ns('plain sum (NumPy, uint64)') / col:.2f}"
    )


def conversions(n: int, repeats: int, tmp: Path) -> None:
    # Realistic rows: the hits and feature records of simulated waveform triggers.
    path = tmp / "two.yaml"
    path.write_text(settings_text(True))
    rows, block = simulate(n, 16, seed=5)
    hit_rows = orvane.ChargeReconstruction(str(path)).reconstruct_tarvo_numpy(rows, block)
    feature_rows = orvane.FeatureExtractor(str(path)).extract_tarvo_numpy(rows, block)
    hits = orvane.numpy_to_hit_list(hit_rows)
    features = orvane.numpy_to_hit_features_list(feature_rows)

    cases = [
        ("hit_list_to_numpy", hit_rows, lambda: orvane.hit_list_to_numpy(hits)),
        ("numpy_to_hit_list", hit_rows, lambda: orvane.numpy_to_hit_list(hit_rows)),
        (
            "hit_features_list_to_numpy",
            feature_rows,
            lambda: orvane.hit_features_list_to_numpy(features),
        ),
        (
            "numpy_to_hit_features_list",
            feature_rows,
            lambda: orvane.numpy_to_hit_features_list(feature_rows),
        ),
    ]
    lines = []
    for name, rows, work in cases:
        convert = measure(work, repeats)
        raw = rows.view(np.uint8)  # the same bytes, copied as one block
        copy = measure(raw.copy, repeats)
        lines.append(
            [
                name,
                f"{n}",
                f"{rows.nbytes / 2**20:.1f}",
                f"{convert.cpu * 1e3:.2f}",
                f"{copy.cpu * 1e3:.2f}",
                f"{convert.cpu / copy.cpu:.2f}x",
            ]
        )
    table(
        f"NumPy conversions against numpy.ndarray.copy of the same bytes (median of {repeats})",
        ["function", "rows", "MiB", "CPU [ms]", "copy [ms]", "ratio"],
        lines,
    )
    print(
        "rows: the hits and feature records of simulated waveform triggers; copy: a NumPy copy "
        "of the rows' bytes (ndarray.view(uint8).copy())"
    )


def thread_scaling(length: int, n: int, repeats: int, tmp: Path) -> None:
    """1 and 2 threads on the columnar path; the calling thread waits while the workers run,
    so the process's CPU time is the workers' (plus a little)."""
    path = tmp / "two.yaml"
    path.write_text(settings_text(True))
    reco = orvane.ChargeReconstruction(str(path))
    rows, block = simulate(n, length, seed=3)
    expected = reco.reconstruct_tarvo_numpy(rows, block)
    load_before = os.getloadavg()[0]
    for threads in (1, 2):
        assert same_hits(reco.reconstruct_tarvo_numpy(rows, block, threads=threads), expected)
    # Alternating runs, so that a change of the machine's load touches both counts alike.
    samples: dict[int, tuple[list[float], list[float]]] = {1: ([], []), 2: ([], [])}
    for _ in range(repeats):
        for threads, (cpu, wall) in samples.items():
            c0, w0 = time.process_time(), time.perf_counter()
            reco.reconstruct_tarvo_numpy(rows, block, threads=threads)
            cpu.append(time.process_time() - c0)
            wall.append(time.perf_counter() - w0)
    timings = {t: (statistics.median(c), statistics.median(w)) for t, (c, w) in samples.items()}
    load_after = os.getloadavg()[0]
    (cpu1, wall1), (cpu2, wall2) = timings[1], timings[2]
    lines = [
        [f"{t}", f"{c * 1e3:.1f}", f"{w * 1e3:.1f}", f"{n / w / 1e6:.2f}", f"{c / (t * w):.2f}"]
        for t, (c, w) in timings.items()
    ]
    table(
        f"Threads: waveform triggers of {length} samples, {n} triggers (median of {repeats}; "
        "the same hits with each count)",
        ["threads", "CPU [ms]", "wall [ms]", "Mtrig/s", "CPU/(threads*wall)"],
        lines,
    )
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    print(
        f"2 threads / 1 thread: wall speed-up {wall1 / wall2:.2f}x; CPU-time speed-up "
        f"{cpu1 / (cpu2 / 2):.2f}x (1 thread's CPU time over half of 2 threads'); "
        f"load average {load_before:.2f} before, {load_after:.2f} after, on {cores} cores"
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke test")
    parser.add_argument("--repeats", type=int, default=7, help="timed repeats per figure")
    args = parser.parse_args(argv)
    scale = 20 if args.quick else 1
    print(f"orvane from {orvane.__file__}; NumPy {np.__version__}; Python {sys.version.split()[0]}")
    with tempfile.TemporaryDirectory() as raw:
        tmp = Path(raw)
        reconstruction(64, 2_000_000 // scale, 100_000 // scale, args.repeats, tmp)
        reconstruction(1024, 200_000 // scale, 20_000 // scale, args.repeats, tmp)
        conversions(1_000_000 // scale, args.repeats, tmp)
        thread_scaling(64, 2_000_000 // scale, args.repeats, tmp)
        thread_scaling(1024, 200_000 // scale, args.repeats, tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
