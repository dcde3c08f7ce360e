"""Cost of the run report against the reconstruction of the same triggers.

Run with the package importable (``make bench`` does it in .venv)::

    python benchmarks/bench_report.py [--triggers N] [--channels C]

A run of N waveform triggers (64 samples, default 1 000 000; the target is stated for
8 000 000) on C channels (default 64) is simulated into a trigger file, reconstructed by
``orvane reconstruct`` into a Parquet hit file, and reported on by ``orvane report``; each runs
in a child process of its own, so that its peak memory (resident set) is its own.  Printed:

* the wall and CPU time of the reconstruction, and of the report's pass over the triggers and
  hits (histograms filled and waveforms sampled a chunk at a time), and their ratio (target at
  most 1.5);
* the report's peak memory during the pass (target below 300 MB for 8 M triggers);
* the time drawing the figures and writing the page takes (target below 30 s for 64 channels).

The machine's load average is printed before and after: on a loaded machine wall times
stretch, CPU times much less.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

PASS_RATIO = 1.5
MEMORY_MB = 300
DRAW_SECONDS = 30

_REPORT_CHILD = r"""
import json, resource, sys, time
from pathlib import Path
from orvane_tools.plots.report import ReportOptions, gather
from orvane_tools.plots.report_page import draw_and_write

def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime

def peak_mb():
    # VmHWM, the resident high-water mark since it was last reset.
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1]) / 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024

try:  # the high-water mark a child inherits from its parent's process before exec
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
except OSError:
    pass

hits, triggers, out = sys.argv[1:4]
wall, c0 = time.perf_counter(), cpu()
stats, summary = gather([hits], [triggers], ReportOptions())
pass_wall, pass_cpu = time.perf_counter() - wall, cpu() - c0
pass_rss = peak_mb()
wall, c0 = time.perf_counter(), cpu()
Path(out).mkdir(exist_ok=True)
draw_and_write(Path(out), stats, summary, ReportOptions())
print(json.dumps({
    "pass_wall": pass_wall, "pass_cpu": pass_cpu, "pass_rss_mb": pass_rss,
    "draw_wall": time.perf_counter() - wall, "draw_cpu": cpu() - c0,
    "warnings": [w["kind"] for w in summary["warnings"]],
}))
"""


def _child(args: list[str]) -> tuple[str, float, float, float]:
    """Run a child; its output, wall time, CPU time and peak resident memory [MB]."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(args, check=True, capture_output=True, text=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return done.stdout, wall, cpu, after.ru_maxrss / 1024


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--triggers", type=int, default=1_000_000)
    parser.add_argument("--channels", type=int, default=64)
    parser.add_argument("--keep", metavar="DIR", help="keep the files and the report in DIR")
    args = parser.parse_args()

    from orvane_tools.files.triggerfile import write_trigger_file
    from orvane_tools.simulation.simulate import SimulationConfig, simulate

    print(f"load average before: {os.getloadavg()}")
    with tempfile.TemporaryDirectory(prefix="orvane-bench-report-") as raw:
        folder = Path(args.keep) if args.keep else Path(raw)
        folder.mkdir(parents=True, exist_ok=True)
        triggers = folder / "run.npz"
        hits = folder / "hits.parquet"
        data = simulate(SimulationConfig(n_tarvo=args.triggers, n_channels=args.channels, seed=1))
        write_trigger_file(triggers, data)
        del data
        settings = folder / "settings.yaml"
        settings.write_text(
            "reco:\n"
            "  charge:\n    class: LinearReco\n    feature: waveform_integral\n"
            "    hit_property: charge\n    pmt_type: -1\n    slope: 0.0033333333333333335\n"
            "    intercept: 0.0\n    slope_uncertainty: 0.0001\n    intercept_uncertainty: 0.06\n"
            "    covariance: 0.0\n    min_value: -300.0\n    max_value: 4000000.0\n"
            "  time:\n    class: LinearReco\n    feature: rising_edge_time\n"
            "    hit_property: time\n    pmt_type: -1\n    slope: 1.0\n    intercept: -0.83e-9\n"
            "    slope_uncertainty: 0.0\n    intercept_uncertainty: 0.5e-9\n    covariance: 0.0\n"
            "    min_value: -.inf\n    max_value: .inf\n"
        )
        python = sys.executable
        _, rec_wall, rec_cpu, _ = _child(
            [
                python,
                "-m",
                "orvane_tools",
                "-q",
                "reconstruct",
                str(settings),
                str(triggers),
                "-o",
                str(hits),
                "--overwrite",
            ]
        )
        out, _, _, _ = _child(
            [python, "-c", _REPORT_CHILD, str(hits), str(triggers), str(folder / "report")]
        )
        result = json.loads(out.strip().splitlines()[-1])
    n = args.triggers
    print(f"{n} waveform triggers of 64 samples on {args.channels} channels")
    print(f"reconstruct:  {rec_wall:7.2f} s wall  {rec_cpu:7.2f} s CPU")
    print(
        f"report pass:  {result['pass_wall']:7.2f} s wall  {result['pass_cpu']:7.2f} s CPU  "
        f"peak memory {result['pass_rss_mb']:.0f} MB (target < {MEMORY_MB} MB at 8 M triggers)"
    )
    print(
        f"ratio pass / reconstruct: {result['pass_wall'] / rec_wall:.2f} wall, "
        f"{result['pass_cpu'] / rec_cpu:.2f} CPU (target <= {PASS_RATIO})"
    )
    print(
        f"drawing:      {result['draw_wall']:7.2f} s wall  {result['draw_cpu']:7.2f} s CPU "
        f"(target < {DRAW_SECONDS} s for 64 channels)"
    )
    print(f"warnings: {result['warnings'] or 'none'}")
    print(f"load average after: {os.getloadavg()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
