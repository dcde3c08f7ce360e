"""The run in this process: each input's chunks reconstructed in order and appended to its
hit file."""

from __future__ import annotations

from collections.abc import Callable, Iterator
from typing import Any

import numpy as np

from .._errors import UserError
from .._extension import run_info_object
from ..files.triggerfile import TriggerFileError, TriggerFileReader
from .outputs import _finish_output, _Hasher, _start_output
from .planning import Progress, _Job, _segments


def _columnar_options(threads: int) -> dict[str, Any]:
    # The columnar methods split a call's rows among this many threads.
    return {"threads": threads}


def reconstruct_range(
    reco: Any,
    reader: TriggerFileReader,
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
    waveforms of a chunk that held more than 16 pulses, when there are any.  Chunks start at multiples of ``chunk_size`` from
    ``lo``; hit ids do not depend on where chunks start (each is handed to the library with its
    first trigger's position: waveform triggers first, multi-PMT triggers after them).
    """
    from .._extension import load_extension

    run_info = run_info_object(load_extension(), reader.run_info[0])
    options = _columnar_options(threads)
    for start in range(lo, hi, chunk_size):
        stop = min(start + chunk_size, hi)
        try:
            if kind == "tarvo":
                rows, samples, offsets = reader.tarvo_chunk(start, stop)
                hits, truncated = reco.reconstruct_tarvo_numpy(
                    rows,
                    samples,
                    offsets=offsets,
                    first_trigger=start,
                    run_info=run_info,
                    return_truncated=True,
                    **options,
                )
                if truncated and on_truncated is not None:
                    on_truncated(truncated)
            else:
                rows = reader.multipmt_chunk(start, stop)
                hits = reco.reconstruct_multipmt_numpy(
                    rows, first_trigger=reader.n_tarvo + start, run_info=run_info, **options
                )
        except (RuntimeError, ValueError, IndexError) as exc:
            if isinstance(exc, (TriggerFileError, UserError)):
                raise
            raise UserError(f"the triggers of {reader.path} cannot be reconstructed") from exc
        yield hits, stop - start


def _run_local(
    jobs: list[_Job],
    reco: Any,
    fmt: str,
    common: dict[str, Any],
    chunk_size: int,
    progress: Progress,
    threads: int,
) -> None:
    for job in jobs:
        hasher = _Hasher(job.summary.input)
        hasher.start()
        job.sha256 = hasher.result
        _start_output(job, fmt)
        assert job.writer is not None
        with TriggerFileReader(job.summary.input) as reader:
            for kind, lo, hi in _segments(job, max(job.summary.triggers, 1)):
                for hits, n in reconstruct_range(
                    reco,
                    reader,
                    kind,
                    lo,
                    hi,
                    chunk_size,
                    threads=threads,
                    on_truncated=lambda k, s=job.summary: setattr(s, "truncated", s.truncated + k),
                ):
                    job.writer.append(hits)
                    progress(n)
        _finish_output(job, common)
