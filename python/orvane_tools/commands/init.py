"""``orvane init DIR``: copy the example settings and the tables they name into a folder."""

from __future__ import annotations

import argparse
import os
import shutil
from pathlib import Path
from typing import Any

from .._atomic import atomic_output
from .._errors import UserError
from .._resources import example_settings
from ._args import FORMATTER

__all__ = ["EXAMPLE_FILES", "add_parser", "run", "write_examples"]

#: The files written, all beside the example settings in the package; the settings name the
#: tables by these relative names.
EXAMPLE_FILES = (
    "settings.yaml",
    "multipmt_charge_lut.txt",
    "channels.csv",
    # Settings for long waveforms with several pulses (the pulse finder).
    "pulse_finder.yaml",
)


def write_examples(directory: str | os.PathLike, *, overwrite: bool = False) -> list[Path]:
    """Write the example settings and their tables into ``directory`` (created if missing).

    Nothing is written when one of the files exists and ``overwrite`` is false.  Returns the
    paths written.

    Raises
    ------
    UserError
        A file exists (without ``overwrite``), or the directory cannot be written.
    """
    target = Path(directory)
    source = example_settings().parent
    if target.exists() and not target.is_dir():
        raise UserError(f"cannot write the examples into {target}: it is not a directory")
    existing = [target / name for name in EXAMPLE_FILES if (target / name).exists()]
    if existing and not overwrite:
        names = ", ".join(str(p) for p in existing)
        raise UserError(
            f"{names} already exist{'s' if len(existing) == 1 else ''}; nothing was "
            "written (use --overwrite to replace)"
        )
    written = []
    try:
        target.mkdir(parents=True, exist_ok=True)
        for name in EXAMPLE_FILES:
            with atomic_output(target / name) as tmp:
                shutil.copyfile(source / name, tmp)
            written.append(target / name)
    except OSError as exc:
        raise UserError(f"cannot write the examples into {target}") from exc
    return written


def run(args: argparse.Namespace) -> int:
    """Run ``orvane init`` with parsed arguments."""
    written = write_examples(args.directory, overwrite=args.overwrite)
    if not args.quiet:
        settings = Path(args.directory) / EXAMPLE_FILES[0]
        print(f"wrote {', '.join(p.name for p in written)} to {args.directory}")
        print(f"next: orvane check {settings}")
    return 0


def add_parser(subparsers: Any, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add ``orvane init`` to the subcommands of the ``orvane`` parser."""
    init = subparsers.add_parser(
        "init",
        parents=parents,
        formatter_class=FORMATTER,
        help="write the example settings and tables into a folder",
        description=(
            "Write the example settings file (settings.yaml) and the table files it names into\n"
            "DIRECTORY, created if missing: a starting point for your own settings; also\n"
            "pulse_finder.yaml, settings for long waveforms with several pulses.  Existing\n"
            "files are left alone unless --overwrite is given."
        ),
    )
    init.add_argument("directory", metavar="DIRECTORY", help="folder to write the files into")
    init.add_argument(
        "--overwrite", action="store_true", help="replace files of the same names in DIRECTORY"
    )
    init.set_defaults(handler=run)
    return init
