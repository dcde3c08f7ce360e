"""``orvane reconstruct``: trigger files in, hit files with their provenance out."""

from __future__ import annotations

import argparse
import contextlib
import logging
import signal
import sys
import threading
import time
from collections.abc import Iterator
from pathlib import Path
from typing import Any

from .._errors import UserError
from ..files.hitfile import FORMATS
from ..plots.report import ReportOptions, reconstruction_warnings
from ..progress import ProgressBar
from ..run.engine import reconstruct_files
from ..run.planning import DEFAULT_FORMAT, RunSummary
from ..run.reconstruct import DEFAULT_CHUNK_SIZE
from ._args import FORMATTER, count, positive_int
from .report import make_report, prepare_folder

DESCRIPTION = """\
Reconstruct the hits of every trigger in TRIGGERS (one or more trigger files, .npz; glob
patterns are expanded) with the settings file SETTINGS.

With one trigger file, HITS names the hit file; its format follows the suffix: .npy (a NumPy
array of orvane.hit_dtype rows), .csv, or .parquet (needs pyarrow: pip install
'orvane[parquet]').  With several, HITS names a folder (created if missing) and the hits of
X/name.npz go to HITS/name.parquet (or .npy, .csv with --format).  Each hit file records its
provenance: Parquet in its metadata, .npy and .csv in a sidecar HITS.json.

Triggers are read, reconstructed and written a chunk at a time, so memory does not grow with
the file.  Hit ids number the waveform triggers first and the multi-PMT triggers after them.
With --workers or --scheduler the chunks run on a Dask cluster (pip install
'orvane[distributed]'); the hits are the same as in one process.

An existing hit file is replaced only with --overwrite, and only if it is a hit file of the
same format; an input is never written over.  Each hit file appears once complete: a failure,
Ctrl-C or SIGTERM leaves those finished before it and no partial one.  Run the same command
with --resume to go on: it keeps each hit file whose provenance shows it complete and made from
the same trigger file, settings, tables and orvane version, and makes the others.
"""


def add_parser(subparsers: Any, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add ``orvane reconstruct`` to the subcommands of the ``orvane`` parser."""
    rec = subparsers.add_parser(
        "reconstruct",
        parents=parents,
        formatter_class=FORMATTER,
        help="reconstruct the hits of trigger files",
        description=DESCRIPTION,
    )
    rec.add_argument("settings", metavar="SETTINGS", help="settings file (YAML)")
    rec.add_argument("triggers", metavar="TRIGGERS", nargs="+", help="trigger files (.npz)")
    rec.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="HITS",
        help="hit file (.npy, .csv or .parquet), or a folder for several trigger files",
    )
    rec.add_argument(
        "--format",
        choices=FORMATS,
        default=None,
        help=f"format of the hit files in a folder (default {DEFAULT_FORMAT})",
    )
    rec.add_argument(
        "--chunk-size",
        type=positive_int,
        default=DEFAULT_CHUNK_SIZE,
        metavar="N",
        help="triggers per call into the library (default %(default)s)",
    )
    rec.add_argument(
        "--threads",
        type=count,
        default=1,
        metavar="N",
        help="threads per call into the library, each taking its share of a chunk's triggers "
        "(default %(default)s; 0: one per core; the hits are the same with any number)",
    )
    rec.add_argument(
        "--overwrite", action="store_true", help="replace existing hit files of the same format"
    )
    rec.add_argument(
        "--resume",
        action="store_true",
        help="keep the hit files an interrupted run finished (same inputs and settings) and "
        "make the rest",
    )
    rec.add_argument(
        "--pulse-columns",
        action="store_true",
        help="add each hit's pulse quantities from the pulse finder (window, amplitude, peak "
        "time, width, rise time, saturation and no-return flags, ...) as further columns; "
        ".npy outputs get them in STEM.pulses.npy",
    )
    rec.add_argument(
        "--report",
        metavar="DIR",
        help="also write the run's report (orvane report) into the folder DIR; with "
        "--overwrite it replaces a report there",
    )
    cluster = rec.add_mutually_exclusive_group()
    cluster.add_argument(
        "--workers",
        type=positive_int,
        metavar="N",
        help="run on N worker processes of this machine (a Dask LocalCluster)",
    )
    cluster.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="run on the Dask cluster of this scheduler (e.g. tcp://host:8786); inputs, "
        "settings and outputs must lie on a file system every worker sees",
    )
    rec.set_defaults(handler=run)
    return rec


@contextlib.contextmanager
def _client(args: argparse.Namespace) -> Iterator[Any]:
    if args.workers is None and args.scheduler is None:
        yield None
        return
    if args.scheduler is not None:
        Client, _ = _distributed()
        try:
            client = Client(args.scheduler, timeout="20s")
        except (OSError, TimeoutError) as exc:
            raise UserError(f"cannot reach the Dask scheduler {args.scheduler}") from exc
        with client:
            yield client
        return
    # Ctrl-C reaches every process of the terminal's group.  The workers ignore it: they are
    # started while it is ignored, which a started program keeps (the second or so that takes
    # ignores it here too).  This process takes it and stops them.
    Client, LocalCluster = _distributed()
    try:
        with contextlib.ExitStack() as stack:
            with _sigint_ignored():
                cluster = stack.enter_context(
                    LocalCluster(
                        n_workers=args.workers,
                        threads_per_worker=1,
                        processes=True,
                        dashboard_address=None,
                        # Its health pages on any free port: 8787 may be taken.
                        scheduler_kwargs={"dashboard_address": ":0"},
                        silence_logs=logging.CRITICAL,
                    )
                )
            yield stack.enter_context(Client(cluster))
    finally:
        # A cluster closing logs what its workers lose on the way (heartbeats, cut-off tasks).
        logging.getLogger("distributed").setLevel(logging.CRITICAL + 1)


def _distributed() -> tuple[Any, Any]:
    try:
        from distributed import Client, LocalCluster
    except ImportError as exc:
        raise UserError(
            "--workers and --scheduler need Dask (pip install 'orvane[distributed]')"
        ) from exc
    return Client, LocalCluster


def _main_thread() -> bool:
    return threading.current_thread() is threading.main_thread()


@contextlib.contextmanager
def _sigint_ignored() -> Iterator[None]:
    """SIGINT ignored, as the processes started meanwhile keep it."""
    if not _main_thread():
        yield
        return
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


def run(args: argparse.Namespace) -> int:
    """Run ``orvane reconstruct`` with parsed arguments."""
    start = time.perf_counter()
    quiet = args.quiet
    bar: ProgressBar | None = None
    if args.report is not None:
        prepare_folder(Path(args.report), args.overwrite)

    def progress(total: int, files: int) -> Any:
        nonlocal bar
        label = "reconstructing" if files == 1 else f"reconstructing {files} files"
        bar = ProgressBar(total, label, enabled=False if quiet else None, unit="trig")
        return bar.update

    try:
        with _client(args) as client:
            summary = reconstruct_files(
                args.triggers,
                args.settings,
                args.output,
                fmt=args.format,
                chunk_size=args.chunk_size,
                client=client,
                overwrite=args.overwrite,
                progress=progress,
                command_line=list(sys.argv),
                threads=args.threads,
                resume=args.resume,
                pulse_columns=args.pulse_columns,
            )
    finally:
        if bar is not None:
            bar.close()
    if args.report is None and not quiet:
        pairs = [(f.input, f.output) for f in summary.files]
        counted = [f.counts for f in summary.files]
        for message in reconstruction_warnings(pairs, counted=counted):
            print(f"warning: {message} (orvane report shows more)", file=sys.stderr)
    if not quiet:
        _print_summary(args, summary, start)
    if args.report is not None:
        return make_report(
            [f.output for f in summary.files],
            [f.input for f in summary.files],
            Path(args.report),
            ReportOptions(),
            quiet=quiet,
            fail_on_warning=False,
        )
    return 0


def _print_summary(args: argparse.Namespace, summary: Any, start: float) -> None:
    if summary.truncated:
        held = "waveform held" if summary.truncated == 1 else "waveforms held"
        print(f"{summary.truncated} {held} more than 16 pulses: the first 16 of each were kept")
    kept = [f for f in summary.files if f.resumed]
    if kept:
        files = "hit file" if len(kept) == 1 else "hit files"
        print(f"kept {len(kept)} {files} already complete (--resume)")
        summary = RunSummary(
            [f for f in summary.files if not f.resumed], summary.seconds, summary.channel_table
        )
        if not summary.files:
            return
    seconds = time.perf_counter() - start  # the whole command, a cluster's start included
    rate = summary.triggers / seconds if seconds > 0 else float("inf")
    where = (
        str(summary.files[0].output)
        if len(summary.files) == 1
        else f"{len(summary.files)} files in {summary.files[0].output.parent}"
    )
    print(
        f"wrote {summary.hits} hits from {summary.triggers} triggers to {where} "
        f"({seconds:.2f} s, {rate:.3g} triggers/s)"
    )
    unknown = summary.dropped("unknown_channel")
    if unknown:
        print(f"dropped {unknown} triggers on channels missing from {summary.channel_table}")
