"""Reconstruction of whole trigger files into hit files, streamed, locally or on a Dask cluster.

:func:`reconstruct_files` is the Python face of ``orvane reconstruct``.  Each input is read a
chunk of triggers at a time, reconstructed, and its hits appended to its output, so memory stays
a constant plus a few chunks whatever the file's size.  With a ``distributed.Client`` the chunks
become tasks on the cluster's workers; the hits come back in trigger order, so every output is
the same as a single-process run's whatever the workers, the chunk size and the order in which
tasks finish.

Each output is written under a temporary ``.part`` name and put in place once complete: a
failure or an interruption leaves the outputs already finished and no partial one, and a run
with ``resume`` keeps the finished ones and does the rest.
"""

from __future__ import annotations

import contextlib
import functools
import os
import time
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any

from .._atomic import PendingFile, remove_leftovers
from .._errors import UserError
from ..files.hitfile import commit_hit_file, is_hit_file, read_provenance
from ..files.provenance import drops_from_provenance, run_provenance, settings_tables
from ..files.settings import require_valid_settings
from ..files.triggerfile import checked_sha256
from .cluster import TASK_TRIGGERS, _run_distributed
from .local import _run_local, reconstruct_range
from .planning import (
    FileSummary,
    Progress,
    RunSummary,
    _check_outputs,
    _Job,
    _open_input,
    check_sample_period,
    expand_inputs,
    plan_outputs,
)
from .reconstruct import DEFAULT_CHUNK_SIZE, reconstruction_from


def reconstruct_files(
    inputs: Sequence[str | os.PathLike],
    settings: str | os.PathLike,
    output: str | os.PathLike,
    *,
    fmt: str | None = None,
    chunk_size: int = DEFAULT_CHUNK_SIZE,
    client: Any = None,
    overwrite: bool = False,
    progress: Callable[[int, int], Progress] | None = None,
    command_line: list[str] | None = None,
    threads: int = 1,
    triggers_per_task: int = TASK_TRIGGERS,
    resume: bool = False,
    pulse_columns: bool = False,
) -> RunSummary:
    """Reconstruct trigger files into hit files, each with its provenance.

    Parameters
    ----------
    inputs:
        Trigger files (glob patterns are expanded).  Each is one run segment: its hits are
        those a run on that file alone gives.
    settings:
        The settings file (YAML).
    output:
        With one input, the hit file (format from its suffix) or a folder; with several, a
        folder (created if missing) that receives ``<input stem>.<fmt>`` for each input.
    fmt:
        ``parquet`` (default for a folder), ``npy`` or ``csv``.
    chunk_size:
        Triggers per call into the library; memory grows with it, results do not change.
    client:
        A ``distributed.Client``: the chunks run as tasks on its cluster (inputs, settings and
        outputs must lie on a file system every worker sees).  None: in this process.
    overwrite:
        Replace existing hit files (of the same format only; never an input).
    progress:
        Called once with ``(total triggers, number of inputs)``; returns the function called
        with the number of triggers of each chunk once its hits are written.
    command_line:
        Recorded in the provenance (the command passes ``sys.argv``).
    threads:
        Threads per call into the library (0: one per core).
    triggers_per_task:
        With a client, triggers per task (rounded up to whole chunks); a deflated input is
        read front to back, so it makes one task per trigger kind.
    resume:
        Keep the outputs already complete and made from the same input, settings, tables and
        library version (their provenance says so; a partial file never does), and reconstruct
        the other inputs only: how a run that was interrupted goes on.
    pulse_columns:
        Add the pulse finder's quantities of each hit's pulse as further columns (Parquet,
        CSV) or as the file ``STEM.pulses.npy`` beside an ``.npy`` output; needs the pulse
        finder.  Without it every output is as it always was.

    Returns
    -------
    RunSummary
        Inputs, outputs, trigger and hit counts, wall time.

    Raises
    ------
    UserError, TriggerFileError
        A problem with an input, the settings or an output, naming the file.  A failure or
        an interruption leaves the outputs finished before it, never a partial one.
    """
    start = time.perf_counter()
    if chunk_size < 1:
        raise ValueError(f"the chunk size must be at least 1, got {chunk_size}")
    if threads < 0:
        raise ValueError(f"the thread count must not be negative, got {threads}")
    paths = expand_inputs(inputs)
    outputs, fmt = plan_outputs(paths, output, fmt)
    settings = Path(settings)
    # Read once: the check, the reconstruction and the provenance all come from these bytes.
    loaded = require_valid_settings(settings)
    reco = reconstruction_from(loaded)
    jobs = [_open_input(path) for path in paths]
    for job, target in zip(jobs, outputs):
        job.summary.output = target
        if job.summary.n_tarvo:
            check_sample_period(reco, job.summary.input, job.sample_period_ns)
    if pulse_columns and reco.waveform_extractor != "PulseFinder":
        raise UserError(
            f"--pulse-columns needs the pulse finder: {settings} does not select it "
            "(extractors.waveform: PulseFinder)"
        )
    named = settings_tables(loaded)
    tables = [table for _, table in named]
    common = run_provenance(loaded, command_line)
    done = [job for job in jobs if resume and _already_done(job, fmt, common)]
    jobs = [job for job in jobs if job not in done]
    _check_outputs(
        [job.summary.output for job in jobs],
        fmt,
        [*paths, settings, *tables],
        overwrite,
        resume,
        pulse_columns,
    )
    created_folder = None
    folder = outputs[0].parent
    if len(paths) > 1 and not folder.exists():
        try:
            folder.mkdir(parents=True)
        except OSError as exc:
            raise UserError(f"cannot create the output folder {folder}") from exc
        created_folder = folder
    report = (progress or (lambda total, files: lambda n: None))(
        sum(job.summary.triggers for job in jobs), len(jobs)
    )
    committed: list[Path] = []
    failed = True

    def finished(job: _Job) -> None:
        # Each hit file is put in place once complete: an interrupted run keeps those it
        # finished, and --resume goes on from there.
        assert job.pending is not None
        commit_hit_file(job.pending, fmt, job.provenance, job.pulses)
        committed.append(job.summary.output)

    try:
        for job in jobs:
            job.pending = PendingFile(job.summary.output)
        if client is None:
            _run_local(
                jobs, reco, fmt, common, chunk_size, report, threads, finished, pulse_columns
            )
        else:
            _run_distributed(
                client,
                jobs,
                settings,
                fmt,
                common,
                chunk_size,
                report,
                threads,
                triggers_per_task,
                finished,
                pulse_columns,
            )
        failed = False
    finally:
        # Every step on its own, none raising: a full disk fails the flush of a discarded
        # output again, and must not keep the others in place.
        cleanup: list[Callable[[], object]] = []
        for job in jobs:
            if job.writer is not None:
                cleanup.append(job.writer.abort)
            if job.pending is not None:
                cleanup.append(job.pending.discard)
            if job.pulses is not None:
                cleanup.append(job.pulses.discard)
            # What a worker left, also one that died while writing.
            cleanup += [functools.partial(remove_leftovers, spool) for spool in job.spools]
            cleanup += [functools.partial(spool.unlink, missing_ok=True) for spool in job.spools]
        if created_folder is not None and failed:
            cleanup.append(created_folder.rmdir)  # when nothing was put in it
        for step in cleanup:
            with contextlib.suppress(Exception):
                step()
    summaries = sorted([job.summary for job in jobs + done], key=lambda f: paths.index(f.input))
    return RunSummary(
        summaries, time.perf_counter() - start, dict(named).get("extractors.channels.table")
    )


def _already_done(job: _Job, fmt: str, common: dict[str, Any]) -> bool:
    """Whether the output of ``job`` is complete and was made from the same input, settings,
    tables and library as this run would make it.  Anything else is made again."""
    output = job.summary.output
    if not is_hit_file(output, fmt):
        return False
    try:
        # Complete: a Parquet footer holds it; a sidecar proves its data file by its SHA-256.
        document = read_provenance(output)
    except Exception:  # noqa: BLE001 - anything unreadable is made again
        return False
    if not document or _made_by(document) != _made_by(common):
        return False
    inputs = document.get("inputs") or [{}]
    if inputs[0].get("sha256") != checked_sha256(job.summary.input):
        return False
    job.summary.hits, job.summary.resumed = int(document.get("hits", 0)), True
    job.summary.drops = drops_from_provenance(document.get("drops")) or {}
    return True


def _made_by(document: dict[str, Any]) -> tuple[Any, ...]:
    settings = document.get("settings") or {}
    tables = [(t.get("key"), t.get("sha256")) for t in document.get("tables") or []]
    return (document.get("format"), document.get("orvane_version"), settings.get("sha256"), tables)


__all__ = [
    "FileSummary",
    "RunSummary",
    "check_sample_period",
    "expand_inputs",
    "plan_outputs",
    "reconstruct_files",
    "reconstruct_range",
]
