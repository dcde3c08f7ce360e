"""Reconstruction of a whole trigger file, chunk by chunk.

Trigger positions, which go into the hit ids, number the waveform triggers first (positions
0..n-1, in file order) and the multi-PMT triggers after them (n..n+m-1).  Chunks are handed to
the library with the position of their first row, so the ids do not depend on the chunk size.
"""

from __future__ import annotations

import os
import time
from dataclasses import dataclass
from typing import Callable

import numpy as np

from .._dtypes import HIT_DTYPE, MAX_TRIGGER_POSITIONS
from .._errors import UserError
from .._extension import check_extension_dtypes, load_extension, run_info_object
from ..files.triggerfile import TriggerData

DEFAULT_CHUNK_SIZE = 65536


@dataclass
class ReconstructionResult:
    """Hits of a run and how long each trigger kind took."""

    hits: np.ndarray
    n_tarvo: int
    n_multipmt: int
    tarvo_seconds: float
    multipmt_seconds: float
    #: Waveforms that held more pulses than the 16 records a trigger can have (the pulse
    #: finder kept the first 16 of each).
    truncated: int = 0

    @property
    def seconds(self) -> float:
        """Time spent in reconstruction, both kinds."""
        return self.tarvo_seconds + self.multipmt_seconds


def check_settings_before_work(settings: str | os.PathLike) -> None:
    """The check of a whole settings file, run before any work by :func:`load_reconstruction`.

    Raises
    ------
    SettingsProblemsError
        (a :class:`UserError`) The settings file has problems; each is named in the message.
    """
    from ..files.settings import require_valid_settings

    require_valid_settings(settings)


def load_reconstruction(settings: str | os.PathLike) -> object:
    """Build an ``orvane.ChargeReconstruction`` from a settings file, after checking it.

    Raises
    ------
    UserError
        The file is missing, or the library refuses it (the library's error is the cause).
    """
    orvane = load_extension()
    check_extension_dtypes(orvane)
    path = os.fspath(settings)
    # The check refuses a missing file, a directory or a NumPy file with the reason in words.
    check_settings_before_work(path)
    try:
        return orvane.ChargeReconstruction(str(path))
    except Exception as exc:  # any refusal by the library is a problem of the settings
        raise UserError(f"the settings file {path} cannot be used") from exc


def reconstruct_triggers(
    reco: object,
    data: TriggerData,
    *,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    on_progress: Callable[[int], None] | None = None,
) -> ReconstructionResult:
    """Reconstruct every trigger of ``data`` with ``reco`` (an ``orvane.ChargeReconstruction``).

    ``on_progress`` is called with the number of triggers of each finished chunk.  Hits come
    back in trigger order: waveform triggers first, then multi-PMT triggers.
    """
    if chunk_size < 1:
        raise ValueError(f"the chunk size must be at least 1, got {chunk_size}")
    if data.n_triggers > MAX_TRIGGER_POSITIONS:
        raise UserError(
            f"{data.n_triggers} triggers are too many for one run: hit ids number at most "
            f"{MAX_TRIGGER_POSITIONS} trigger positions; split the trigger file"
        )
    orvane = load_extension()
    run_info = run_info_object(orvane, data.run_info[0])
    parts = []
    truncated = 0

    start = time.perf_counter()
    n = data.n_tarvo
    for lo in range(0, n, chunk_size):
        hi = min(lo + chunk_size, n)
        first, last = data.tarvo_offsets[lo], data.tarvo_offsets[hi]
        rows = data.tarvo_triggers[lo:hi]
        samples = data.tarvo_samples[first:last]
        offsets = data.tarvo_offsets[lo : hi + 1] - first
        hits, cut = reco.reconstruct_tarvo_numpy(
            rows,
            samples,
            offsets=offsets,
            first_trigger=lo,
            run_info=run_info,
            return_truncated=True,
        )
        truncated += cut
        parts.append(hits)
        if on_progress is not None:
            on_progress(hi - lo)
    tarvo_seconds = time.perf_counter() - start

    start = time.perf_counter()
    m = data.n_multipmt
    for lo in range(0, m, chunk_size):
        hi = min(lo + chunk_size, m)
        rows = data.multipmt_triggers[lo:hi]
        hits = reco.reconstruct_multipmt_numpy(rows, first_trigger=n + lo, run_info=run_info)
        parts.append(hits)
        if on_progress is not None:
            on_progress(hi - lo)
    multipmt_seconds = time.perf_counter() - start

    # Copied field by field into zeroed rows: the padding bytes stay zero.
    hits = np.zeros(sum(len(part) for part in parts), dtype=HIT_DTYPE)
    position = 0
    for part in parts:
        for name in HIT_DTYPE.names:
            hits[name][position : position + len(part)] = part[name]
        position += len(part)
    return ReconstructionResult(
        hits=hits,
        n_tarvo=n,
        n_multipmt=m,
        tarvo_seconds=tarvo_seconds,
        multipmt_seconds=multipmt_seconds,
        truncated=truncated,
    )


__all__ = [
    "DEFAULT_CHUNK_SIZE",
    "ReconstructionResult",
    "check_settings_before_work",
    "load_reconstruction",
    "reconstruct_triggers",
]
