"""The run on a Dask cluster: ranges of triggers as tasks that spool their hits, appended to
the hit files in trigger order as they finish."""

from __future__ import annotations

import contextlib
import functools
import hashlib
import os
import uuid
from collections.abc import Callable
from pathlib import Path
from typing import Any

import numpy as np

from .._atomic import PendingFile
from .._errors import UserError
from ..files.hitfile import zeroed_rows
from ..files.provenance import Drops, add_drops
from ..files.settings import load_settings
from ..files.triggerfile import TriggerFileReader, checked_sha256
from .chunks import ChannelCounts, iter_chunks, segments
from .outputs import _adc_max, _finish_output, _start_output
from .planning import Progress, _Job
from .reconstruct import load_reconstruction

#: A Dask task covers at least this many triggers (whole chunks), to keep task overhead small.
TASK_TRIGGERS = 1 << 18


# Reconstructions built on a worker, by settings file and its hash.
_WORKER_RECONSTRUCTIONS: dict[tuple[str, str], Any] = {}


def _segment_task(
    settings: str,
    settings_sha256: str,
    path: str,
    kind: str,
    lo: int,
    hi: int,
    chunk_size: int,
    spool: str,
    threads: int,
    alive: str,
    pulse_columns: bool = False,
    adc_max: float | None = None,
) -> tuple[int, int, Drops, ChannelCounts]:
    """On a worker: reconstruct one range of triggers, write the hit rows to ``spool``.

    Returns the number of hits and of waveforms that held more than 16 pulses, the records
    left out, and the triggers per channel with the channels that have a hit.

    ``alive`` is the run's temporary output file: once the run has failed it is gone, and the
    spool, which nobody would read or remove, is not put in place.
    """
    key = (settings, settings_sha256)
    reco = _WORKER_RECONSTRUCTIONS.get(key)
    if reco is None:
        # Read once on this worker: the bytes compared are the bytes built from.
        loaded = load_settings(settings)
        if hashlib.sha256(loaded.text).hexdigest() != settings_sha256:
            raise UserError(f"the settings file {settings} changed during the run")
        reco = _WORKER_RECONSTRUCTIONS[key] = load_reconstruction(loaded)
    if not os.path.exists(alive):
        return 0, 0, {}, ChannelCounts()  # the run has failed: nothing to do
    target = Path(spool)
    # Written under a name of its own and renamed, so a rerun never meets a half-written spool.
    pending = PendingFile(target)
    count = truncated = 0
    drops: Drops = {}
    counts = ChannelCounts()
    try:
        with TriggerFileReader(path) as reader, open(pending.tmp, "wb") as out:
            for chunk in iter_chunks(
                reco,
                reader,
                chunk_size=chunk_size,
                ranges=[(kind, lo, hi)],
                threads=threads,
                pulse_columns=pulse_columns,
                adc_max=adc_max,
            ):
                if not os.path.exists(alive):
                    break  # the run has failed: stop here, and remove the spool
                out.write(zeroed_rows(chunk.hits, chunk.hits.dtype).data)
                count += len(chunk.hits)
                truncated += chunk.truncated
                add_drops(drops, chunk.drops)
                counts.add(chunk)
        if os.path.exists(alive):
            pending.commit()
    finally:
        pending.discard()
    return count, truncated, drops, counts


def _run_distributed(
    client: Any,
    jobs: list[_Job],
    settings: Path,
    fmt: str,
    common: dict[str, Any],
    chunk_size: int,
    progress: Progress,
    threads: int,
    triggers_per_task: int,
    finished: Callable[[_Job], None],
    pulse_columns: bool = False,
) -> None:
    from distributed import as_completed, wait

    token = uuid.uuid4().hex[:12]
    per_task = -(-max(triggers_per_task, 1) // chunk_size) * chunk_size
    specs: list[tuple[int, str, int, int, Path]] = []
    outputs: list[str] = []  # each job's temporary hit file
    for j, job in enumerate(jobs):
        # A deflated member can only be read front to back: one task per kind and file.
        size = max(job.summary.triggers, 1) if job.compressed else per_task
        assert job.pending is not None
        outputs.append(os.path.abspath(job.pending.tmp))
        for kind, lo, hi in segments(job.summary.n_tarvo, job.summary.n_multipmt, size):
            spool = job.pending.spool(len(specs))
            job.spools.append(spool)
            specs.append((j, kind, lo, hi, spool))
        digest = client.submit(
            checked_sha256, os.path.abspath(job.summary.input), key=f"orvane-sha256-{token}-{j}"
        )
        job.sha256 = digest.result  # the bound method keeps the future alive
    settings_sha256 = common["settings"]["sha256"]
    workers = max(len(client.scheduler_info().get("workers", {})), 1)
    window = 2 * workers + 2
    index: dict[str, int] = {}
    live: dict[str, Any] = {}
    queue = as_completed()
    submitted = 0

    def submit_next() -> None:
        nonlocal submitted
        j, kind, lo, hi, spool = specs[submitted]
        # Absolute paths: a worker elsewhere has a working directory of its own.
        future = client.submit(
            _segment_task,
            os.path.abspath(settings),
            settings_sha256,
            os.path.abspath(jobs[j].summary.input),
            kind,
            lo,
            hi,
            chunk_size,
            os.path.abspath(spool),
            threads,
            outputs[j],
            pulse_columns,
            _adc_max(jobs[j]),
            key=f"orvane-segment-{token}-{submitted}",
        )
        index[future.key] = submitted
        live[future.key] = future
        queue.add(future)
        submitted += 1

    while submitted < min(window, len(specs)):
        submit_next()
    results: dict[int, tuple[int, int, Drops, ChannelCounts]] = {}
    next_spec = 0
    try:
        for future in queue:  # each task's hits go to its output in trigger order
            results[index[future.key]] = future.result()
            live.pop(future.key, None)
            del future
            while next_spec in results:
                _, truncated, drops, counts = results.pop(next_spec)
                j, _, lo, hi, spool = specs[next_spec]
                job = jobs[j]
                job.summary.truncated += truncated
                add_drops(job.summary.drops, drops)
                if job.summary.counts is None:
                    job.summary.counts = ChannelCounts()
                job.summary.counts.add(counts)
                if job.writer is None:
                    _start_output(job, fmt, pulse_columns)
                assert job.writer is not None
                with open(spool, "rb") as stream:
                    while True:
                        hits = np.fromfile(stream, dtype=job.writer.dtype, count=chunk_size)
                        if not len(hits):
                            break
                        job.writer.append(hits)
                os.unlink(spool)
                progress(hi - lo)
                next_spec += 1
                if next_spec == len(specs) or specs[next_spec][0] != j:
                    _finish_output(job, common)
                    finished(job)
                if submitted < len(specs):
                    submit_next()
    except BaseException:
        # A task running on a worker cannot be stopped from here.  With the run's temporary
        # outputs gone, each stops at its next chunk and removes its spool, and one not yet
        # started does nothing; the run waits for that, so that none of their files outlives it.
        for job in jobs:
            if job.pending is not None:
                job.pending.discard()
        with contextlib.suppress(Exception):
            wait(list(live.values()), timeout=60)
        client.cancel(list(live.values()))
        raise
    for job in jobs:  # inputs without triggers have no task
        if job.writer is None:
            job.sha256 = job.sha256 or functools.partial(checked_sha256, job.summary.input)
            _start_output(job, fmt, pulse_columns)
            _finish_output(job, common)
            finished(job)
