"""``orvane demo``: simulate a run, reconstruct it with the example settings, print a summary."""

from __future__ import annotations

import argparse
from typing import Any

from .._errors import UserError
from ..files.settings import require_valid_settings
from ..simulation.demo import DEFAULT_PLOT, DEFAULT_REPORT, DEFAULT_TRIGGERS, run_demo
from ..simulation.pulsetrain import run_long_demo
from ._args import FORMATTER, positive_int

__all__ = ["DEFAULT_LONG_TRIGGERS", "add_parser", "run"]

DEFAULT_LONG_TRIGGERS = 10_000


def add_parser(subparsers: Any, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add ``orvane demo`` to the subcommands of the ``orvane`` parser."""
    demo = subparsers.add_parser(
        "demo",
        parents=parents,
        formatter_class=FORMATTER,
        help="simulate a run, reconstruct it, print a summary",
        description=(
            "Simulate a run of waveform and multi-PMT triggers (half each) with 0 to a few\n"
            "photo-electrons per trigger, reconstruct it with the example settings shipped with\n"
            "the package, and print a summary against the simulated truth: triggers, hits,\n"
            "throughput, charge bias and resolution at 1 PE, time bias and resolution.  Writes a\n"
            "charge-spectrum plot when matplotlib is installed (pip install 'orvane[plot]')."
        ),
    )
    demo.add_argument(
        "-n",
        "--triggers",
        type=positive_int,
        default=None,
        metavar="N",
        help=f"number of triggers to simulate (default {DEFAULT_TRIGGERS}, with --long "
        f"{DEFAULT_LONG_TRIGGERS})",
    )
    demo.add_argument(
        "--long",
        action="store_true",
        help="long waveforms (1024 samples) with 1 to 5 pulses each, reconstructed with the "
        "pulse finder; prints the pulses found against the truth (no plot, no report)",
    )
    demo.add_argument(
        "--seed", type=int, default=1, help="seed of the simulation (default %(default)s)"
    )
    plot = demo.add_mutually_exclusive_group()
    plot.add_argument(
        "--plot",
        default=DEFAULT_PLOT,
        metavar="PATH",
        help="where to write the charge spectrum (PNG, default %(default)s)",
    )
    plot.add_argument(
        "--no-plot", dest="plot", action="store_const", const=None, help="do not write the plot"
    )
    report = demo.add_mutually_exclusive_group()
    report.add_argument(
        "--report",
        default=DEFAULT_REPORT,
        metavar="DIR",
        help="folder of the run's report, a web page (orvane report; default %(default)s, "
        "replaced at each run)",
    )
    report.add_argument(
        "--no-report",
        dest="report",
        action="store_const",
        const=None,
        help="do not write the report",
    )
    demo.add_argument(
        "--settings", metavar="PATH", help="settings file to use instead of the example settings"
    )
    demo.set_defaults(handler=run)
    return demo


def run(args: argparse.Namespace) -> int:
    """Run ``orvane demo`` with parsed arguments."""
    # Read once; the demo builds its reconstruction from what the check read.
    settings = require_valid_settings(args.settings) if args.settings is not None else None
    if args.long:
        given = [
            f"--{name} {value}"
            for name, value, default in (
                ("plot", args.plot, DEFAULT_PLOT),
                ("report", args.report, DEFAULT_REPORT),
            )
            if value not in (None, default)
        ]
        if given:
            raise UserError(f"--long writes no plot and no report: leave out {', '.join(given)}")
        run_long_demo(
            triggers=args.triggers or DEFAULT_LONG_TRIGGERS,
            seed=args.seed,
            settings=settings,
            quiet=args.quiet,
        )
        return 0
    if args.triggers is None:
        args.triggers = DEFAULT_TRIGGERS
    try:
        run_demo(
            triggers=args.triggers,
            seed=args.seed,
            plot=args.plot,
            settings=settings,
            quiet=args.quiet,
            report=args.report,
        )
    except OSError as exc:
        raise UserError("the demo cannot write its plot or its report") from exc
    return 0
