"""The channel table a calibration writes: each channel's charge line and what the fit found.

Columns, beside ``channel`` and ``pmt_type`` (``PREFIX`` is ``charge`` unless chosen):

``PREFIX_slope``, ``PREFIX_intercept``
    the line from the feature to photo-electrons: 1/gain and -pedestal/gain.
``PREFIX_slope_uncertainty``, ``PREFIX_covariance``
    the fit's uncertainty of the slope and the covariance of slope and intercept (calibration
    uncertainty, from the fit's covariance of pedestal and gain).
``PREFIX_intercept_uncertainty``
    the noise of one hit, noise/gain in photo-electrons (the pedestal's width: baseline noise
    summed over the window), combined in quadrature with the fit's uncertainty of the
    intercept.  A hit of charge q then carries sqrt(noise^2 + calibration^2); the single
    photo-electron width is not in it, since a hit measures the charge that arrived, not the
    number of photo-electrons (``spe_width`` holds it).
``gain``, ``gain_uncertainty``, ``pedestal``
    in the feature's units (LSB * samples for ``waveform_integral``).
``spe_width``
    the single photo-electron width relative to the gain.
``occupancy``
    mean photo-electrons per trigger (NaN in dark mode, which has no pedestal to count).
``entries``, ``fit_status``, ``reduced_chi2``
    values histogrammed; 0 for a channel calibrated by this fit, else why its row (kept from
    the table given) holds no new numbers: 1 too few entries, 2 the fit failed, 3 no entries;
    the fit's likelihood deviance per degree of freedom.
"""

from __future__ import annotations

import math
import os
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from ..files.channels import calibration_columns, write_channel_table
from .fit import STATUS_NO_ENTRIES, ChannelFit

#: The columns every calibration writes after the five of the line.
FIT_COLUMNS = (
    "gain",
    "gain_uncertainty",
    "pedestal",
    "spe_width",
    "occupancy",
    "entries",
    "fit_status",
    "reduced_chi2",
)


def output_columns(prefix: str) -> list[str]:
    """Names of the columns a calibration writes, in order."""
    return calibration_columns(prefix) + list(FIT_COLUMNS)


def fit_columns(fit: ChannelFit, prefix: str) -> dict[str, float]:
    """The calibration columns of one calibrated channel."""
    slope, intercept, su, iu, cov = fit.line()
    v = fit.values
    gain = v["gain"]
    per_hit = v["noise"] / gain
    line = (slope, intercept, su, math.hypot(iu, per_hit), cov)
    columns = {name: float(x) for name, x in zip(calibration_columns(prefix), line)}
    columns.update(
        gain=gain,
        gain_uncertainty=fit.gain_uncertainty,
        pedestal=v["pedestal"],
        spe_width=v["spe_sigma"] / gain,
        occupancy=v.get("occupancy", math.nan),
        entries=float(fit.entries),
        fit_status=float(fit.status),
        reduced_chi2=fit.reduced_chi2,
    )
    return columns


@dataclass
class OldTable:
    """A channel table read as text: its columns in order and each channel's values."""

    path: Path
    columns: list[str]
    rows: dict[int, dict[str, float]] = field(default_factory=dict)
    pmt_type: dict[int, int] = field(default_factory=dict)


def read_old_table(path: str | os.PathLike) -> OldTable:
    """Read a channel table (checked first by the library, whose errors name line and
    column)."""
    from .._extension import load_extension

    load_extension().ChannelTable(os.fspath(path))
    lines = Path(path).read_text(encoding="utf-8").splitlines()
    body = [line for line in lines if line.strip() and not line.strip().startswith("#")]
    header = [name.strip() for name in body[0].split(",")]
    table = OldTable(Path(path), [n for n in header if n not in ("channel", "pmt_type")])
    for line in body[1:]:
        fields = dict(zip(header, (value.strip() for value in line.split(","))))
        channel = int(fields.pop("channel"))
        table.pmt_type[channel] = int(fields.pop("pmt_type"))
        table.rows[channel] = {name: float(value) for name, value in fields.items()}
    return table


@dataclass
class TablePlan:
    """What to write: rows in order, and the channels left without new numbers."""

    channels: list[int]
    pmt_types: list[int]
    columns: list[str]
    values: list[dict[str, float]]
    calibrated: int = 0
    #: (channel, reason) of every channel that got no new numbers.
    failed: list[tuple[int, str]] = field(default_factory=list)


def plan_table(
    fits: list[ChannelFit],
    prefix: str,
    *,
    old: OldTable | None = None,
    pmt_type: int | None = None,
) -> TablePlan:
    """The rows of the new table: calibrated channels with their new columns, the rest of the
    old table's rows kept (with ``fit_status`` saying why they hold no new numbers)."""
    new_columns = output_columns(prefix)
    columns = list(old.columns) if old is not None else []
    columns += [name for name in new_columns if name not in columns]
    by_channel = {fit.channel: fit for fit in fits}
    plan = TablePlan([], [], columns, [])

    def add(channel: int, kind: int, values: dict[str, float]) -> None:
        plan.channels.append(channel)
        plan.pmt_types.append(kind)
        plan.values.append(values)

    for fit in fits:
        if not fit.ok:
            plan.failed.append((fit.channel, fit.reason))
    if old is not None:
        for channel, row in old.rows.items():
            values = {name: row.get(name, math.nan) for name in columns}
            found = by_channel.get(channel)
            if found is not None and found.ok:
                values.update(fit_columns(found, prefix))
                plan.calibrated += 1
            else:
                values["fit_status"] = float(found.status if found else STATUS_NO_ENTRIES)
                values["entries"] = float(found.entries if found else 0)
                if not all(math.isfinite(values[name]) for name in new_columns[:5]):
                    # A row without a line would make the whole table unreadable for the
                    # reconstructor that reads these columns.
                    why = found.reason if found else "no entries"
                    plan.failed.append(
                        (channel, f"{why}; no {prefix} line in {old.path}: left out")
                    )
                    if found is not None:
                        plan.failed.remove((channel, found.reason))
                    continue
            add(channel, old.pmt_type[channel], values)
    for fit in fits:
        if not fit.ok or (old is not None and fit.channel in old.rows):
            continue
        if pmt_type is None:
            plan.failed.append(
                (fit.channel, f"not in {old.path if old else 'the table'} and no --pmt-type")
            )
            continue
        values = {name: math.nan for name in columns}
        values.update(fit_columns(fit, prefix))
        add(fit.channel, pmt_type, values)
        plan.calibrated += 1
    if old is None:
        order = np.argsort(plan.channels, kind="stable")
        plan.channels = [plan.channels[i] for i in order]
        plan.pmt_types = [plan.pmt_types[i] for i in order]
        plan.values = [plan.values[i] for i in order]
    plan.failed.sort()
    return plan


def write_table(path: str | os.PathLike, plan: TablePlan, comment: str) -> None:
    """Write ``plan`` as a channel table (numbers read back to the same bits)."""
    columns = {
        name: np.array([row[name] for row in plan.values], dtype=np.float64)
        for name in plan.columns
    }
    write_channel_table(
        path,
        np.array(plan.channels, dtype=np.int64),
        np.array(plan.pmt_types, dtype=np.int64),
        columns,
        comment=comment,
    )


__all__ = [
    "FIT_COLUMNS",
    "OldTable",
    "TablePlan",
    "fit_columns",
    "output_columns",
    "plan_table",
    "read_old_table",
    "write_table",
]
