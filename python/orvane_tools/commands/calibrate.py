"""``orvane calibrate``: fit every channel's photo-electron response, write the channel table."""

from __future__ import annotations

import argparse
import sys

from .._errors import UserError
from ._args import FORMATTER, count, positive_int

DESCRIPTION = """\
Calibrate every channel from its own data: extract a feature of the triggers in TRIGGERS
(trigger files, .npz; glob patterns are expanded) with the extractors section of SETTINGS
(its drop_* options off, so that no record is lost to them), histogram it per channel, fit each
histogram with the photo-electron response (an extended binned likelihood, iminuit: pip install
'orvane[calibrate]') and write the channel table TABLE.csv: channel, pmt_type, the five columns
of the charge line (slope 1/gain, intercept -pedestal/gain, their uncertainties and
covariance), gain, gain_uncertainty, pedestal, spe_width, occupancy, entries, fit_status and
reduced_chi2, with its provenance in '#' lines.  docs/calibrate.md describes the model.

--mode pedestal (default) fits spectra of triggers that show the pedestal (light pulses of
0.5 to a few photo-electrons on average); --mode dark fits self-triggered dark counts (pulse
finder) with no pedestal: the fit starts above the threshold's edge found in the histogram.
Starting values come from the histogram; --range and --gain override them.

The PMT types come from --table OLD.csv, whose other rows and columns are kept (a channel that
is not calibrated keeps its row), or from --pmt-type N for every channel.  The command exits 0
when at least one channel was calibrated (each one that was not is listed with the reason), 1
when none was, or with --strict when any was not.
"""


def add_parser(subparsers, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add the ``calibrate`` command to ``subparsers``."""
    from ..calibration.driver import DEFAULT_FEATURE, FEATURES
    from ..calibration.fit import DEFAULT_MIN_ENTRIES
    from ..calibration.model import MODES

    p = subparsers.add_parser(
        "calibrate",
        parents=parents,
        formatter_class=FORMATTER,
        help="fit each channel's photo-electron spectrum, write the channel table",
        description=DESCRIPTION,
    )
    p.add_argument("settings", metavar="SETTINGS", help="settings file (YAML)")
    p.add_argument("triggers", metavar="TRIGGERS", nargs="+", help="trigger files (.npz)")
    p.add_argument("-o", "--output", required=True, metavar="TABLE", help="channel table to write")
    p.add_argument(
        "--mode", choices=MODES, default="pedestal", help="spectrum kind (default %(default)s)"
    )
    p.add_argument(
        "--feature",
        choices=tuple(FEATURES),
        default=DEFAULT_FEATURE,
        help="feature to calibrate (default %(default)s)",
    )
    p.add_argument(
        "--columns",
        default="charge",
        metavar="PREFIX",
        help="prefix of the line's five columns (default %(default)s)",
    )
    kinds = p.add_argument_group("PMT types (one of them is required)")
    kinds.add_argument(
        "--table",
        metavar="OLD",
        help="channel table whose PMT types, other columns and uncalibrated rows are kept",
    )
    kinds.add_argument(
        "--pmt-type",
        type=int,
        metavar="N",
        help="PMT type of every channel (with --table: of channels missing from it)",
    )
    fit = p.add_argument_group("fit")
    fit.add_argument(
        "--range",
        type=float,
        nargs=2,
        metavar=("LOW", "HIGH"),
        help="fit range in units of the feature (default: from each histogram)",
    )
    fit.add_argument(
        "--gain",
        type=float,
        metavar="G",
        help="starting gain in units of the feature (default: from each histogram)",
    )
    fit.add_argument(
        "--min-entries",
        type=count,
        default=DEFAULT_MIN_ENTRIES,
        metavar="N",
        help="fewest values a channel needs to be fitted (default %(default)s)",
    )
    fit.add_argument(
        "--jobs",
        type=positive_int,
        default=None,
        metavar="N",
        help="processes that fit channels (default: as many as pay off, from 96 channels)",
    )
    p.add_argument(
        "--threads",
        type=positive_int,
        default=1,
        metavar="N",
        help="threads of the feature extraction (default %(default)s)",
    )
    p.add_argument(
        "--report",
        metavar="DIR",
        help="write a page of every channel's spectrum and fit into DIR (needs matplotlib)",
    )
    p.add_argument(
        "--strict", action="store_true", help="exit 1 when any channel was not calibrated"
    )
    p.add_argument("--overwrite", action="store_true", help="replace an existing table or report")
    p.set_defaults(handler=run)
    return p


def run(args: argparse.Namespace) -> int:
    """Run ``orvane calibrate``."""
    from ..calibration.driver import calibrate, format_summary
    from ..run.planning import expand_inputs

    quiet = getattr(args, "quiet", False)
    try:
        result = calibrate(
            args.settings,
            expand_inputs(args.triggers),
            args.output,
            feature=args.feature,
            mode=args.mode,
            columns=args.columns,
            table=args.table,
            pmt_type=args.pmt_type,
            fit_range=tuple(args.range) if args.range else None,
            gain=args.gain,
            min_entries=args.min_entries,
            jobs=args.jobs,
            threads=args.threads,
            report=args.report,
            overwrite=args.overwrite,
            command_line=["orvane", *sys.argv[1:]],
            progress=False if quiet else None,
        )
    except (FileExistsError, ImportError) as exc:
        raise UserError("cannot write the report") from exc
    if not quiet:
        print(format_summary(result))
    if args.strict and result.failed:
        print(
            f"orvane calibrate: {len(result.failed)} channel{'s' if len(result.failed) > 1 else ''}"
            " not calibrated (--strict)",
            file=sys.stderr,
        )
        return 1
    return 0


__all__ = ["add_parser", "run"]
