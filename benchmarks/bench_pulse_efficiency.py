"""How well the pulse finder finds pulses, against the simulator's truth.

    python benchmarks/bench_pulse_efficiency.py [--triggers N] [--seed S] [--settings FILE]

Simulated waveforms of 1024 samples (4 ns) hold 1 to 5 pulses each, placed uniformly at least
80 ns apart, with the demo's pulse shape, gain spread and noise (orvane_tools.pulsetrain).
They are reconstructed with the pulse finder's example settings (examples/pulse_finder.yaml)
through the columnar path, and every hit is matched with the true pulse of its trigger nearest
in time (within 10 ns).  Printed: the fraction of pulses above 0.5 PE found (goal >= 99 %),
the fraction of hits matching no pulse (goal <= 1 %), the charge bias at 1 PE (goal within
2 %), the time bias and resolution; then the fraction found for two pulses a fixed distance
apart, from 10 to 80 ns, which shows where piled-up pulses start to merge (no goal).
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

import numpy as np

from orvane_tools.pulsetrain import (
    PulseTrainConfig,
    format_score,
    score_pulses,
    simulate_pulse_trains,
)
from orvane_tools.reconstruct import load_reconstruction, reconstruct_triggers

REPO = Path(__file__).resolve().parents[1]
SEPARATIONS_NS = (10, 20, 30, 40, 50, 60, 70, 80)


def _score(reco: object, config: PulseTrainConfig):
    data, truth = simulate_pulse_trains(config)
    result = reconstruct_triggers(reco, data)
    hits = result.hits
    positions = (hits["id"].view(np.uint64) >> np.uint64(4)) & np.uint64(0x0FFFFFFF)
    score = score_pulses(positions.astype(np.int64), hits["time"], hits["charge"], truth)
    return score, result


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--triggers", type=int, default=20_000, help="waveforms (default 20000)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument(
        "--settings", default=str(REPO / "examples" / "pulse_finder.yaml"), help="settings file"
    )
    args = parser.parse_args(argv)
    reco = load_reconstruction(args.settings)

    start = time.perf_counter()
    config = PulseTrainConfig(n_triggers=args.triggers, seed=args.seed)
    score, result = _score(reco, config)
    print(
        f"Pulse finder on {args.triggers} waveforms of {config.n_samples} samples with "
        f"{config.min_pulses}-{config.max_pulses} pulses >= {config.min_separation_ns:g} ns "
        f"apart (seed {args.seed}, settings {args.settings})"
    )
    print(format_score(score))
    print(f"waveforms with more than 16 pulses: {result.truncated}")
    goals = [
        ("found >= 99 %", score.efficiency >= 0.99),
        ("fakes <= 1 %", score.fake_fraction <= 0.01),
        ("|charge bias at 1 PE| <= 2 %", abs(score.charge_bias_1pe) <= 0.02),
    ]
    print("goals: " + ", ".join(f"{name} {'met' if ok else 'MISSED'}" for name, ok in goals))

    print("\nTwo pulses a fixed distance apart: fraction of pulses above 0.5 PE found")
    print(f"{'separation [ns]':>16} {'found':>8} {'fakes':>8}")
    for separation in SEPARATIONS_NS:
        pair = PulseTrainConfig(
            n_triggers=max(args.triggers // 10, 200), seed=args.seed, separation_ns=separation
        )
        s, _ = _score(reco, pair)
        print(f"{separation:>16} {100 * s.efficiency:>7.1f}% {100 * s.fake_fraction:>7.2f}%")
    print(f"({time.perf_counter() - start:.1f} s)")
    return 0 if all(ok for _, ok in goals) else 1


if __name__ == "__main__":
    sys.exit(main())
