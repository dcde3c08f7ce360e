"""Reconstruction of whole trigger files into hit files, streamed, locally or on a Dask cluster.

:func:`reconstruct_files` is the Python face of ``orvane reconstruct``.  Each input is read a
chunk of triggers at a time, reconstructed, and its hits appended to its output, so memory stays
a constant plus a few chunks whatever the file's size.  With a ``distributed.Client`` the chunks
become tasks on the cluster's workers; the hits come back in trigger order, so every output is
the same as a single-process run's whatever the workers, the chunk size and the order in which
tasks finish.

Outputs appear only once every input is done: a failure or an interruption leaves none of them
(nor their temporary ``.part`` files) behind.
"""

from __future__ import annotations

import glob
import os
import threading
import time
import uuid
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from ._atomic import PART_SUFFIX, PendingFile, check_writable, same_file
from ._dtypes import MAX_TRIGGER_POSITIONS
from ._errors import UserError
from ._extension import run_info_object
from .hitfile import (
    FORMATS,
    PROVENANCE_KEY,
    HitFileWriter,
    check_hit_file_format,
    commit_hit_file,
    is_hit_file,
    provenance_json,
    pulses_path,
    sha256_file,
    sidecar_path,
    with_pulse_columns,
    zeroed_rows,
)
from .provenance import input_provenance, run_provenance, settings_tables
from .reconstruct import DEFAULT_CHUNK_SIZE, load_reconstruction
from .triggerfile import TriggerFileError, TriggerFileReader, checked_sha256

#: A Dask task covers at least this many triggers (whole chunks), to keep task overhead small.
TASK_TRIGGERS = 1 << 18
#: Run numbers the hit ids hold (32 bits).
MAX_RUN_NUMBER = 2**32 - 1
DEFAULT_FORMAT = "parquet"

Progress = Callable[[int], None]


@dataclass
class FileSummary:
    """One input and the hit file made from it."""

    input: Path
    output: Path
    n_tarvo: int
    n_multipmt: int
    hits: int = 0
    #: Waveform triggers that held more pulses than the 16 records a trigger can have (the
    #: pulse finder kept the first 16 of each).
    truncated: int = 0

    @property
    def triggers(self) -> int:
        return self.n_tarvo + self.n_multipmt


@dataclass
class RunSummary:
    """What a run wrote, and its wall time (from start to the last output in place)."""

    files: list[FileSummary]
    seconds: float = 0.0

    @property
    def triggers(self) -> int:
        return sum(f.triggers for f in self.files)

    @property
    def hits(self) -> int:
        return sum(f.hits for f in self.files)

    @property
    def truncated(self) -> int:
        return sum(f.truncated for f in self.files)


@dataclass
class _Job:
    """One input, what its header says, and where its hits go."""

    summary: FileSummary
    run_info: np.ndarray
    compressed: bool
    sample_period_ns: float = 4.0
    adc_bits: int | None = None
    #: The trigger file's own provenance (JSON text), or None.
    origin: str | None = None
    pending: PendingFile | None = None
    #: An ``.npy`` output's file of pulse columns.
    pulses: PendingFile | None = None
    writer: HitFileWriter | None = None
    sha256: Callable[[], str] | None = None
    provenance: dict[str, Any] | None = None
    spools: list[Path] = field(default_factory=list)


def expand_inputs(patterns: Sequence[str | os.PathLike]) -> list[Path]:
    """Input paths, with glob patterns (``*``, ``?``, ``[``) expanded in sorted order.

    A pattern that names an existing file is taken as it is; one that matches nothing is an
    error naming it.
    """
    paths: list[Path] = []
    for pattern in patterns:
        text = os.fspath(pattern)
        if os.path.exists(text) or not any(c in text for c in "*?["):
            paths.append(Path(text))
            continue
        matches = sorted(glob.glob(text))
        if not matches:
            raise UserError(f"no trigger file matches {text}")
        paths.extend(Path(m) for m in matches)
    if not paths:
        raise UserError("no trigger file given")
    return paths


def plan_outputs(
    inputs: Sequence[Path], output: str | os.PathLike, fmt: str | None
) -> tuple[list[Path], str]:
    """Where each input's hits go, and their format.

    One input and ``output`` not a folder (an existing one, or a name ending in ``/``):
    ``output`` is the hit file, its format named by its suffix.  Otherwise ``output`` is a
    folder (created if missing) and input ``X/name.npz`` goes to ``output/name.FORMAT``
    (``fmt``, default Parquet).
    """
    out = Path(output)
    if fmt is not None and fmt not in FORMATS:
        raise UserError(f"unknown hit file format {fmt!r}; choose one of {', '.join(FORMATS)}")
    folder = out.is_dir() or os.fspath(output).endswith(("/", os.sep))
    if len(inputs) == 1 and not folder:
        try:
            named = check_hit_file_format(out)
        except (ValueError, ImportError) as exc:
            raise UserError(f"cannot write the hit file {out}") from exc
        if fmt is not None and fmt != named:
            raise UserError(f"the hit file {out} is named .{named}, but --format is {fmt}")
        return [out], named
    fmt = fmt or DEFAULT_FORMAT
    try:
        check_hit_file_format(f"x.{fmt}")
    except ImportError as exc:
        raise UserError(f"cannot write .{fmt} hit files (or choose --format npy or csv)") from exc
    if out.exists() and not out.is_dir():
        raise UserError(f"with several trigger files, -o names a folder; {out} is a file")
    outputs = [out / f"{path.stem}.{fmt}" for path in inputs]
    seen: dict[Path, Path] = {}
    for path, target in zip(inputs, outputs):
        if target in seen:
            raise UserError(
                f"{seen[target]} and {path} would both write {target}; give inputs different names"
            )
        seen[target] = path
    return outputs, fmt


def _check_outputs(
    outputs: Sequence[Path],
    fmt: str,
    inputs: Sequence[Path],
    overwrite: bool,
    pulse_columns: bool = False,
) -> None:
    for output in outputs:
        try:
            if len(outputs) == 1 or output.parent.is_dir():  # a missing folder is created
                check_writable(output)
        except OSError as exc:
            raise UserError(f"cannot write the hit file {output}") from exc
        targets = [output] + ([sidecar_path(output)] if fmt != "parquet" else [])
        if pulse_columns and fmt == "npy":
            targets.append(pulses_path(output))
        for target in targets:
            for source in inputs:
                if same_file(target, source):
                    raise UserError(
                        f"refusing to write {target}: it is the input {source}, which would "
                        "be lost (--overwrite never replaces an input)"
                    )
            if not os.path.lexists(target):
                continue
            if not overwrite:
                raise UserError(f"{target} exists; pass --overwrite to replace it")
            if target == output and not is_hit_file(target, fmt):
                raise UserError(
                    f"refusing to overwrite {target}: it is not a .{fmt} hit file (even with "
                    "--overwrite, only a hit file of the same format is replaced)"
                )
            if target.name.endswith(".pulses.npy") and target != output:
                continue  # the pulse columns of the hit file replaced
            if target != output and not _is_provenance(target):
                raise UserError(
                    f"refusing to overwrite {target}: it is not the provenance of a hit file"
                )


def _is_provenance(path: Path) -> bool:
    import json

    try:
        document = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return False
    return isinstance(document, dict) and str(document.get("format", "")).startswith(
        "orvane-provenance/"
    )


def _open_input(path: Path) -> _Job:
    try:
        with TriggerFileReader(path) as reader:
            run_info = reader.run_info
            job = _Job(
                FileSummary(path, Path(), reader.n_tarvo, reader.n_multipmt),
                run_info,
                reader.compressed,
                reader.sample_period_ns,
                int(reader.whole("adc_bits")) if "adc_bits" in reader.members else None,
                reader.provenance,
            )
    except TriggerFileError:
        raise
    except OSError as exc:
        raise UserError(f"cannot read the trigger file {path}") from exc
    run_number = int(run_info["run_number"][0])
    if run_number > MAX_RUN_NUMBER:
        raise UserError(
            f"the run number {run_number} of {path} does not fit the 32 bits hit ids hold "
            f"(at most {MAX_RUN_NUMBER})"
        )
    if job.summary.triggers > MAX_TRIGGER_POSITIONS:
        raise UserError(
            f"{path} holds {job.summary.triggers} triggers, too many for one run: hit ids number "
            f"at most {MAX_TRIGGER_POSITIONS} trigger positions; split the trigger file"
        )
    return job


#: Relative difference of sampling periods taken as the same.
PERIOD_TOLERANCE = 1e-9


def check_sample_period(reco: Any, path: str | os.PathLike, period_ns: float) -> None:
    """Refuse a trigger file whose sampling period is not the one the settings' waveform
    extractor forms its times with (relative tolerance :data:`PERIOD_TOLERANCE`)."""
    expected = float(reco.sample_period)
    given = period_ns * 1e-9
    if abs(given - expected) <= PERIOD_TOLERANCE * expected:
        return
    if reco.waveform_extractor == "Tarvo":
        raise UserError(
            f"{path} was sampled every {period_ns:g} ns, but the single-pulse extractor "
            f"(extractors.waveform: Tarvo) works on samples {expected * 1e9:g} ns apart; "
            f"select the pulse finder with extractors.PulseFinder.sample_period: {given:g}"
        )
    raise UserError(
        f"{path} was sampled every {period_ns:g} ns ({given:g} s), but the settings' "
        f"extractors.PulseFinder.sample_period is {expected:g} s"
    )


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
    from ._extension import load_extension

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


def _segments(job: _Job, size: int) -> list[tuple[str, int, int]]:
    n, m = job.summary.n_tarvo, job.summary.n_multipmt
    tarvo = [("tarvo", lo, min(lo + size, n)) for lo in range(0, n, size)]
    return tarvo + [("multipmt", lo, min(lo + size, m)) for lo in range(0, m, size)]


class _Hasher(threading.Thread):
    """SHA-256 of an input (its stored members' CRC-32 checked), computed beside the
    reconstruction (hashlib and zlib release the interpreter lock)."""

    def __init__(self, path: Path) -> None:
        super().__init__(daemon=True)
        self.path = path
        self.digest: str | None = None
        self.error: BaseException | None = None

    def run(self) -> None:
        try:
            self.digest = checked_sha256(self.path)
        except BaseException as exc:  # noqa: BLE001 - handed to the waiting thread
            self.error = exc

    def result(self) -> str:
        self.join()
        if isinstance(self.error, TriggerFileError):
            raise self.error
        if self.error is not None:
            raise UserError(f"cannot read the trigger file {self.path}") from self.error
        assert self.digest is not None
        return self.digest


def _adc_max(job: _Job) -> float | None:
    """The saturation level the input's ADC resolution gives, or None."""
    return None if job.adc_bits is None else float((1 << job.adc_bits) - 1)


def _start_output(job: _Job, fmt: str, pulse_columns: bool = False) -> None:
    assert job.pending is not None
    pulses: Path | bool = pulse_columns
    if pulse_columns and fmt == "npy":
        job.pulses = PendingFile(pulses_path(job.pending.target))
        pulses = job.pulses.tmp
    job.writer = HitFileWriter(job.pending.tmp, fmt, pulses=pulses)


def _finish_output(job: _Job, common: dict[str, Any]) -> None:
    assert job.writer is not None and job.sha256 is not None
    s = job.summary
    document = input_provenance(
        common, s.input, job.sha256(), job.run_info, s.n_tarvo, s.n_multipmt, job.origin
    )
    document["hits"] = job.writer.count
    job.writer.close({PROVENANCE_KEY: provenance_json(document)})
    s.hits = job.writer.count
    job.provenance = document


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
) -> tuple[int, int]:
    """On a worker: reconstruct one range of triggers, write the hit rows to ``spool``.

    Returns the number of hits and of waveforms that held more than 16 pulses.

    ``alive`` is the run's temporary output file: once the run has failed it is gone, and the
    spool, which nobody would read or remove, is not put in place.
    """
    key = (settings, settings_sha256)
    reco = _WORKER_RECONSTRUCTIONS.get(key)
    if reco is None:
        if sha256_file(settings) != settings_sha256:
            raise UserError(f"the settings file {settings} changed during the run")
        reco = _WORKER_RECONSTRUCTIONS[key] = load_reconstruction(settings)
    target = Path(spool)
    # Written under a name of its own and renamed, so a rerun never meets a half-written spool.
    pending = PendingFile(target)
    count = 0
    truncated = [0]
    try:
        with TriggerFileReader(path) as reader, open(pending.tmp, "wb") as out:
            for hits, _ in reconstruct_range(
                reco,
                reader,
                kind,
                lo,
                hi,
                chunk_size,
                threads=threads,
                on_truncated=lambda k: truncated.__setitem__(0, truncated[0] + k),
                pulse_columns=pulse_columns,
                adc_max=adc_max,
            ):
                out.write(zeroed_rows(hits, hits.dtype).data)
                count += len(hits)
        if os.path.exists(alive):
            pending.commit()
    finally:
        pending.discard()
    return count, truncated[0]


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
    pulse_columns: bool = False,
) -> None:
    from distributed import as_completed

    token = uuid.uuid4().hex[:12]
    per_task = -(-max(triggers_per_task, 1) // chunk_size) * chunk_size
    specs: list[tuple[int, str, int, int, Path]] = []
    for j, job in enumerate(jobs):
        # A deflated member can only be read front to back: one task per kind and file.
        size = max(job.summary.triggers, 1) if job.compressed else per_task
        assert job.pending is not None
        for kind, lo, hi in _segments(job, size):
            spool = job.pending.target.parent / (
                f".{job.pending.target.name}.{token}.{len(specs)}.spool{PART_SUFFIX}"
            )
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
            os.path.abspath(jobs[j].pending.tmp),
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
    finished: dict[int, tuple[int, int]] = {}
    next_spec = 0
    try:
        for future in queue:  # each task's hits go to its output in trigger order
            finished[index[future.key]] = future.result()
            live.pop(future.key, None)
            del future
            while next_spec in finished:
                _, truncated = finished.pop(next_spec)
                j, _, lo, hi, spool = specs[next_spec]
                job = jobs[j]
                job.summary.truncated += truncated
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
                if submitted < len(specs):
                    submit_next()
    except BaseException:
        client.cancel(list(live.values()))  # tasks not yet started never run
        raise
    for job in jobs:  # inputs without triggers have no task
        if job.writer is None:
            job.sha256 = job.sha256 or (lambda p=job.summary.input: checked_sha256(p))
            _start_output(job, fmt, pulse_columns)
            _finish_output(job, common)


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
        Threads per call into the library.
    triggers_per_task:
        With a client, triggers per task (rounded up to whole chunks); a deflated input is
        read front to back, so it makes one task per trigger kind.
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
        A problem with an input, the settings or an output, naming the file.  No output is
        left behind by a failure or an interruption.
    """
    start = time.perf_counter()
    if chunk_size < 1:
        raise ValueError(f"the chunk size must be at least 1, got {chunk_size}")
    if threads < 1:
        raise ValueError(f"the thread count must be at least 1, got {threads}")
    paths = expand_inputs(inputs)
    outputs, fmt = plan_outputs(paths, output, fmt)
    settings = Path(settings)
    reco = load_reconstruction(settings)
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
    tables = [table for _, table in settings_tables(settings)]
    _check_outputs(outputs, fmt, [*paths, settings, *tables], overwrite, pulse_columns)
    common = run_provenance(settings, command_line)
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
    try:
        for job in jobs:
            job.pending = PendingFile(job.summary.output)
        if client is None:
            _run_local(jobs, reco, fmt, common, chunk_size, report, threads, pulse_columns)
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
                pulse_columns,
            )
        for job in jobs:
            assert job.pending is not None
            sidecar = commit_hit_file(job.pending, fmt, job.provenance, job.pulses)
            committed.append(job.summary.output)
            if job.pulses is not None:
                committed.append(job.pulses.target)
            if sidecar is not None:
                committed.append(sidecar.target)
    except BaseException:
        for path in committed:  # a failure while putting outputs in place
            path.unlink(missing_ok=True)
        raise
    finally:
        for job in jobs:
            if job.writer is not None:
                job.writer.abort()
            if job.pending is not None:
                job.pending.discard()
            if job.pulses is not None:
                job.pulses.discard()
            for spool in job.spools:
                spool.unlink(missing_ok=True)
                # What a worker that died while writing it left.
                pattern = glob.escape(str(spool.parent / f".{spool.name}.")) + f"*{PART_SUFFIX}"
                for leftover in glob.glob(pattern):
                    Path(leftover).unlink(missing_ok=True)
        if created_folder is not None and not committed:
            try:
                created_folder.rmdir()
            except OSError:
                pass
    return RunSummary([job.summary for job in jobs], time.perf_counter() - start)


__all__ = [
    "FileSummary",
    "RunSummary",
    "check_sample_period",
    "expand_inputs",
    "plan_outputs",
    "reconstruct_files",
    "reconstruct_range",
]
