"""The ``orvane`` command: simulate trigger files, reconstruct them into hit files, run a demo."""

from __future__ import annotations

import argparse
import os
import signal
import sys
import threading
import traceback
from collections.abc import Sequence

from . import __version__, reconstruct_command
from . import check as check_command
from . import init as init_command
from ._atomic import check_writable
from ._errors import UserError, format_error
from .channels import EXAMPLE_CHANNELS, example_detector
from .commands import calibrate as calibrate_command
from .demo import DEFAULT_PLOT, DEFAULT_TRIGGERS, run_demo
from .importers import add_import_command
from .pulsetrain import run_long_demo
from .simulate import SimulationConfig, simulate
from .triggerfile import (
    SIMULATION_RUN_NUMBER,
    TriggerFileError,
    TriggerFileReader,
    write_trigger_file,
)

PROG = "orvane"
DEFAULT_LONG_TRIGGERS = 10_000

DESCRIPTION = """\
Reconstruct PMT hits (time and charge, with uncertainties) from trigger data.

commands:
  demo          simulate a run, reconstruct it with the example settings, print a summary
  simulate      write a trigger file of simulated waveform and multi-PMT triggers
  reconstruct   read trigger files, write the hits they hold
  check         check a settings file and the tables it names
  init          write the example settings and tables into a folder
  import        convert digitizer files (binary, text, ROOT) into a trigger file
  calibrate     fit each channel's photo-electron spectrum, write the channel table

Run 'orvane COMMAND --help' for the options of a command.
"""

EPILOG = """\
Trigger files are NumPy .npz archives (see the README's "Trigger files" section); hit files
are .npy, .csv or .parquet, with the columns channel, id, time, charge, time_uncertainty,
charge_uncertainty.  Errors are reported in one paragraph with their causes and a non-zero
exit status (--debug shows the traceback); no output file is left behind by a failure.
"""


def _positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {value}")
    return value


def _count(text: str) -> int:
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative, got {value}")
    return value


def _common_options() -> argparse.ArgumentParser:
    # Given after the command; SUPPRESS keeps a value given before it.
    common = argparse.ArgumentParser(add_help=False)
    group = common.add_argument_group("output options")
    group.add_argument(
        "-q",
        "--quiet",
        action="store_true",
        default=argparse.SUPPRESS,
        help="print nothing but errors (no progress bar, no summary)",
    )
    group.add_argument(
        "--debug",
        action="store_true",
        default=argparse.SUPPRESS,
        help="show the Python traceback of an error",
    )
    return common


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the ``orvane`` command."""
    formatter = argparse.RawDescriptionHelpFormatter
    parser = argparse.ArgumentParser(
        prog=PROG, description=DESCRIPTION, epilog=EPILOG, formatter_class=formatter
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    parser.add_argument(
        "-q", "--quiet", action="store_true", default=False, help="print nothing but errors"
    )
    parser.add_argument(
        "--debug", action="store_true", default=False, help="show the Python traceback of an error"
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    common = _common_options()

    demo = commands.add_parser(
        "demo",
        parents=[common],
        formatter_class=formatter,
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
        type=_positive_int,
        default=None,
        metavar="N",
        help=f"number of triggers to simulate (default {DEFAULT_TRIGGERS}, with --long "
        f"{DEFAULT_LONG_TRIGGERS})",
    )
    demo.add_argument(
        "--long",
        action="store_true",
        help="long waveforms (1024 samples) with 1 to 5 pulses each, reconstructed with the "
        "pulse finder; prints the pulses found against the truth",
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
    demo.add_argument(
        "--settings", metavar="PATH", help="settings file to use instead of the example settings"
    )
    demo.set_defaults(handler=_cmd_demo)

    sim = commands.add_parser(
        "simulate",
        parents=[common],
        formatter_class=formatter,
        help="write a trigger file of simulated triggers",
        description=(
            "Simulate waveform (Tarvo) and multi-PMT triggers with a known truth and write them\n"
            "to a trigger file (.npz).  The photo-electron count per trigger is Poisson\n"
            "distributed (--npe-mean) or fixed (--npe); multi-PMT triggers always have at\n"
            "least one photo-electron, as their threshold would not fire without a pulse."
        ),
    )
    sim.add_argument(
        "-o", "--output", required=True, metavar="TRIGGERS", help="trigger file to write (.npz)"
    )
    sim.add_argument(
        "--tarvo",
        type=_count,
        default=10_000,
        metavar="N",
        help="number of waveform triggers (default %(default)s)",
    )
    sim.add_argument(
        "--multipmt",
        type=_count,
        default=10_000,
        metavar="N",
        help="number of multi-PMT triggers (default %(default)s)",
    )
    npe = sim.add_mutually_exclusive_group()
    npe.add_argument(
        "--npe-mean",
        type=float,
        default=1.5,
        metavar="MEAN",
        help="mean photo-electron count per trigger (default %(default)s)",
    )
    npe.add_argument(
        "--npe", type=_count, metavar="K", help="exactly K photo-electrons in every trigger"
    )
    sim.add_argument(
        "--rate",
        type=float,
        default=10_000.0,
        metavar="HZ",
        help="trigger rate of each kind in Hz (default %(default)s)",
    )
    sim.add_argument(
        "--channels",
        type=_positive_int,
        default=None,
        metavar="C",
        help="channels of each kind (default 64; the example detector has 64)",
    )
    sim.add_argument(
        "--detector",
        choices=("example", "ideal"),
        default="example",
        help="example (default): the detector of the example settings' channel table, whose "
        "waveform channels' gains spread by +-30%% around those of two PMT types; ideal: every "
        "channel of the nominal gain and one PMT type",
    )
    sim.add_argument(
        "--run-number",
        type=_count,
        default=SIMULATION_RUN_NUMBER,
        metavar="R",
        help="run number (default %(default)s, the simulation run)",
    )
    sim.add_argument(
        "--seed", type=int, default=1, help="seed of the simulation (default %(default)s)"
    )
    sim.add_argument(
        "--compress",
        action="store_true",
        help="compress the archive (smaller, slower to write and read)",
    )
    sim.add_argument("--overwrite", action="store_true", help="replace an existing trigger file")
    sim.set_defaults(handler=_cmd_simulate)

    reconstruct_command.add_parser(commands, [common])
    check_command.add_command(commands, common)
    init_command.add_command(commands, common)
    add_import_command(commands, common)
    calibrate_command.add_parser(commands, [common])
    return parser


def _say(args: argparse.Namespace, message: str) -> None:
    if not args.quiet:
        print(message)


def _cmd_simulate(args: argparse.Namespace) -> None:
    config = SimulationConfig(
        n_tarvo=args.tarvo,
        n_multipmt=args.multipmt,
        npe_mean=args.npe_mean,
        npe=args.npe,
        rate_hz=args.rate,
        n_channels=EXAMPLE_CHANNELS if args.channels is None else args.channels,
        run_number=args.run_number,
        seed=args.seed,
    )
    if args.detector == "example":
        if config.n_channels != EXAMPLE_CHANNELS:
            raise UserError(
                f"the example detector has {EXAMPLE_CHANNELS} channels of each kind, not "
                f"{config.n_channels}; use --detector ideal for another count"
            )
        config = example_detector(config)
    try:
        config.check()
    except ValueError as exc:
        raise UserError("cannot simulate") from exc
    try:
        check_writable(args.output)
    except OSError as exc:
        raise UserError(f"cannot write the trigger file {args.output}") from exc
    if os.path.lexists(args.output):
        if not args.overwrite:
            raise UserError(f"{args.output} exists; pass --overwrite to replace it")
        if not _is_trigger_file(args.output):
            raise UserError(
                f"refusing to overwrite {args.output}: it is not a trigger file (even with "
                "--overwrite, only a trigger file is replaced)"
            )
    try:
        data = simulate(config)
    except MemoryError as exc:
        raise UserError(
            f"not enough memory to simulate {config.n_tarvo + config.n_multipmt} triggers; "
            "simulate fewer, into several files"
        ) from exc
    try:
        write_trigger_file(args.output, data, compress=args.compress)
    except OSError as exc:
        raise UserError(f"cannot write the trigger file {args.output}") from exc
    _say(
        args,
        f"wrote {data.n_tarvo} waveform and {data.n_multipmt} multi-PMT triggers "
        f"(run {config.run_number}, seed {config.seed}) to {args.output}",
    )


def _is_trigger_file(path: str) -> bool:
    try:
        with TriggerFileReader(path):
            return True
    except (OSError, TriggerFileError):
        return False


def _cmd_demo(args: argparse.Namespace) -> None:
    if args.settings is not None:
        check_command.require_valid_settings(args.settings)
    if args.long:
        run_long_demo(
            triggers=args.triggers or DEFAULT_LONG_TRIGGERS,
            seed=args.seed,
            settings=args.settings,
            quiet=args.quiet,
        )
        return
    if args.triggers is None:
        args.triggers = DEFAULT_TRIGGERS
    try:
        run_demo(
            triggers=args.triggers,
            seed=args.seed,
            plot=args.plot,
            settings=args.settings,
            quiet=args.quiet,
        )
    except OSError as exc:
        raise UserError("the demo cannot write its plot") from exc


class Terminated(BaseException):
    """SIGTERM, raised in the main thread so that it cleans up as Ctrl-C does."""


def _on_sigterm(signum: int, frame: object) -> None:
    signal.signal(signal.SIGTERM, signal.SIG_IGN)  # a second one must not cut the clean-up
    raise Terminated


def main(argv: Sequence[str] | None = None) -> int:
    """Run the ``orvane`` command with ``argv`` (default: the process's arguments).

    Returns the exit status: 0 on success, 1 on an error, 2 on a usage error, 130 when
    interrupted (Ctrl-C), 143 when terminated (SIGTERM); either leaves no output behind.
    """
    parser = build_parser()
    try:
        args = parser.parse_args(None if argv is None else list(argv))
    except SystemExit as exc:  # --help, --version and usage errors
        return exc.code if isinstance(exc.code, int) else 1
    if getattr(args, "handler", None) is None:
        parser.print_help(sys.stderr)
        return 2
    prog = f"{PROG} {args.command}"
    previous = None
    if threading.current_thread() is threading.main_thread():
        previous = signal.signal(signal.SIGTERM, _on_sigterm)
    try:
        status = args.handler(args)
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return 130
    except Terminated:
        print(f"{prog}: terminated", file=sys.stderr)
        return 128 + signal.SIGTERM
    except Exception as exc:  # noqa: BLE001 - every failure becomes a message and a status
        if args.debug:
            traceback.print_exception(type(exc), exc, exc.__traceback__, file=sys.stderr)
        message = format_error(exc, prog=prog)
        if not args.debug and not isinstance(exc, (UserError, TriggerFileError)):
            message += " (run with --debug to see the traceback)"
        print(message, file=sys.stderr)
        return 1
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    return status if isinstance(status, int) else 0


__all__: list[str] = ["build_parser", "main"]
