"""The ``orvane`` command: simulate trigger files, reconstruct them into hit files, run a demo."""

from __future__ import annotations

import argparse
import os
import signal
import sys
import threading
import traceback
from collections.abc import Sequence

from . import __version__
from ._errors import UserError, format_error
from .commands import COMMANDS
from .commands._args import common_options
from .files.triggerfile import TriggerFileError

PROG = "orvane"

DESCRIPTION = """\
Reconstruct PMT hits (time and charge, with uncertainties) from trigger data.

Run 'orvane COMMAND --help' for the options of a command.
"""

EPILOG = """\
Trigger files are NumPy .npz archives (see the README's "Trigger files" section); hit files
are .npy, .csv or .parquet, with the columns channel, id, time, charge, time_uncertainty,
charge_uncertainty.  Errors are reported in one paragraph with their causes and a non-zero
exit status (--debug shows the traceback); no partial output file is left behind by a failure.
"""


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
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND", title="commands")
    parents = [common_options()]
    for command in COMMANDS:
        command.add_parser(subparsers, parents)
    return parser


class Terminated(BaseException):
    """SIGTERM, raised in the main thread so that it cleans up as Ctrl-C does."""


def _on_sigterm(signum: int, frame: object) -> None:
    signal.signal(signal.SIGTERM, signal.SIG_IGN)  # a second one must not cut the clean-up
    raise Terminated


def _silence_stdout() -> None:
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):  # no file descriptor behind sys.stdout (e.g. captured)
        pass


def main(argv: Sequence[str] | None = None) -> int:
    """Run the ``orvane`` command with ``argv`` (default: the process's arguments).

    Returns the exit status: 0 on success, 1 on an error, 2 on a usage error, 130 when
    interrupted (Ctrl-C), 143 when terminated (SIGTERM); either leaves no output behind; 141
    when the reader of standard output has gone (a pipe closed early).
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
        sys.stdout.flush()  # here, where a closed pipe is caught, not at exit
    except KeyboardInterrupt:
        print(f"{prog}: interrupted", file=sys.stderr)
        return 130
    except Terminated:
        print(f"{prog}: terminated", file=sys.stderr)
        return 128 + signal.SIGTERM
    except BrokenPipeError:
        # The reader of standard output went away (`orvane check ... | head -1`): stop quietly,
        # as a command killed by SIGPIPE does, and send what is still buffered nowhere.
        _silence_stdout()
        return 128 + signal.SIGPIPE
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
    return status


__all__: list[str] = ["build_parser", "main"]

if __name__ == "__main__":
    raise SystemExit(main())
