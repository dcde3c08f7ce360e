"""Baselines that wander, and pulse finder timing at 1 ns and 2 ns sampling, on simulated records.

    python benchmarks/bench_digitizer.py [--records N] [--seed S]

Baselines: records of 406 samples (4 ns) with Gaussian noise of 2.6 LSB, one single
photo-electron pulse each (charge 1100 LSB x samples, 20 ns decay, arriving between samples 80
and 120) and a baseline drifting linearly by a slope drawn uniformly so that it moves by up to
+-4 LSB over the record.  The pulse finder measures each pulse's charge with the baseline from
the median of the first 16 samples, the robust method (the quiet level of the whole record),
and the local baseline (the 16 samples ahead of the pulse's window).  Printed: the charge bias
and the spread each adds to that of the same records without drift and with the true baseline,
both in % of the single photo-electron charge (goal for the local baseline: bias under 2 %,
added spread under 5 %).

Timing: records sampled every 1 ns and 2 ns hold one pulse of 1.5 ns rise (10-90 %) and 8 ns
decay at a known time drawn uniformly within a sample.  Printed for the edge and the
constant-fraction timing: the mean offset of the pulse finder's time from the truth and the
RMS about it (goal 0.15 ns at 1 ns, 0.35 ns at 2 ns).
"""

from __future__ import annotations

import argparse
import tempfile
from pathlib import Path

import numpy as np

from orvane_tools._extension import load_extension
from orvane_tools.files.baseline import window_baseline

NOISE_LSB = 2.6
SPE_CHARGE = 1100.0  # LSB x samples
RECORD = 406


def _settings(directory: Path, name: str, **options: object) -> str:
    lines = ["extractors:", "  waveform: PulseFinder", "  PulseFinder:"]
    lines += [f"    {key}: {value}" for key, value in options.items()]
    path = directory / f"{name}.yaml"
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def _rows(orvane, baselines: np.ndarray) -> np.ndarray:
    rows = np.zeros(len(baselines), dtype=orvane.tarvo_trigger_dtype)
    rows["baseline"] = baselines
    return rows


def _first_pulse(features: np.ndarray, n: int, field: str) -> np.ndarray:
    """``field`` of each record's first pulse (NaN where none was found)."""
    value = np.full(n, np.nan)
    position = (features["id"].view(np.uint64) >> np.uint64(4)) & np.uint64(0x0FFFFFFF)
    first = (features["id"] & 0xF) == 0
    value[position[first].astype(np.int64)] = features[field][first]
    return value


def baselines(orvane, directory: Path, n: int, rng: np.random.Generator) -> None:
    tau = 20.0 / 4.0  # decay in samples
    t = np.arange(RECORD, dtype=np.float64)
    arrival = rng.uniform(80, 120, n)
    shape = np.where(t >= arrival[:, None], np.exp(-(t - arrival[:, None]) / tau), 0.0)
    # Exact charge: the sampled shape scaled to 1100 LSB x samples.
    pulses = shape * (SPE_CHARGE / shape.sum(axis=1, keepdims=True))
    offset = rng.uniform(900.0, 1100.0, n)
    drift = rng.uniform(-4.0, 4.0, n)[:, None] * (t / (RECORD - 1) - 0.5)
    noise = rng.normal(0.0, NOISE_LSB, (n, RECORD))
    drifting = np.rint(offset[:, None] + drift + pulses + noise).astype(np.uint16)
    flat = np.rint(offset[:, None] + pulses + noise).astype(np.uint16)
    offsets = np.arange(n + 1, dtype=np.int64) * RECORD
    common = {"threshold": 16, "hysteresis": 10, "samples_before": 3, "samples_after": 16}
    trigger = orvane.FeatureExtractor(_settings(directory, "trigger", **common))
    local = orvane.FeatureExtractor(
        _settings(directory, "local", **common, baseline="local", baseline_samples=16)
    )

    def charge(extractor, samples, base) -> np.ndarray:
        features = extractor.extract_tarvo_numpy(_rows(orvane, base), samples)
        return _first_pulse(features, n, "waveform_integral")

    # The same records without drift, with their true baseline: the noise's own spread.
    reference = charge(trigger, flat, offset.astype(np.float32))
    first16 = window_baseline(drifting.reshape(-1), offsets, 0, 16, "median")[0]
    robust = window_baseline(drifting.reshape(-1), offsets, None, None, "robust")[0]
    print(
        f"Baselines: {n} records of {RECORD} samples, noise {NOISE_LSB} LSB, one single "
        f"photo-electron pulse of {SPE_CHARGE:g} LSB x samples, linear drift up to +-4 LSB"
    )
    print(f"  {'method':<26}{'found':>7}{'bias':>9}{'added spread':>15}")
    cases = [
        ("no drift, true baseline", trigger, flat, offset.astype(np.float32)),
        ("median of first 16", trigger, drifting, first16),
        ("robust (whole record)", trigger, drifting, robust),
        ("local (16 before window)", local, drifting, first16),
    ]
    for name, extractor, samples, base in cases:
        q = charge(extractor, samples, base)
        ok = np.isfinite(q) & np.isfinite(reference)
        bias = np.mean(q[ok]) / SPE_CHARGE - 1.0
        added = np.sqrt(max(np.var(q[ok]) - np.var(reference[ok]), 0.0)) / SPE_CHARGE
        print(f"  {name:<26}{np.mean(np.isfinite(q)):>7.1%}{bias:>+9.2%}{added:>15.2%}")


def _rise_constant(rise_ns: float, decay_ns: float) -> float:
    """The rise constant r of exp(-t/decay) - exp(-t/r) whose 10-90 % rise takes rise_ns."""
    t = np.linspace(0.0, 5 * decay_ns, 200_001)

    def rise(r: float) -> float:
        s = np.exp(-t / decay_ns) - np.exp(-t / r)
        s /= s.max()
        peak = np.argmax(s)
        return t[np.argmax(s[:peak] >= 0.9)] - t[np.argmax(s[:peak] >= 0.1)]

    lo, hi = 0.01, 5.0
    for _ in range(50):
        mid = 0.5 * (lo + hi)
        lo, hi = (mid, hi) if rise(mid) < rise_ns else (lo, mid)
    return 0.5 * (lo + hi)


def timing(orvane, directory: Path, n: int, rng: np.random.Generator) -> None:
    decay, amplitude, length = 8.0, 200.0, 256
    r = _rise_constant(1.5, decay)
    peak_t = np.log(decay / r) * decay * r / (decay - r)
    norm = np.exp(-peak_t / decay) - np.exp(-peak_t / r)
    print(
        f"Timing: pulses of 1.5 ns rise (10-90 %), {decay:g} ns decay, {amplitude:g} LSB "
        f"amplitude, noise {NOISE_LSB} LSB, {n} records"
    )
    fine = np.linspace(0.0, 10 * decay, 400_001)
    curve = (np.exp(-fine / decay) - np.exp(-fine / r)) / norm
    above = fine[curve >= 0.5]
    fwhm = above[-1] - above[0]
    print(f"  {'period':<8}{'timing':<8}{'found':>7}{'offset':>11}{'RMS':>10}")
    shapes = []
    for period in (1.0, 2.0):
        t = np.arange(length) * period
        arrival = (100 + rng.uniform(0, 1, n)) * period
        dt = t - arrival[:, None]
        shape = np.where(dt > 0, np.exp(-dt / decay) - np.exp(-np.maximum(dt, 0) / r), 0.0)
        clean = 1000.0 + amplitude * shape / norm
        samples = np.rint(clean + rng.normal(0, NOISE_LSB, clean.shape)).astype(np.uint16)
        base = np.full(n, 1000.0, dtype=np.float32)
        for method in ("edge", "cfd"):
            settings = _settings(
                directory,
                f"t{period:g}{method}",
                threshold=16,
                hysteresis=10,
                samples_before=3,
                samples_after=int(3 * decay / period),
                timing=method,
                sample_period=f"{period * 1e-9!r}",
            )
            extractor = orvane.FeatureExtractor(settings)
            features = extractor.extract_tarvo_numpy(_rows(orvane, base), samples)
            if method == "edge":
                # The shape quantities on the same pulses without noise.
                exact = np.rint(clean).astype(np.uint16)
                _, pulses = extractor.extract_tarvo_numpy(
                    _rows(orvane, base), exact, return_pulses=True
                )
                shapes.append((period, pulses))
            time = _first_pulse(features, n, "rising_edge_time") - _first_pulse(
                features, n, "trigger_time"
            )
            error = time * 1e9 - arrival
            ok = np.isfinite(error)
            print(
                f"  {period:g} ns    {method:<8}{np.mean(ok):>7.1%}{np.mean(error[ok]):>+8.3f} ns"
                f"{np.std(error[ok]):>7.3f} ns"
            )
    print(
        f"  Pulse quantities without noise (true: amplitude {amplitude:g} LSB, rise 1.5 ns, "
        f"width {fwhm:.3f} ns), mean and RMS:"
    )
    for period, pulses in shapes:
        parts = []
        for name, scale, unit in (("amplitude", 1, "LSB"), ("rise_time", 1e9, "ns")):
            values = pulses[name] * scale
            parts.append(f"{name} {np.mean(values):.3f} +- {np.std(values):.3f} {unit}")
        width = pulses["width"] * 1e9
        parts.append(f"width {np.mean(width):.3f} +- {np.std(width):.3f} ns")
        print(f"  {period:g} ns    " + ", ".join(parts))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--records", type=int, default=20_000, help="records (default 20000)")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    orvane = load_extension()
    rng = np.random.default_rng(args.seed)
    with tempfile.TemporaryDirectory() as folder:
        baselines(orvane, Path(folder), args.records, rng)
        timing(orvane, Path(folder), args.records, rng)
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
