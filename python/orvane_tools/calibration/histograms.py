"""Per-channel histograms of one feature, filled a chunk of records at a time.

Every channel shares one set of fine bins, fixed by the first chunk (or given): wide enough
for the pedestal and the tail of every channel, fine enough (4096 bins) that a fit can merge
them into coarser bins that suit each channel.  Values that all lie on whole numbers (the
integral of integer samples over an integer baseline, an ADC sample) get bins of whole numbers
of units with edges halfway between them, so that no bin holds one more possible value than its
neighbour (a comb in the histogram that a fit would take for structure).
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

DEFAULT_BINS = 4096


@dataclass
class Spectra:
    """The histograms of one feature, one row per channel (channels in increasing order)."""

    feature: str
    edges: np.ndarray
    channels: np.ndarray
    counts: np.ndarray
    #: Values of each channel below the first edge and at or above the last.
    underflow: np.ndarray
    overflow: np.ndarray
    #: Spacing of the values when they all lie on whole numbers (1.0), else None.
    lattice: float | None = None

    @property
    def entries(self) -> np.ndarray:
        """Values of each channel, inside the bins or not."""
        return self.counts.sum(axis=1) + self.underflow + self.overflow

    def row(self, channel: int) -> int:
        """Row of ``channel``; KeyError when it has no histogram."""
        i = int(np.searchsorted(self.channels, channel))
        if i == len(self.channels) or self.channels[i] != channel:
            raise KeyError(channel)
        return i


class SpectrumFiller:
    """Fills :class:`Spectra` from (channel, value) pairs, a chunk at a time.

    ``value_range`` fixes the bins' span; by default the first chunk with values sets it from
    its spread.  NaN values (a feature the record does not carry) are skipped.
    """

    def __init__(
        self,
        feature: str,
        *,
        bins: int = DEFAULT_BINS,
        value_range: tuple[float, float] | None = None,
    ) -> None:
        if bins < 16:
            raise ValueError(f"need at least 16 bins, got {bins}")
        self.feature = feature
        self.bins = bins
        self._range = value_range
        self._edges: np.ndarray | None = None
        self._lattice: float | None = None
        self._rows: dict[int, int] = {}
        self._counts = np.zeros((0, bins + 2), dtype=np.int64)  # underflow, bins, overflow

    def fill(self, channels: np.ndarray, values: np.ndarray) -> None:
        """Add one chunk: ``values[i]`` seen on channel ``channels[i]``."""
        values = np.asarray(values, dtype=np.float64)
        channels = np.asarray(channels)
        if channels.shape != values.shape or values.ndim != 1:
            raise ValueError("channels and values must be one-dimensional and of equal length")
        keep = ~np.isnan(values)
        values, channels = values[keep], channels[keep]
        if len(values) == 0:
            return
        if self._edges is None:
            self._edges, self._lattice = _choose_edges(values, self.bins, self._range)
        edges = self._edges
        # Equal bins: the bin by arithmetic; 0 is the underflow, bins + 1 the overflow.
        scaled = (values - edges[0]) * (self.bins / (edges[-1] - edges[0]))
        index = np.clip(np.floor(scaled), -1, self.bins).astype(np.int64) + 1
        unique, inverse = np.unique(channels, return_inverse=True)
        rows = np.array([self._row(int(c)) for c in unique], dtype=np.int64)
        width = self.bins + 2
        local = np.bincount(inverse * width + index, minlength=len(unique) * width)
        self._counts[rows] += local.reshape(len(unique), width)

    def _row(self, channel: int) -> int:
        row = self._rows.get(channel)
        if row is None:
            row = self._rows[channel] = len(self._rows)
            if row == len(self._counts):
                grown = np.zeros((max(2 * row, 64), self.bins + 2), dtype=np.int64)
                grown[:row] = self._counts
                self._counts = grown
        return row

    def result(self) -> Spectra:
        """The histograms filled so far."""
        channels = np.array(sorted(self._rows), dtype=np.int64)
        rows = np.array([self._rows[c] for c in channels], dtype=np.int64)
        counts = self._counts[rows] if len(rows) else np.zeros((0, self.bins + 2), np.int64)
        edges = self._edges
        if edges is None:
            edges = np.linspace(*(self._range or (0.0, 1.0)), self.bins + 1)
        return Spectra(
            feature=self.feature,
            edges=edges,
            channels=channels,
            counts=counts[:, 1:-1].copy(),
            underflow=counts[:, 0].copy(),
            overflow=counts[:, -1].copy(),
            lattice=self._lattice,
        )


def _choose_edges(
    values: np.ndarray, bins: int, value_range: tuple[float, float] | None
) -> tuple[np.ndarray, float | None]:
    if value_range is not None:
        low, high = value_range
    else:
        # The bulk of the first chunk, widened for channels of higher gain and rare tails.
        q_low, q_high = np.quantile(values, [0.0005, 0.9995])
        span = max(q_high - q_low, 1e-9 * max(abs(q_low), abs(q_high), 1.0))
        low, high = q_low - 0.1 * span, q_high + 0.5 * span
    if not (math.isfinite(low) and math.isfinite(high) and low < high):
        raise ValueError(f"invalid histogram range [{low}, {high})")
    lattice = 1.0 if np.all(values == np.round(values)) else None
    if lattice is not None:
        width = max(1.0, math.ceil((high - low) / bins))
        low = math.floor(low) - 0.5
        return low + width * np.arange(bins + 1, dtype=np.float64), lattice
    return np.linspace(low, high, bins + 1), lattice


__all__ = ["DEFAULT_BINS", "Spectra", "SpectrumFiller"]
