"""``orvane report``: a web page of a run's per-channel diagnostics, warnings first."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

from ..plots.report import ReportOptions, format_warnings, prepare_folder, write_report
from ..progress import ProgressBar
from ._args import count, fraction, positive_float

DESCRIPTION = """\
Write a static web page about a run into the folder DIR (created when missing): warnings
first, then the run's summary (from the hit files' provenance: version, settings, inputs with
their hashes, counts, drops), a table of the channels, per-channel plots (charge spectrum, hit
time relative to the trigger, baseline and rate over the run, time to the next pulse), the
calibration when the channel table holds one, and recorded waveforms with their hits.  Open
DIR/index.html in a browser; it needs no server and no network.  DIR/summary.json holds the
same numbers.

HITS are hit files (.parquet, .npy, .csv) or folders of them.  The trigger files they were
made from (--triggers) add what only the waveforms show: quiet level and noise, polarity,
baseline and saturation checks, and the waveforms themselves.  Inputs are read a chunk at a
time, so memory does not grow with the run.  docs/report.md explains every section, warning
and threshold.
"""


def add_threshold_options(parser: argparse.ArgumentParser) -> None:
    """The options that set the warnings' thresholds and what the report draws."""
    d = ReportOptions()
    group = parser.add_argument_group("warning thresholds (see docs/report.md)")
    group.add_argument(
        "--polarity-sigma",
        type=positive_float,
        default=d.polarity_sigma,
        metavar="N",
        help="noise widths beyond the quiet level that count a "
        "sample for the polarity check (default %(default)s)",
    )
    group.add_argument(
        "--polarity-min-samples",
        type=count,
        default=d.polarity_min_samples,
        metavar="N",
        help="samples beyond them a channel needs before its "
        "polarity is judged (default %(default)s)",
    )
    group.add_argument(
        "--polarity-ratio",
        type=positive_float,
        default=d.polarity_ratio,
        metavar="R",
        help="factor by which the samples below must outnumber those above (default %(default)s)",
    )
    group.add_argument(
        "--baseline-sigma",
        type=positive_float,
        default=d.baseline_sigma,
        metavar="N",
        help="noise widths between stored baseline and quiet level "
        "that make a baseline off (default %(default)s)",
    )
    group.add_argument(
        "--baseline-fraction",
        type=fraction,
        default=d.baseline_fraction,
        metavar="F",
        help="fraction of a channel's waveforms with an off "
        "baseline that warns (default %(default)s)",
    )
    group.add_argument(
        "--saturation-fraction",
        type=fraction,
        default=d.saturation_fraction,
        metavar="F",
        help="fraction of waveforms touching the range or with a "
        "flat top that warns (default %(default)s)",
    )
    group.add_argument(
        "--dropped-fraction",
        type=fraction,
        default=d.dropped_fraction,
        metavar="F",
        help="fraction of a channel's triggers dropped that warns (default %(default)s)",
    )
    group.add_argument(
        "--spe-tolerance",
        type=positive_float,
        default=d.spe_tolerance,
        metavar="PE",
        help="allowed distance of the single photo-electron peak from 1 PE (default %(default)s)",
    )
    group.add_argument(
        "--adc-max",
        type=count,
        default=None,
        metavar="LSB",
        help="the digitizer's largest sample, a range limit besides 0 and 65535",
    )
    draw = parser.add_argument_group("waveforms drawn")
    draw.add_argument(
        "--waveforms",
        type=count,
        nargs=2,
        default=[d.waveforms_first, d.waveforms_random],
        metavar=("FIRST", "RANDOM"),
        help="waveforms drawn per channel: the first FIRST and RANDOM more at "
        "random (default %(default)s)",
    )
    draw.add_argument(
        "--seed",
        type=int,
        default=d.seed,
        help="seed of the random choice of waveforms (default %(default)s)",
    )


def options_from(args: argparse.Namespace) -> ReportOptions:
    """The report options of parsed arguments (see :func:`add_threshold_options`)."""
    return ReportOptions(
        polarity_sigma=args.polarity_sigma,
        polarity_min_samples=args.polarity_min_samples,
        polarity_ratio=args.polarity_ratio,
        baseline_sigma=args.baseline_sigma,
        baseline_fraction=args.baseline_fraction,
        saturation_fraction=args.saturation_fraction,
        dropped_fraction=args.dropped_fraction,
        spe_tolerance=args.spe_tolerance,
        adc_max=args.adc_max,
        waveforms_first=args.waveforms[0],
        waveforms_random=args.waveforms[1],
        seed=args.seed,
    )


def add_parser(subparsers, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add ``orvane report`` to ``subparsers``."""
    p = subparsers.add_parser(
        "report",
        parents=parents,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        help="write a web page of a run's diagnostics, warnings first",
        description=DESCRIPTION,
    )
    p.add_argument("hits", metavar="HITS", nargs="+", help="hit files, or folders of them")
    p.add_argument(
        "--triggers",
        nargs="+",
        default=[],
        metavar="TRIGGERS",
        help="the trigger files the hits were made from (.npz)",
    )
    p.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="DIR",
        help="folder of the report (index.html, images, summary.json)",
    )
    p.add_argument("--overwrite", action="store_true", help="replace the report already in DIR")
    p.add_argument(
        "--fail-on-warning",
        action="store_true",
        help="exit with status 1 when any warning stands (for nightly checks)",
    )
    add_threshold_options(p)
    p.set_defaults(handler=run)
    return p


def make_report(
    hits, triggers, folder: Path, options: ReportOptions, *, quiet: bool, fail_on_warning: bool
) -> int:
    """Write the report and print where, and its warnings; the exit status."""
    bars: list[ProgressBar] = []

    def progress(total: int, unit: str):
        bar = ProgressBar(total, "report", enabled=False if quiet else None, unit=unit[:4])
        bars.append(bar)
        return bar.update

    try:
        report = write_report(hits, folder, triggers=triggers, options=options, progress=progress)
    finally:
        for bar in bars:
            bar.close()
    if report.warnings and not quiet:
        print(format_warnings(report.warnings), file=sys.stderr)
    if not quiet:
        print(
            f"report written to {report.index} ({len(report.warnings)} warning kind"
            f"{'s' if len(report.warnings) != 1 else ''}; {report.seconds_pass:.1f} s reading, "
            f"{report.seconds_draw:.1f} s drawing)"
        )
    return 1 if report.warnings and fail_on_warning else 0


def run(args: argparse.Namespace) -> int:
    """Run ``orvane report``."""
    folder = Path(args.output)
    prepare_folder(folder, args.overwrite)
    return make_report(
        args.hits,
        args.triggers,
        folder,
        options_from(args),
        quiet=args.quiet,
        fail_on_warning=args.fail_on_warning,
    )
