"""The one chunk iterator: hits of a trigger source, a chunk of triggers at a time.

A trigger source is a trigger file opened for reading (:class:`TriggerFileReader`) or triggers
held in memory (:class:`MemorySource` over a :class:`TriggerData`); both hand out ranges of
rows the same way.  The local run, the Dask tasks, :func:`reconstruct_triggers` and the demo
all reconstruct through :func:`iter_chunks`.

Trigger positions, which go into the hit ids, number the waveform triggers first (positions
0..n-1, in file order) and the multi-PMT triggers after them (n..n+m-1).  Each chunk is handed
to the library with the position of its first row, so the ids do not depend on where chunks
start.
"""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from dataclasses import dataclass, field
from typing import Any, Protocol

import numpy as np

from .._dtypes import MAX_TRIGGER_POSITIONS, trigger_positions
from .._errors import UserError
from .._extension import load_extension, run_info_object
from ..files.hitfile import with_pulse_columns
from ..files.provenance import Drops, add_drops
from ..files.triggerfile import TriggerData, TriggerFileError

#: Triggers per call into the library.
DEFAULT_CHUNK_SIZE = 65536

#: A range of triggers of one kind: ``("tarvo" | "multipmt", lo, hi)``.
Segment = tuple[str, int, int]


class TriggerSource(Protocol):
    """Triggers read a range of rows at a time."""

    #: What the source is called in error messages (the file's path).
    path: str
    run_info: np.ndarray

    @property
    def n_tarvo(self) -> int: ...

    @property
    def n_multipmt(self) -> int: ...

    def tarvo_chunk(self, lo: int, hi: int) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
        """Waveform trigger rows ``lo:hi``, their samples, and offsets into those samples."""
        ...

    def multipmt_chunk(self, lo: int, hi: int) -> np.ndarray:
        """Multi-PMT trigger rows ``lo:hi``."""
        ...


class MemorySource:
    """Triggers held in memory as a trigger source (chunks are views, not copies)."""

    def __init__(self, data: TriggerData, path: str = "the triggers") -> None:
        self.data = data
        self.path = path
        self.run_info = data.run_info

    @property
    def n_tarvo(self) -> int:
        return self.data.n_tarvo

    @property
    def n_multipmt(self) -> int:
        return self.data.n_multipmt

    def tarvo_chunk(self, lo: int, hi: int) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
        offsets = self.data.tarvo_offsets[lo : hi + 1]
        samples = self.data.tarvo_samples[offsets[0] : offsets[-1]]
        return self.data.tarvo_triggers[lo:hi], samples, offsets - offsets[0]

    def multipmt_chunk(self, lo: int, hi: int) -> np.ndarray:
        return self.data.multipmt_triggers[lo:hi]


def check_trigger_positions(source: TriggerSource) -> None:
    """Refuse a source with more triggers than hit ids have trigger positions for.

    Raises
    ------
    UserError
        Naming the source, its trigger count and the limit.
    """
    n = source.n_tarvo + source.n_multipmt
    if n > MAX_TRIGGER_POSITIONS:
        raise UserError(
            f"{source.path} holds {n} triggers, too many for one run: hit ids number at most "
            f"{MAX_TRIGGER_POSITIONS} trigger positions; split the trigger file"
        )


def _fill_baseline_rms(pulses: np.ndarray, source: TriggerSource, lo: int, hi: int) -> None:
    # The library leaves the baseline noise NaN; a trigger file may hold it per waveform.
    baseline_rms = getattr(source, "baseline_rms", None)
    noise = baseline_rms(lo, hi) if baseline_rms is not None else None
    if noise is not None and len(pulses):
        pulses["baseline_rms"] = noise[trigger_positions(pulses["id"]) - lo]


def segments(n: int, m: int, size: int) -> list[Segment]:
    """``n`` waveform and ``m`` multi-PMT triggers cut into ranges of at most ``size``: waveform
    triggers first."""
    tarvo = [("tarvo", lo, min(lo + size, n)) for lo in range(0, n, size)]
    return tarvo + [("multipmt", lo, min(lo + size, m)) for lo in range(0, m, size)]


def channel_counts(channels: np.ndarray) -> dict[int, int]:
    """How often each channel number occurs (counted by bincount when the numbers are small)."""
    if not len(channels):
        return {}
    low, high = int(channels.min()), int(channels.max())
    if low >= 0 and high < 1 << 20:
        counts = np.bincount(channels, minlength=high + 1)
        numbers = np.flatnonzero(counts)
        return dict(zip(numbers.tolist(), counts[numbers].tolist()))
    numbers, counts = np.unique(channels, return_counts=True)
    return dict(zip(numbers.tolist(), counts.tolist()))


@dataclass
class ChannelCounts:
    """Triggers per channel and the channels with a hit, counted as a run goes: what the
    warnings after a run need, without reading its files again."""

    triggers: dict[int, int] = field(default_factory=dict)
    hits: set[int] = field(default_factory=set)

    def add(self, chunk: Chunk | ChannelCounts) -> None:
        """Adds the counts of a chunk, or other counts."""
        if isinstance(chunk, Chunk):
            chunk = ChannelCounts(
                channel_counts(chunk.channels), set(channel_counts(chunk.hits["channel"]))
            )
        for number, count in chunk.triggers.items():
            self.triggers[number] = self.triggers.get(number, 0) + count
        self.hits |= chunk.hits


@dataclass
class Chunk:
    """The hits of one chunk of triggers."""

    kind: str
    #: The chunk's first and one-past-last trigger (of its kind).
    lo: int
    hi: int
    hits: np.ndarray
    #: Waveforms that held more pulses than the 16 records a trigger can have (the pulse
    #: finder kept the first 16 of each).
    truncated: int = 0
    #: Records the library left out, per channel and cause (channels with any).
    drops: Drops = field(default_factory=dict)
    #: The channel of each trigger of the chunk.
    channels: np.ndarray = field(default_factory=lambda: np.zeros(0, np.int32))

    @property
    def triggers(self) -> int:
        return self.hi - self.lo


def iter_chunks(
    reco: Any,
    source: TriggerSource,
    *,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    ranges: Iterable[Segment] | None = None,
    threads: int = 1,
    pulse_columns: bool = False,
    adc_max: float | None = None,
) -> Iterator[Chunk]:
    """Reconstruct ``source`` with ``reco`` (an ``orvane.ChargeReconstruction``), a chunk at a
    time, in trigger order.

    ``ranges`` limits the work to some ranges of triggers (default: all of them).  Within a
    range, chunks start at multiples of ``chunk_size`` from its start.

    Each chunk carries the records the library left out, per channel and cause
    (:attr:`Chunk.drops`), counted in the same call as its hits.

    With ``pulse_columns`` the hits carry their pulses' quantities (rows of
    :data:`HIT_PULSE_DTYPE`; the baseline noise from the source's ``baseline_rms`` where it has
    one), the saturation level being ``adc_max`` where the settings give none.

    Raises
    ------
    UserError
        The source holds too many triggers, or the library refuses a chunk (its error is the
        cause), naming the source.
    TriggerFileError
        The trigger file cannot be read.
    """
    if chunk_size < 1:
        raise ValueError(f"the chunk size must be at least 1, got {chunk_size}")
    check_trigger_positions(source)
    n, m = source.n_tarvo, source.n_multipmt
    run_info = run_info_object(load_extension(), source.run_info[0])
    if ranges is None:
        ranges = segments(n, m, max(n, m, 1))
    for kind, lo, hi in ranges:
        for start in range(lo, hi, chunk_size):
            stop = min(start + chunk_size, hi)
            truncated = 0
            drops: Drops = {}
            pulses = None
            try:
                if kind == "tarvo":
                    rows, samples, offsets = source.tarvo_chunk(start, stop)
                    extra = {"return_pulses": True, "adc_max": adc_max} if pulse_columns else {}
                    result = reco.reconstruct_tarvo_numpy(
                        rows,
                        samples,
                        offsets=offsets,
                        first_trigger=start,
                        run_info=run_info,
                        return_truncated=True,
                        return_drops=True,
                        threads=threads,
                        **extra,
                    )
                    hits, truncated = result[:2]
                    add_drops(drops, result[2])
                    if pulse_columns:
                        pulses = result[3]
                        _fill_baseline_rms(pulses, source, start, stop)
                else:
                    rows = source.multipmt_chunk(start, stop)
                    hits, dropped = reco.reconstruct_multipmt_numpy(
                        rows,
                        first_trigger=n + start,
                        run_info=run_info,
                        threads=threads,
                        return_drops=True,
                    )
                    add_drops(drops, dropped)
                if pulse_columns:
                    hits = with_pulse_columns(hits, pulses if pulses is not None else hits[:0])
            except (RuntimeError, ValueError, IndexError) as exc:
                if isinstance(exc, (TriggerFileError, UserError)):
                    raise
                raise UserError(f"the triggers of {source.path} cannot be reconstructed") from exc
            yield Chunk(kind, start, stop, hits, truncated, drops, rows["channel"])
