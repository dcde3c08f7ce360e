"""Peak memory of the columnar path against the size of its input and output.

Run with the module importable (``make bench`` does it in .venv)::

    python benchmarks/bench_memory.py [--quick]

Each case runs in a fresh child process, which builds its input, then measures one call of
``ChargeReconstruction.reconstruct_tarvo_numpy`` (or ``FeatureExtractor.extract_tarvo_numpy``):

* RSS growth: the peak resident set size during the call (``VmHWM``, reset just before it through
  ``/proc/self/clear_refs``) minus the resident size before it, i.e. the memory the call added
  on top of its input;
* traced peak: the largest amount of memory allocated through Python's and NumPy's allocators
  during the call (``tracemalloc``; NumPy reports its array buffers there), which counts the
  output array at its allocated size even where its pages were never touched.

The output array is created for one row per trigger and cut to the rows written, so a run in
which most triggers are dropped allocates more than it keeps but touches only what it writes.
"""

from __future__ import annotations

import argparse
import gc
import json
import re
import subprocess
import sys
import tempfile
import tracemalloc
from pathlib import Path

import numpy as np

SETTINGS = """\
extractors:
  Tarvo:
    drop_bad_edge: true
    drop_bad_integral: false
reco:
  charge:
    class: LinearReco
    feature: waveform_integral
    hit_property: charge
    pmt_type: -1
    slope: 0.0033333333333333335
    intercept: 0.0
    slope_uncertainty: 0.0001
    intercept_uncertainty: 0.06
    covariance: 0.0
    min_value: -300.0
    max_value: 4000000.0
  time:
    class: LinearReco
    feature: rising_edge_time
    hit_property: time
    pmt_type: -1
    slope: 1.0
    intercept: -4.0e-9
    slope_uncertainty: 0.0
    intercept_uncertainty: 1.0e-9
    covariance: 0.0
    min_value: -.inf
    max_value: .inf
"""

# name, triggers, samples per waveform, layout, path
CASES = [
    ("fixed 64, 100k", 100_000, 64, "fixed", "reconstruct"),
    ("fixed 64, 1M", 1_000_000, 64, "fixed", "reconstruct"),
    ("fixed 64, 4M", 4_000_000, 64, "fixed", "reconstruct"),
    ("flat+offsets 64, 1M", 1_000_000, 64, "ragged", "reconstruct"),
    ("fixed 1024, 200k", 200_000, 1024, "fixed", "reconstruct"),
    ("every other row, 1M", 1_000_000, 64, "strided", "reconstruct"),
    ("all dropped (flat), 1M", 1_000_000, 64, "flat", "reconstruct"),
    ("features, fixed 64, 1M", 1_000_000, 64, "fixed", "extract"),
]


def status_kib(field: str) -> int:
    text = Path("/proc/self/status").read_text()
    match = re.search(rf"^{field}:\s+(\d+) kB", text, re.MULTILINE)
    assert match is not None
    return int(match.group(1))


def child(n: int, length: int, layout: str, path: str, settings: str) -> dict[str, float]:
    import orvane

    rng = np.random.default_rng(1)
    rows = np.zeros(n, orvane.tarvo_trigger_dtype)
    rows["channel"] = np.arange(n) % 128
    rows["trigger_time_ticks"] = np.arange(n) * 1000 % 250_000_000
    rows["baseline"] = 1000.25
    # Filled in place, chunk by chunk, so that building the input leaves no large temporaries.
    block = np.empty((n, length), np.uint16)
    pulse = np.zeros(length, np.uint16)
    pulse[length // 4 : length // 4 + 6] = [30, 120, 90, 60, 40, 25]
    for first in range(0, n, 1 << 16):
        m = min(1 << 16, n - first)
        block[first : first + m] = 1000
        if layout != "flat":
            block[first : first + m] += pulse
            block[first : first + m] += rng.integers(0, 4, (m, length), dtype=np.uint16)
    args: tuple[object, ...] = (rows, block)
    if layout == "ragged":
        args = (rows, block.reshape(-1), np.arange(0, n * length + 1, length, dtype=np.int64))
    elif layout == "strided":
        args = (rows[::2], block[::2])
    input_bytes = sum(a.nbytes for a in (rows, block)) + (
        args[2].nbytes if len(args) > 2 else 0  # type: ignore[union-attr]
    )
    if path == "extract":
        call = orvane.FeatureExtractor(settings).extract_tarvo_numpy
        row_bytes = orvane.hit_features_dtype.itemsize
    else:
        call = orvane.ChargeReconstruction(settings).reconstruct_tarvo_numpy
        row_bytes = orvane.hit_dtype.itemsize
    call(rows[:10], block[:10])  # first call: lazily loaded code and caches
    gc.collect()
    before = status_kib("VmRSS")
    Path("/proc/self/clear_refs").write_text("5")  # reset VmHWM to the current RSS
    tracemalloc.start()
    out = call(*args)
    traced_peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    peak = status_kib("VmHWM")
    triggers = len(args[0])  # type: ignore[arg-type]
    return {
        "input": input_bytes,
        "output": out.nbytes,
        "allocated": triggers * row_bytes,
        "rss_growth": (peak - before) * 1024,
        "traced_peak": traced_peak,
    }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke test")
    parser.add_argument("--child", nargs=5, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        n, length, layout, path, settings = args.child
        print(json.dumps(child(int(n), int(length), layout, path, settings)))
        return 0

    mib = 2.0**20
    lines = []
    with tempfile.TemporaryDirectory() as raw:
        settings = Path(raw) / "settings.yaml"
        settings.write_text(SETTINGS)
        for name, n, length, layout, path in CASES:
            n = n // 50 if args.quick else n
            result = subprocess.run(
                [
                    sys.executable,
                    __file__,
                    "--child",
                    str(n),
                    str(length),
                    layout,
                    path,
                    str(settings),
                ],
                capture_output=True,
                text=True,
                check=False,
            )
            if result.returncode != 0:
                sys.exit(f"case {name!r} failed:\n{result.stderr}")
            r = json.loads(result.stdout)
            lines.append(
                [
                    name,
                    f"{r['input'] / mib:.1f}",
                    f"{r['output'] / mib:.1f}",
                    f"{r['allocated'] / mib:.1f}",
                    f"{r['rss_growth'] / mib:.1f}",
                    f"{r['traced_peak'] / mib:.1f}",
                    f"{(r['rss_growth'] - r['output']) / mib:+.2f}",
                    f"{(r['traced_peak'] - r['allocated']) / mib:+.3f}",
                ]
            )
    header = [
        "case",
        "input MiB",
        "output MiB",
        "allocated MiB",
        "RSS growth MiB",
        "traced peak MiB",
        "RSS growth - output",
        "traced - allocated",
    ]
    widths = [max(len(h), *(len(line[i]) for line in lines)) for i, h in enumerate(header)]
    print("Peak memory of one columnar call, on top of its input (each case in a new process)")
    print("  ".join(h.rjust(w) for h, w in zip(header, widths)))
    for line in lines:
        print("  ".join(c.rjust(w) for c, w in zip(line, widths)))
    print(
        "allocated: one output row per trigger, cut to the rows written after the call; "
        "RSS growth counts only the pages touched."
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
