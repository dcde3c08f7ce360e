"""Argument helpers shared by the subcommands of ``orvane``."""

from __future__ import annotations

import argparse

__all__ = ["FORMATTER", "common_options", "count", "fraction", "positive_float", "positive_int"]

#: Descriptions are laid out by hand: keep their line breaks.
FORMATTER = argparse.RawDescriptionHelpFormatter


def positive_int(text: str) -> int:
    """An argument type: an integer of at least 1."""
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {value}")
    return value


def count(text: str) -> int:
    """An argument type: an integer of at least 0."""
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must not be negative, got {value}")
    return value


def positive_float(text: str) -> float:
    """An argument type: a number above 0."""
    value = float(text)
    if not value > 0:
        raise argparse.ArgumentTypeError(f"must be positive, got {value}")
    return value


def fraction(text: str) -> float:
    """An argument type: a number from 0 to 1."""
    value = float(text)
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"must lie in [0, 1], got {value}")
    return value


def common_options() -> argparse.ArgumentParser:
    """The parent parser of every subcommand: -q/--quiet and --debug after the command.

    SUPPRESS as the default keeps a value given before the command.
    """
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
