"""``orvane check SETTINGS``: check a settings file and the tables it names."""

from __future__ import annotations

import argparse
from pathlib import Path
from typing import Any

from ..files.settings import describe_settings, require_valid_settings
from ._args import FORMATTER


def run(args: argparse.Namespace) -> int:
    """Run ``orvane check`` with parsed arguments."""
    loaded = require_valid_settings(args.settings)
    if not args.quiet:
        print(f"ok: {Path(args.settings)}")
        print(describe_settings(loaded))
    return 0


def add_parser(subparsers: Any, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add ``orvane check`` to the subcommands of the ``orvane`` parser."""
    check = subparsers.add_parser(
        "check",
        parents=parents,
        formatter_class=FORMATTER,
        help="check a settings file and the tables it names",
        description=(
            "Check the settings file SETTINGS and the lookup tables and channel tables it\n"
            "names, and report every problem found, one paragraph each, with the file, the\n"
            "line, the key path, what was expected and what was found (exit status 1).  A\n"
            "sound file prints 'ok' and what it configures.  'orvane reconstruct' and\n"
            "'orvane demo --settings' run the same check before any work."
        ),
    )
    check.add_argument("settings", metavar="SETTINGS", help="settings file (YAML)")
    check.set_defaults(handler=run)
    return check
