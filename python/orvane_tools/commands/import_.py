"""``orvane import FORMAT INPUT...``: digitizer files into a trigger file."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any

from .._atomic import check_writable
from .._errors import UserError
from ..files.baseline import BASELINE_METHODS, DEFAULT_BASELINE_METHOD, DEFAULT_BASELINE_SAMPLES
from ..files.importers import (
    DEFAULT_ADC_BITS,
    DEFAULT_CHUNK_EVENTS,
    DEFAULT_CLOCK_NS,
    DEFAULT_SAMPLES_BRANCH,
    DEFAULT_TAG_BITS,
    FORMATS,
    POLARITIES,
    SAMPLE_PERIOD_NS,
    ImportOptions,
    check_output_name,
    import_files,
    parse_window,
)
from ..files.triggerfile import is_trigger_file
from ..progress import ProgressBar
from ._args import FORMATTER, positive_int

_DESCRIPTION = """\
Convert digitizer recordings into a trigger file (.npz) of waveform triggers.

formats:
  dump    binary events: a header of six little-endian uint32 words (event size in bytes
          with the header, board id, pattern, channel, event counter, trigger time tag),
          then the uint16 samples; --no-header for samples alone
  ascii   text events: header lines 'Record Length: N', 'BoardID: ..', 'Channel: ..',
          'Event Number: ..', 'Pattern: ..', 'Trigger Time Stamp: ..', 'DC offset (DAC): ..',
          then N lines of one sample each
  root    a tree of a ROOT file read with uproot (pip install 'orvane[root]'); the branch
          names are options

Several files of one run (one per channel, say) are merged in time order; the time tags are
unwrapped at their rollover.  Each waveform's baseline is the median of its first 16 samples
unless told otherwise (--baseline-method robust for baselines that wander).  Pulses that go
down are turned over; --polarity auto, the default, decides that per file and channel from
the data and prints its choice.  The sampling period (--sampling-period) and the ADC's
resolution (--adc-bits) are stored in the trigger file, with the import's provenance (the raw
files' SHA-256 and every option).  A malformed event stops the import with
the file, event (from 0) and byte offset or line; --skip-bad skips and counts such events.
"""


def _window(text: str) -> tuple[int | None, int | None]:
    try:
        return parse_window(text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None


def add_parser(subparsers: Any, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add ``orvane import`` to the subcommands of the ``orvane`` parser."""
    cmd = subparsers.add_parser(
        "import",
        parents=parents,
        formatter_class=FORMATTER,
        help="convert digitizer files into a trigger file",
        description=_DESCRIPTION,
    )
    cmd.add_argument("format", choices=FORMATS, metavar="FORMAT", help="dump, ascii or root")
    cmd.add_argument("inputs", nargs="+", metavar="INPUT", help="files of one run")
    cmd.add_argument(
        "-o", "--output", required=True, metavar="TRIGGERS", help="trigger file to write (.npz)"
    )
    cmd.add_argument("--overwrite", action="store_true", help="replace an existing output file")
    cmd.add_argument(
        "--run-number", type=int, default=0, metavar="R", help="run number (default 0)"
    )
    layout = cmd.add_argument_group("layout")
    layout.add_argument(
        "--no-header",
        dest="header",
        action="store_false",
        help="dump: the events have no header (give --record-length and --channel)",
    )
    layout.add_argument(
        "--record-length",
        type=positive_int,
        metavar="N",
        help="samples per event (dump; checked against the size words when there is a header)",
    )
    layout.add_argument(
        "--channel", type=int, metavar="C", help="channel of input that carries none"
    )
    layout.add_argument(
        "--clock",
        type=float,
        default=DEFAULT_CLOCK_NS,
        metavar="NS",
        help="nanoseconds per count of the trigger time tag (default %(default)g)",
    )
    layout.add_argument(
        "--tag-bits",
        type=int,
        default=DEFAULT_TAG_BITS,
        metavar="B",
        help="bits of the time tag, which rolls over at 2^B (default %(default)s; 0: never)",
    )
    layout.add_argument(
        "--sampling-period",
        type=float,
        default=SAMPLE_PERIOD_NS,
        metavar="NS",
        help="nanoseconds between samples, stored in the trigger file (default %(default)g)",
    )
    layout.add_argument(
        "--adc-bits",
        type=int,
        default=DEFAULT_ADC_BITS,
        metavar="B",
        help="the digitizer's resolution: samples 0 to 2^B - 1, the saturation level "
        "(default %(default)s)",
    )
    layout.add_argument(
        "--polarity",
        choices=POLARITIES,
        default="auto",
        help="pulses go up (positive) or down (negative: (2^B - 1) - sample is stored) from "
        "the baseline; auto (default): decided per file and channel from the data",
    )
    layout.add_argument(
        "--negative-pulses",
        dest="polarity",
        action="store_const",
        const="negative",
        help="the same as --polarity negative",
    )
    root = cmd.add_argument_group("root")
    root.add_argument("--tree", metavar="NAME", help="tree to read (default: the only one)")
    root.add_argument(
        "--samples-branch",
        default=DEFAULT_SAMPLES_BRANCH,
        metavar="NAME",
        help="branch of the waveforms (default %(default)s)",
    )
    root.add_argument("--channel-branch", metavar="NAME", help="branch of the channel numbers")
    root.add_argument("--time-branch", metavar="NAME", help="branch of the trigger time tags")
    base = cmd.add_argument_group("baseline")
    base.add_argument(
        "--baseline-samples",
        type=positive_int,
        metavar="N",
        help=f"estimate each baseline from the first N samples (default {DEFAULT_BASELINE_SAMPLES})",
    )
    base.add_argument(
        "--baseline-method",
        choices=BASELINE_METHODS,
        default=DEFAULT_BASELINE_METHOD,
        help="median or mean of the samples; robust: the level of the quiet samples (of the "
        "whole record unless --baseline-window is given), for wandering baselines "
        "(default %(default)s)",
    )
    base.add_argument(
        "--baseline-window",
        type=_window,
        metavar="START:STOP",
        help="take the baseline from samples START to STOP-1 (negative: from the record's end; "
        "empty: its start or end) instead of the first N",
    )
    base.add_argument(
        "--baseline",
        type=float,
        metavar="LSB",
        help="one fixed baseline for every waveform, of the samples as stored (pulses that go "
        "down turned over)",
    )
    run_group = cmd.add_argument_group("run")
    run_group.add_argument(
        "--skip-bad", action="store_true", help="skip and count malformed events instead of failing"
    )
    run_group.add_argument(
        "--chunk-size",
        type=positive_int,
        default=DEFAULT_CHUNK_EVENTS,
        metavar="N",
        help="events held in memory at a time (default %(default)s)",
    )
    cmd.set_defaults(handler=run)
    return cmd


_SHOWN_PROBLEMS = 10


def run(args: argparse.Namespace) -> int:
    """Run ``orvane import`` with parsed arguments."""
    # Each of these says where the baseline comes from: one at most, none silently ignored.
    sources = {
        "--baseline-samples": args.baseline_samples,
        "--baseline-window": args.baseline_window,
        "--baseline": args.baseline,
    }
    given = [name for name, value in sources.items() if value is not None]
    if len(given) > 1:
        raise UserError(f"{' and '.join(given)} exclude each other: each sets the baseline")
    options = ImportOptions(
        header=args.header,
        record_length=args.record_length,
        channel=args.channel,
        clock_ns=args.clock,
        tag_bits=args.tag_bits,
        sampling_period_ns=args.sampling_period,
        adc_bits=args.adc_bits,
        polarity=args.polarity,
        baseline_samples=args.baseline_samples or DEFAULT_BASELINE_SAMPLES,
        baseline_method=args.baseline_method,
        baseline_window=args.baseline_window,
        baseline_value=args.baseline,
        run_number=args.run_number,
        skip_bad=args.skip_bad,
        chunk_events=args.chunk_size,
        tree=args.tree,
        samples_branch=args.samples_branch,
        channel_branch=args.channel_branch,
        time_branch=args.time_branch,
    )
    try:
        options.check(args.format)
    except ValueError as exc:
        raise UserError(f"cannot import {args.format} files") from exc
    check_output_name(args.output)
    output = Path(args.output)
    for name in args.inputs:
        if output.exists() and Path(name).exists() and output.samefile(name):
            raise UserError(f"the output {args.output} is one of the inputs")
    if output.exists() and not args.overwrite:
        raise UserError(f"{args.output} exists; give --overwrite to replace it")
    if output.exists() and not is_trigger_file(output):
        raise UserError(
            f"refusing to overwrite {args.output}: it is not a trigger file (even with "
            "--overwrite, only a trigger file is replaced)"
        )
    try:
        check_writable(output)
    except OSError as exc:
        raise UserError(f"cannot write the trigger file {args.output}") from exc
    bar: ProgressBar | None = None

    def set_total(total: int) -> None:
        nonlocal bar
        unit = "entries" if args.format == "root" else "B"
        bar = ProgressBar(total, "importing", enabled=False if args.quiet else None, unit=unit)

    def advance(n: int) -> None:
        if bar is not None:
            bar.update(n)

    try:
        summary = import_files(
            args.format, args.inputs, output, options, on_total=set_total, on_progress=advance
        )
    except OSError as exc:
        raise UserError(f"cannot import into {args.output}") from exc
    finally:
        if bar is not None:
            bar.close()
    for warning in summary.warnings:
        print(f"orvane import: warning: {warning}", file=sys.stderr)
    if args.quiet:
        return 0
    for problem in summary.problems[:_SHOWN_PROBLEMS]:
        print(f"skipped: {problem}", file=sys.stderr)
    if len(summary.problems) > _SHOWN_PROBLEMS:
        print(f"skipped: ... and {len(summary.problems) - _SHOWN_PROBLEMS} more", file=sys.stderr)
    lengths = (
        f"{summary.min_samples}"
        if summary.min_samples == summary.max_samples
        else f"{summary.min_samples}-{summary.max_samples}"
    )
    print(
        f"read {summary.events} events ({lengths} samples each, "
        f"{summary.last_time_s - summary.first_time_s:.6g} s of run) from {summary.files} "
        f"file(s), skipped {summary.skipped} malformed; wrote {args.output} "
        f"(run {options.run_number})"
    )
    for choice in summary.polarities:
        print(f"polarity: {choice.describe()}")
    return 0
