"""``orvane simulate``: write a trigger file of simulated waveform and multi-PMT triggers."""

from __future__ import annotations

import argparse
import os
from typing import Any

from .._atomic import check_writable
from .._errors import UserError
from ..files.channels import EXAMPLE_CHANNELS, example_detector
from ..files.triggerfile import SIMULATION_RUN_NUMBER, is_trigger_file, write_trigger_file
from ..simulation.simulate import FAULTS, SHAPES, SimulationConfig, simulate
from ._args import FORMATTER, count, positive_int

__all__ = ["add_parser", "run"]


def _fault(text: str) -> tuple[int, str]:
    channel, _, kind = text.partition(":")
    try:
        number = int(channel)
    except ValueError:
        number = -1
    if number < 0 or kind not in FAULTS:
        raise argparse.ArgumentTypeError(
            f"expected CHANNEL:KIND with KIND one of {', '.join(FAULTS)}, got {text!r}"
        )
    return number, kind


def add_parser(subparsers: Any, parents: list[argparse.ArgumentParser]) -> argparse.ArgumentParser:
    """Add ``orvane simulate`` to the subcommands of the ``orvane`` parser."""
    sim = subparsers.add_parser(
        "simulate",
        parents=parents,
        formatter_class=FORMATTER,
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
        type=count,
        default=10_000,
        metavar="N",
        help="number of waveform triggers (default %(default)s)",
    )
    sim.add_argument(
        "--multipmt",
        type=count,
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
        "--npe", type=count, metavar="K", help="exactly K photo-electrons in every trigger"
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
        type=positive_int,
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
        type=count,
        default=SIMULATION_RUN_NUMBER,
        metavar="R",
        help="run number (default %(default)s, the simulation run)",
    )
    sim.add_argument(
        "--seed", type=int, default=1, help="seed of the simulation (default %(default)s)"
    )
    sim.add_argument(
        "--fault",
        action="append",
        default=[],
        metavar="CHANNEL:KIND",
        type=_fault,
        help="give waveform channel CHANNEL a fault, to test diagnostics (orvane report): "
        "inverted (pulses go down), drift (the baseline climbs over the run and steps up in "
        "each record), saturation (pulses clip), dead (a flat baseline); repeat for several",
    )
    sim.add_argument(
        "--shape",
        choices=SHAPES,
        default="short",
        help="short (default): 64 samples on a 1000 LSB baseline; real: 406 samples on a 45 "
        "LSB baseline, the baseline of each trigger from its first 16 samples",
    )
    sim.add_argument(
        "--compress",
        action="store_true",
        help="compress the archive (smaller, slower to write and read)",
    )
    sim.add_argument("--overwrite", action="store_true", help="replace an existing trigger file")
    sim.set_defaults(handler=run)
    return sim


def run(args: argparse.Namespace) -> int:
    """Run ``orvane simulate`` with parsed arguments."""
    config = SimulationConfig(
        n_tarvo=args.tarvo,
        n_multipmt=args.multipmt,
        npe_mean=args.npe_mean,
        npe=args.npe,
        rate_hz=args.rate,
        n_channels=EXAMPLE_CHANNELS if args.channels is None else args.channels,
        run_number=args.run_number,
        seed=args.seed,
        faults=tuple(args.fault),
        shape=args.shape,
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
        if not is_trigger_file(args.output):
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
    if not args.quiet:
        print(
            f"wrote {data.n_tarvo} waveform and {data.n_multipmt} multi-PMT triggers "
            f"(run {config.run_number}, seed {config.seed}) to {args.output}"
        )
    return 0
