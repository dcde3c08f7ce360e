"""The subcommands of ``orvane``, one module each.

Every module has ``add_parser(subparsers, parents)``, which adds its subparser (with
``parents`` as the parent parsers, so that the common options follow the command) and sets
``handler=run`` on it, and ``run(args)``, which runs the command with the parsed arguments and
returns the exit status.  ``COMMANDS`` lists them in the order of ``orvane --help``.
"""

from __future__ import annotations

from . import calibrate, check, demo, import_, init, reconstruct, report, simulate

COMMANDS = [demo, simulate, reconstruct, check, init, import_, calibrate, report]

__all__ = ["COMMANDS"]
