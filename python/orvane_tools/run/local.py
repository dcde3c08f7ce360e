"""The run in this process: each input's chunks reconstructed in order and appended to its
hit file."""

from __future__ import annotations

from collections.abc import Callable, Iterator
from typing import Any

import numpy as np

from .._errors import UserError
from .._extension import run_info_object
from ..files.hitfile import with_pulse_columns
from ..files.triggerfile import TriggerFileError, TriggerFileReader
from .outputs import _adc_max, _finish_output, _Hasher, _start_output
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
    pulse_columns: bool = False,
    adc_max: float | None = None,
) -> Iterator[tuple[np.ndarray, int]]:
    """Hits of triggers ``lo:hi`` of one kind (``tarvo`` or ``multipmt``), a chunk at a time.

    Yields ``(hits, triggers)`` per chunk; ``on_truncated`` is called with the number of
    waveforms of a chunk that held more than 16 pulses, when there are any.  Chunks start at multiples of ``chunk_size`` from
    ``lo``; hit ids do not depend on where chunks start (each is handed to the library with its
    first trigger's position: waveform triggers first, multi-PMT triggers after them).

    With ``pulse_columns`` the hits carry their pulses' quantities (rows of
    :data:`HIT_PULSE_DTYPE`; the baseline noise from the file's ``tarvo_baseline_rms``), the
    saturation level being ``adc_max`` where the settings give none.
    """
    from .._extension import load_extension

    run_info = run_info_object(load_extension(), reader.run_info[0])
    options = _columnar_options(threads)
    for start in range(lo, hi, chunk_size):
        stop = min(start + chunk_size, hi)
        try:
            pulses = None
            if kind == "tarvo":
                rows, samples, offsets = reader.tarvo_chunk(start, stop)
                extra = {"return_pulses": True, "adc_max": adc_max} if pulse_columns else {}
                result = reco.reconstruct_tarvo_numpy(
                    rows,
                    samples,
                    offsets=offsets,
                    first_trigger=start,
                    run_info=run_info,
                    return_truncated=True,
                    **options,
                    **extra,
                )
                hits, truncated = result[:2]
                if pulse_columns:
                    pulses = result[2]
                    noise = reader.baseline_rms(start, stop)
                    if noise is not None and len(pulses):
                        position = (pulses["id"] >> 4) & 0x0FFFFFFF
                        pulses["baseline_rms"] = noise[position - start]
                if truncated and on_truncated is not None:
                    on_truncated(truncated)
            else:
                rows = reader.multipmt_chunk(start, stop)
                hits = reco.reconstruct_multipmt_numpy(
                    rows, first_trigger=reader.n_tarvo + start, run_info=run_info, **options
                )
            if pulse_columns:
                hits = with_pulse_columns(hits, pulses if pulses is not None else hits[:0])
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
    pulse_columns: bool = False,
) -> None:
    for job in jobs:
        hasher = _Hasher(job.summary.input)
        hasher.start()
        job.sha256 = hasher.result
        _start_output(job, fmt, pulse_columns)
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
                    pulse_columns=pulse_columns,
                    adc_max=_adc_max(job),
                ):
                    job.writer.append(hits)
                    progress(n)
        _finish_output(job, common)
