"""The columnar path against its yardsticks, as ratios measured side by side in one run.

Run with the module importable (``make bench`` does it in .venv)::

    python benchmarks/bench_targets.py [--quick] [--rounds N]

Figures are medians of interleaved rounds (every case once per round, in turn) of the calling
thread's CPU time (``time.thread_time``), so that other load on a shared machine counts as little
as possible; the machine's load averages are printed beside them.

1. 64-sample waveforms, extraction + two linear reconstructors (the case of the numba peer,
   ``numba_peer.py``, a fixed hand-written loop as users of this field write one): the columnar
   path against the peer's ``tuned`` variant (``naive`` beside it), checked byte-identical to the
   library before timing, and against a plain copy of the input bytes; the same with one linear
   reconstructor; the object API per trigger beside them.
2. 1024-sample waveforms: the columnar path against ``np.sum`` over the same samples.
3. Multi-PMT triggers: the columnar path against a plain copy of the trigger rows.

The peer needs numba (``pip install '.[bench]'``); without it, its rows are left out.
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

import numpy as np

import orvane

sys.path.insert(0, str(Path(__file__).resolve().parent))
# The peer's benchmark case: pulses on a fractional baseline near 1000 LSB, with noise.
from bench_python import simulate

try:
    import numba_peer
except ImportError:  # numba is an optional extra
    numba_peer = None

# The peer's case: no trigger is dropped, and both reconstructors act on every record.
CHARGE = {
    "slope": 0.0025,
    "intercept": 0.0,
    "slope_uncertainty": 0.0001,
    "intercept_uncertainty": 0.05,
    "covariance": 0.0,
}
TIME = {
    "slope": 1.0,
    "intercept": -2e-8,
    "slope_uncertainty": 0.0,
    "intercept_uncertainty": 1e-9,
    "covariance": 0.0,
}


def linear(name: str, feature: str, prop: str, p: dict[str, float]) -> str:
    keys = "".join(f"    {k}: {float(v)!r}\n" for k, v in p.items())
    return (
        f"  {name}:\n    class: LinearReco\n    feature: {feature}\n    hit_property: {prop}\n"
        f"    pmt_type: -1\n    min_value: -1.0e12\n    max_value: 1.0e12\n{keys}"
    )


def settings(tmp: Path, name: str, with_time: bool) -> str:
    text = "extractors:\n  Tarvo:\n    drop_bad_edge: false\n    drop_bad_integral: false\nreco:\n"
    text += linear("charge", "waveform_integral", "charge", CHARGE)
    if with_time:
        text += linear("time", "rising_edge_time", "time", TIME)
    path = tmp / name
    path.write_text(text)
    return str(path)


def multipmt_settings(tmp: Path) -> str:
    text = "reco:\n"
    text += linear("charge", "adc_sample", "charge", CHARGE)
    text += linear("time", "trigger_time", "time", TIME)
    path = tmp / "multipmt.yaml"
    path.write_text(text)
    return str(path)


def multipmt_rows(n: int, seed: int = 2) -> np.ndarray:
    rng = np.random.default_rng(seed)
    rows = np.zeros(n, orvane.multipmt_trigger_dtype)
    rows["time"] = np.cumsum(rng.uniform(0, 1e-5, n))
    rows["channel"] = np.arange(n) % 128
    rows["time_over_threshold"] = rng.uniform(0, 1e-7, n)
    rows["adc_sample"] = rng.integers(0, 4096, n)
    return rows


def objects(rows: np.ndarray, block: np.ndarray) -> list[orvane.TarvoTrigger]:
    out = []
    for row, waveform in zip(rows.tolist(), block.tolist()):
        trigger = orvane.TarvoTrigger()
        trigger.channel, trigger.trigger_time_s, trigger.trigger_time_ticks = row[:3]
        trigger.baseline = row[3]
        trigger.waveform = waveform
        out.append(trigger)
    return out


def interleaved(cases: dict[str, Callable[[], object]], rounds: int) -> dict[str, float]:
    """Median thread CPU seconds of each case over `rounds` rounds of every case in turn."""
    for work in cases.values():
        work()  # warm up: first-touch pages, caches, JIT
    times: dict[str, list[float]] = {name: [] for name in cases}
    for _ in range(rounds):
        for name, work in cases.items():
            start = time.thread_time()
            work()
            times[name].append(time.thread_time() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def report(title: str, per: dict[str, tuple[float, int]], ratios: list[tuple[str, float, str]]):
    print(f"\n{title}")
    width = max(len(name) for name in per)
    for name, (seconds, count) in per.items():
        print(f"  {name.ljust(width)}  {seconds / count * 1e9:9.1f} ns/trigger")
    for text, value, target in ratios:
        print(f"  {text}: {value:.2f}x  (target {target})")


def same_bytes(a: np.ndarray, b: np.ndarray) -> bool:
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def waveforms_64(tmp: Path, n: int, n_objects: int, rounds: int) -> None:
    two = orvane.ChargeReconstruction(settings(tmp, "two.yaml", True))
    one = orvane.ChargeReconstruction(settings(tmp, "one.yaml", False))
    rows, block = simulate(n, 64)
    run = orvane.RunInfo.simulation_run().run_number
    cases: dict[str, Callable[[], object]] = {
        "columnar, 2 linear recos": lambda: two.reconstruct_tarvo_numpy(rows, block),
        "columnar, 1 linear reco": lambda: one.reconstruct_tarvo_numpy(rows, block),
        "copy of the input bytes": lambda: (rows.copy(), block.copy()),
    }
    counts = dict.fromkeys(cases, n)
    if numba_peer is not None:
        p = numba_peer.params(CHARGE, TIME)
        library = two.reconstruct_tarvo_numpy(rows, block)
        for variant in ("tuned", "naive"):
            peer = numba_peer.reconstruct(rows, block, orvane.hit_dtype, p, run, variant=variant)
            if not same_bytes(peer, library):
                raise SystemExit(f"the numba peer ({variant}) differs from the library")
        print("numba peer: byte-identical to the library (tuned and naive)")
        # Each call makes its output array, as the library's does.
        cases["numba peer, tuned"] = lambda: numba_peer.reconstruct(
            rows, block, orvane.hit_dtype, p, run
        )
        cases["numba peer, naive"] = lambda: numba_peer.reconstruct(
            rows, block, orvane.hit_dtype, p, run, variant="naive"
        )
        counts["numba peer, tuned"] = counts["numba peer, naive"] = n
    else:
        print("numba peer: numba is not installed (pip install '.[bench]'); left out")
    obj = objects(rows[:n_objects], block[:n_objects])
    cases["object API: reconstruct(list)"] = lambda: two.reconstruct(obj)
    counts["object API: reconstruct(list)"] = n_objects
    medians = interleaved(cases, rounds)
    per = {name: (medians[name], counts[name]) for name in cases}

    def ns(name: str) -> float:
        return medians[name] / counts[name]

    col = ns("columnar, 2 linear recos")
    ratios = []
    if numba_peer is not None:
        ratios.append(
            ("columnar (2 recos) / numba peer tuned", col / ns("numba peer, tuned"), "<= 0.77")
        )
        ratios.append(("columnar (2 recos) / numba peer naive", col / ns("numba peer, naive"), "-"))
    ratios.append(
        ("columnar (2 recos) / copy of input", col / ns("copy of the input bytes"), "<= 3.5")
    )
    ratios.append(
        (
            "columnar (1 reco) / copy of input",
            ns("columnar, 1 linear reco") / ns("copy of the input bytes"),
            "-",
        )
    )
    ratios.append(
        ("object API / columnar (2 recos)", ns("object API: reconstruct(list)") / col, "-")
    )
    report(f"64-sample waveforms, {n} triggers (object API: {n_objects})", per, ratios)


def waveforms_1024(tmp: Path, n: int, rounds: int) -> None:
    two = orvane.ChargeReconstruction(settings(tmp, "two.yaml", True))
    rows, block = simulate(n, 1024)
    cases = {
        "columnar, 2 linear recos": lambda: two.reconstruct_tarvo_numpy(rows, block),
        "np.sum over the samples": lambda: block.sum(axis=1, dtype=np.uint64),
    }
    medians = interleaved(cases, rounds)
    per = {name: (medians[name], n) for name in cases}
    ratio = medians["columnar, 2 linear recos"] / medians["np.sum over the samples"]
    report(f"1024-sample waveforms, {n} triggers", per, [("columnar / np.sum", ratio, "<= 0.75")])


def multipmt(tmp: Path, n: int, rounds: int) -> None:
    path = multipmt_settings(tmp)
    reco = orvane.ChargeReconstruction(path)
    extractor = orvane.FeatureExtractor(path)
    rows = multipmt_rows(n)
    cases = {
        "columnar reconstruct, 2 linear recos": lambda: reco.reconstruct_multipmt_numpy(rows),
        "columnar features": lambda: extractor.extract_multipmt_numpy(rows),
        "copy of the trigger rows": rows.copy,
    }
    medians = interleaved(cases, rounds)
    per = {name: (medians[name], n) for name in cases}
    copy = medians["copy of the trigger rows"]
    report(
        f"Multi-PMT triggers, {n} rows",
        per,
        [
            (
                "reconstruct / copy of rows",
                medians["columnar reconstruct, 2 linear recos"] / copy,
                "<= 2.5",
            ),
            ("features / copy of rows", medians["columnar features"] / copy, "-"),
        ],
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke test")
    parser.add_argument("--rounds", type=int, default=15, help="interleaved rounds per figure")
    args = parser.parse_args(argv)
    scale = 20 if args.quick else 1
    print(f"orvane from {orvane.__file__}; NumPy {np.__version__}; Python {sys.version.split()[0]}")
    load = os.getloadavg()
    print(
        f"load average at start: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} ({os.cpu_count()} CPUs)"
    )
    with tempfile.TemporaryDirectory() as raw:
        tmp = Path(raw)
        waveforms_64(tmp, 1_000_000 // scale, 50_000 // scale, args.rounds)
        waveforms_1024(tmp, 100_000 // scale, args.rounds)
        multipmt(tmp, 2_000_000 // scale, args.rounds)
    load = os.getloadavg()
    print(f"\nload average at end: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
