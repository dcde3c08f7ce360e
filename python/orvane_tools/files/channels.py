"""Channel tables: the PMT type and the calibration of every channel of a detector.

A channel table is a CSV file with a header line naming its columns; lines whose first
non-blank character is ``#`` and blank lines are skipped.  The columns ``channel`` and
``pmt_type`` (integers) are required; every other column holds numbers, and calibration
columns come in groups of five sharing a prefix (``charge_slope``, ``charge_intercept``,
``charge_slope_uncertainty``, ``charge_intercept_uncertainty``, ``charge_covariance``), read by
the ``ChannelLinearReco`` reconstructor.  Settings name the table under
``extractors: {channels: {table: FILE}}`` to give every record its channel's PMT type.

This module writes tables (numbers are written so that they read back to the same bits), makes
the table of a simulated detector from the simulator's truth, and counts the triggers that
extraction drops for want of a row.
"""

from __future__ import annotations

import dataclasses
import os
from collections.abc import Mapping, Sequence

import numpy as np

from .._atomic import atomic_output
from .._extension import load_extension
from ..simulation.simulate import SPE_CHARGE_LSB, SimulationConfig, simulate
from .triggerfile import Truth


def calibration_columns(prefix: str) -> list[str]:
    """The five columns of a line calibration with the prefix ``prefix``, in the order slope,
    intercept, slope_uncertainty, intercept_uncertainty, covariance: the names the library's
    ``ChannelLinearReco`` reads."""
    return list(load_extension().ChannelTable.calibration_columns(prefix))


#: The waveform charge line of the example settings at gain 1: 1/300 PE per LSB, known to 3 %,
#: and the baseline noise of 0.06 PE.
NOMINAL_CHARGE_SLOPE = 1.0 / SPE_CHARGE_LSB
NOMINAL_CHARGE_SLOPE_UNCERTAINTY = 0.0001
NOMINAL_CHARGE_INTERCEPT_UNCERTAINTY = 0.06

#: The detector of the example settings (examples/channels.csv) and of the demo: 64 waveform and
#: 64 multi-PMT channels, two PMT types of relative gains 1 and 0.8, each waveform channel's
#: gain spread by +-30 % around its type's.
EXAMPLE_CHANNELS = 64
EXAMPLE_DETECTOR_SEED = 13
EXAMPLE_GAIN_SPREAD = 0.3
EXAMPLE_PMT_TYPE_GAINS = (1.0, 0.8)


def example_detector(config: SimulationConfig | None = None) -> SimulationConfig:
    """``config`` (default: the simulator's defaults) on the example detector."""
    return dataclasses.replace(
        config or SimulationConfig(),
        n_channels=EXAMPLE_CHANNELS,
        gain_spread=EXAMPLE_GAIN_SPREAD,
        pmt_type_gains=EXAMPLE_PMT_TYPE_GAINS,
        detector_seed=EXAMPLE_DETECTOR_SEED,
    )


def example_detector_truth() -> Truth:
    """The channel truth of the example detector (a run without triggers)."""
    truth = simulate(example_detector(SimulationConfig(n_tarvo=0, n_multipmt=0))).truth
    assert truth is not None
    return truth


def line_columns(
    prefix: str,
    slope: np.ndarray | float,
    intercept: np.ndarray | float = 0.0,
    slope_uncertainty: np.ndarray | float = 0.0,
    intercept_uncertainty: np.ndarray | float = 0.0,
    covariance: np.ndarray | float = 0.0,
) -> dict[str, np.ndarray | float]:
    """The five calibration columns of ``prefix``, by name."""
    values = (slope, intercept, slope_uncertainty, intercept_uncertainty, covariance)
    return dict(zip(calibration_columns(prefix), values))


def _text(value: float) -> str:
    # repr of a Python float is the shortest text that reads back to the same double.
    return repr(float(value))


def write_channel_table(
    path: str | os.PathLike,
    channel: np.ndarray,
    pmt_type: np.ndarray,
    columns: Mapping[str, np.ndarray | float] | None = None,
    *,
    comment: str | None = None,
) -> None:
    """Write a channel table: one row per entry of ``channel``.

    ``columns`` maps column names to one number per channel (or one number for all);
    ``comment`` is written first as ``#`` lines.  The file appears only once complete.
    """
    channel = np.asarray(channel)
    pmt_type = np.asarray(pmt_type)
    if channel.ndim != 1 or pmt_type.shape != channel.shape:
        raise ValueError("channel and pmt_type must be one-dimensional and of equal length")
    if len(np.unique(channel)) != len(channel):
        raise ValueError("channels must be distinct")
    columns = {} if columns is None else columns
    names = list(columns)
    for name in names:
        if name in ("channel", "pmt_type") or not name or "," in name:
            raise ValueError(f"invalid column name {name!r}")
    values = [
        np.broadcast_to(np.asarray(columns[n], dtype=np.float64), channel.shape) for n in names
    ]
    lines = []
    if comment:
        lines += [f"# {line}".rstrip() for line in comment.splitlines()]
    lines.append(",".join(["channel", "pmt_type", *names]))
    for row in range(len(channel)):
        fields = [str(int(channel[row])), str(int(pmt_type[row]))]
        fields += [_text(column[row]) for column in values]
        lines.append(",".join(fields))
    with atomic_output(path) as tmp, open(tmp, "w", encoding="ascii", newline="\n") as stream:
        stream.write("\n".join(lines) + "\n")


def simulated_charge_calibration(
    truth: Truth, *, calibrated: bool = True
) -> dict[str, np.ndarray | float]:
    """Columns ``charge_*`` of every channel of a simulated detector (an array of one value per
    channel, or one number for all).

    With ``calibrated`` the line of each waveform channel divides out its true gain (a channel of
    gain 1 gets exactly the example settings' ``charge_from_integral`` line); without, every
    channel gets the nominal line, as if the channels were not calibrated one by one.
    """
    if truth.channel_gain is None:
        raise ValueError("the truth records no channel gains")
    gain = truth.channel_gain if calibrated else np.ones_like(truth.channel_gain)
    return line_columns(
        "charge",
        NOMINAL_CHARGE_SLOPE / gain,
        0.0,
        NOMINAL_CHARGE_SLOPE_UNCERTAINTY / gain,
        NOMINAL_CHARGE_INTERCEPT_UNCERTAINTY,
        0.0,
    )


def write_simulated_channel_table(
    path: str | os.PathLike,
    truth: Truth,
    *,
    calibrated: bool = True,
    leave_out: Sequence[int] = (),
) -> None:
    """Write the channel table of a simulated detector: PMT types and the ``charge_*`` lines.

    Channels in ``leave_out`` get no row (a table that misses channels of the data).
    """
    if truth.channel_gain is None or truth.channel_pmt_type is None:
        raise ValueError("the truth records no channel gains and PMT types")
    n = len(truth.channel_gain)
    what = "calibrated to each channel's gain" if calibrated else "nominal, the same for all"
    keep = ~np.isin(np.arange(n), np.asarray(leave_out, dtype=np.int64))
    columns = simulated_charge_calibration(truth, calibrated=calibrated)
    write_channel_table(
        path,
        np.arange(n, dtype=np.int32)[keep],
        truth.channel_pmt_type[keep],
        {name: np.broadcast_to(value, (n,))[keep] for name, value in columns.items()},
        comment=(
            f"Channel table of a simulated detector: {n} channels.\n"
            f"charge_*: waveform integral [LSB * samples] to charge [PE], {what}."
        ),
    )


__all__ = [
    "EXAMPLE_CHANNELS",
    "EXAMPLE_DETECTOR_SEED",
    "calibration_columns",
    "example_detector",
    "example_detector_truth",
    "line_columns",
    "simulated_charge_calibration",
    "write_channel_table",
    "write_simulated_channel_table",
]
