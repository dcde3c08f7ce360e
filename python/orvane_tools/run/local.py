"""The run in this process: each input's chunks reconstructed in order and appended to its
hit file."""

from __future__ import annotations

from collections.abc import Callable, Iterator
from typing import Any

import numpy as np

from ..files.provenance import add_drops
from ..files.triggerfile import TriggerFileReader
from .chunks import ChannelCounts, TriggerSource, iter_chunks
from .outputs import _adc_max, _finish_output, _Hasher, _start_output
from .planning import Progress, _Job


def reconstruct_range(
    reco: Any,
    reader: TriggerSource,
    kind: str,
    lo: int,
    hi: int,
    chunk_size: int,
    *,
    threads: int = 1,
    on_truncated: Callable[[int], None] | None = None,
) -> Iterator[tuple[np.ndarray, int]]:
    """Hits of triggers ``lo:hi`` of one kind (``tarvo`` or ``multipmt``), a chunk at a time.

    Yields ``(hits, triggers)`` per chunk; ``on_truncated`` is called with the number of
    waveforms of a chunk that held more than 16 pulses, when there are any.  A thin form of
    :func:`.chunks.iter_chunks`.
    """
    for chunk in iter_chunks(
        reco, reader, chunk_size=chunk_size, ranges=[(kind, lo, hi)], threads=threads
    ):
        if chunk.truncated and on_truncated is not None:
            on_truncated(chunk.truncated)
        yield chunk.hits, chunk.triggers


def _run_local(
    jobs: list[_Job],
    reco: Any,
    fmt: str,
    common: dict[str, Any],
    chunk_size: int,
    progress: Progress,
    threads: int,
    finished: Callable[[_Job], None],
    pulse_columns: bool = False,
) -> None:
    for job in jobs:
        hasher = _Hasher(job.summary.input)
        hasher.start()
        job.sha256 = hasher.result
        _start_output(job, fmt, pulse_columns)
        assert job.writer is not None
        job.summary.counts = ChannelCounts()
        with TriggerFileReader(job.summary.input) as reader:
            for chunk in iter_chunks(
                reco,
                reader,
                chunk_size=chunk_size,
                threads=threads,
                pulse_columns=pulse_columns,
                adc_max=_adc_max(job),
            ):
                job.summary.truncated += chunk.truncated
                add_drops(job.summary.drops, chunk.drops)
                job.summary.counts.add(chunk)
                job.writer.append(chunk.hits)
                progress(chunk.triggers)
        _finish_output(job, common)
        finished(job)
