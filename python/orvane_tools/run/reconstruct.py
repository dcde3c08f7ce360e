"""Triggers held in memory reconstructed in one call (through the chunk iterator of
:mod:`.chunks`), and the reconstruction built from a settings file."""

from __future__ import annotations

import time
from dataclasses import dataclass, field
from typing import Any, Callable

import numpy as np

from .._dtypes import HIT_DTYPE
from .._errors import UserError
from .._extension import check_extension_dtypes, load_extension
from ..files.provenance import Drops, add_drops
from ..files.settings import SettingsSource, require_valid_settings
from ..files.triggerfile import TriggerData
from .chunks import DEFAULT_CHUNK_SIZE, MemorySource, iter_chunks


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
    #: Records the library left out, per channel and cause (``files.provenance.Drops``).
    drops: dict[int, dict[str, int]] = field(default_factory=dict)

    @property
    def seconds(self) -> float:
        """Time spent in reconstruction, both kinds."""
        return self.tarvo_seconds + self.multipmt_seconds


def check_settings_before_work(settings: SettingsSource) -> Any:
    """The check of a whole settings file, run before any work by :func:`load_reconstruction`;
    the settings as read (``orvane.LoadedSettings``).

    Raises
    ------
    SettingsProblemsError
        (a :class:`UserError`) The settings file has problems; each is named in the message.
    """
    return require_valid_settings(settings)


def load_reconstruction(settings: SettingsSource) -> Any:
    """Build an ``orvane.ChargeReconstruction`` from a settings file (its path, or the file read
    already: ``orvane.LoadedSettings``), after checking it.

    Raises
    ------
    UserError
        The file is missing, or the library refuses it (the library's error is the cause).
    """
    # The check refuses a missing file, a directory or a NumPy file with the reason in words.
    return reconstruction_from(check_settings_before_work(settings))


def reconstruction_from(loaded: Any) -> Any:
    """Build an ``orvane.ChargeReconstruction`` from settings read and checked already
    (``orvane.LoadedSettings``, as :func:`check_settings_before_work` returns them).

    Raises
    ------
    UserError
        The library refuses the settings (the library's error is the cause).
    """
    orvane = load_extension()
    check_extension_dtypes(orvane)
    try:
        return orvane.ChargeReconstruction.from_loaded(loaded)
    except Exception as exc:  # any refusal by the library is a problem of the settings
        raise UserError(f"the settings file {loaded.file} cannot be used") from exc


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

    Raises
    ------
    UserError
        ``data`` holds more triggers than hit ids number, or the library refuses a chunk.
    """
    parts = []
    seconds = {"tarvo": 0.0, "multipmt": 0.0}
    truncated = 0
    drops: Drops = {}
    start = time.perf_counter()
    for chunk in iter_chunks(reco, MemorySource(data), chunk_size=chunk_size):
        now = time.perf_counter()
        seconds[chunk.kind] += now - start
        parts.append(chunk.hits)
        truncated += chunk.truncated
        add_drops(drops, chunk.drops)
        if on_progress is not None:
            on_progress(chunk.triggers)
        start = time.perf_counter()
    # Joined as bytes: np.concatenate of structured rows would pack them (NumPy drops the
    # padding when it promotes structured dtypes); the library's zero padding stays zero.
    hits = (
        np.concatenate([p.view(np.uint8) for p in parts]).view(HIT_DTYPE)
        if parts
        else np.zeros(0, dtype=HIT_DTYPE)
    )
    return ReconstructionResult(
        hits=hits,
        n_tarvo=data.n_tarvo,
        n_multipmt=data.n_multipmt,
        tarvo_seconds=seconds["tarvo"],
        multipmt_seconds=seconds["multipmt"],
        truncated=truncated,
        drops=drops,
    )


__all__ = [
    "DEFAULT_CHUNK_SIZE",
    "ReconstructionResult",
    "check_settings_before_work",
    "load_reconstruction",
    "reconstruct_triggers",
    "reconstruction_from",
]
