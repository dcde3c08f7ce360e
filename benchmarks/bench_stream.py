"""Peak memory of ``orvane reconstruct`` against the size of its trigger file.

Run with the package installed (``make bench`` does it in .venv)::

    python benchmarks/bench_stream.py [--sizes 1000000 4000000 8000000] [--format parquet]

For each size it writes a trigger file of that many triggers (half waveform triggers of 64
samples, half multi-PMT triggers; members stored, as ``numpy.savez`` writes them), then runs
``orvane reconstruct`` on it at the default chunk size under ``/usr/bin/time -v`` and prints
the peak resident set size and the wall time.  Streaming keeps the peak flat: a constant plus
a few chunks, whatever the file's size.  The trigger files are written a block at a time (a
simulated block repeated), so the benchmark itself needs little memory; they are removed
afterwards.
"""

from __future__ import annotations

import argparse
import io
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import numpy as np

from orvane_tools._resources import example_settings
from orvane_tools.simulate import SimulationConfig, simulate
from orvane_tools.triggerfile import FORMAT

BLOCK = 500_000  # triggers of each kind simulated once and repeated


def _write_member(archive: zipfile.ZipFile, key: str, dtype: np.dtype, blocks) -> None:
    """Write one ``.npy`` member from blocks (a function returning an iterator of arrays)."""
    total = sum(len(b) for b in blocks())
    header = {
        "descr": np.lib.format.dtype_to_descr(np.dtype(dtype)),
        "fortran_order": False,
        "shape": (total,),
    }
    with archive.open(f"{key}.npy", "w", force_zip64=True) as stream:
        np.lib.format.write_array_header_1_0(stream, header)
        for block in blocks():
            stream.write(np.ascontiguousarray(block, dtype=dtype).data)


def write_big_trigger_file(path: Path, n_triggers: int) -> None:
    """A trigger file of ``n_triggers`` (half of each kind), written block by block."""
    half = n_triggers // 2
    sim = simulate(SimulationConfig(n_tarvo=BLOCK, n_multipmt=BLOCK, seed=1))
    counts = [min(BLOCK, half - lo) for lo in range(0, half, BLOCK)]
    per = sim.tarvo_offsets[1]

    def rows():
        return (sim.tarvo_triggers[:c] for c in counts)

    def samples():
        return (sim.tarvo_samples[: c * per] for c in counts)

    def offsets():
        yield np.zeros(1, np.int64)
        start = 0
        for c in counts:
            yield start + np.arange(1, c + 1, dtype=np.int64) * per
            start += c * per

    def multipmt():
        return (sim.multipmt_triggers[:c] for c in counts)

    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED, allowZip64=True) as archive:
        for key, array in (("format", np.array(FORMAT)), ("run_info", sim.run_info)):
            small = io.BytesIO()
            np.lib.format.write_array(small, array)
            archive.writestr(f"{key}.npy", small.getvalue())
        _write_member(archive, "tarvo_triggers", sim.tarvo_triggers.dtype, rows)
        _write_member(archive, "tarvo_samples", np.uint16, samples)
        _write_member(archive, "tarvo_offsets", np.int64, offsets)
        _write_member(archive, "multipmt_triggers", sim.multipmt_triggers.dtype, multipmt)


def measure(path: Path, out: Path) -> tuple[float, float]:
    """Peak RSS (MB) and wall time (s) of one ``orvane reconstruct`` run."""
    argv = [
        "/usr/bin/time",
        "-v",
        sys.executable,
        "-m",
        "orvane_tools",
        "reconstruct",
        str(example_settings()),
        str(path),
        "-o",
        str(out),
        "-q",
        "--overwrite",
    ]
    run = subprocess.run(argv, capture_output=True, text=True, check=False)
    if run.returncode != 0:
        raise SystemExit(f"orvane reconstruct failed:\n{run.stderr}")
    peak_kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)[1])
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): ([\d:.]+)", run.stderr)[1]
    seconds = 0.0
    for part in wall.split(":"):
        seconds = seconds * 60 + float(part)
    return peak_kb / 1000, seconds


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[1_000_000, 4_000_000, 8_000_000])
    parser.add_argument("--format", default="parquet", choices=["parquet", "npy", "csv"])
    parser.add_argument("--limit-mb", type=float, default=300.0)
    args = parser.parse_args()
    print(f"load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
    print(f"{'triggers':>10} {'file MB':>9} {'peak RSS MB':>12} {'wall s':>8} {'triggers/s':>11}")
    peaks = []
    with tempfile.TemporaryDirectory(dir=".") as folder:
        for size in args.sizes:
            path = Path(folder) / f"triggers-{size}.npz"
            write_big_trigger_file(path, size)
            mb = path.stat().st_size / 1e6
            peak, wall = measure(path, Path(folder) / f"hits.{args.format}")
            path.unlink()
            peaks.append(peak)
            print(f"{size:>10} {mb:>9.0f} {peak:>12.0f} {wall:>8.2f} {size / wall:>11.3g}")
    print(f"load average {os.getloadavg()[0]:.2f} after the runs")
    worst = max(peaks)
    verdict = "within" if worst < args.limit_mb else "ABOVE"
    print(f"largest peak {worst:.0f} MB: {verdict} the {args.limit_mb:.0f} MB limit")


if __name__ == "__main__":
    main()
