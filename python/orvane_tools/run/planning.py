"""Planning a run: the inputs (globs expanded, headers read, limits checked), where each
input's hits go, and which outputs may be replaced."""

from __future__ import annotations

import glob
import os
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from .._atomic import PendingFile, check_writable, same_file
from .._dtypes import PULSE_COLUMNS_DTYPE
from .._errors import UserError
from ..files.hitfile import (
    FORMATS,
    HitFileWriter,
    check_hit_file_format,
    is_hit_file,
    pulses_path,
    sidecar_path,
)
from ..files.triggerfile import TriggerFileError, TriggerFileReader
from .chunks import ChannelCounts, check_trigger_positions

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
    #: Records the library left out, per channel and cause (``files.provenance.Drops``),
    #: written into the hit file's provenance as ``drops``.
    drops: dict[int, dict[str, int]] = field(default_factory=dict)
    #: The output was already complete, made from the same input and settings (--resume).
    resumed: bool = False
    #: Triggers per channel and the channels with a hit, counted by the run (not for an output
    #: kept by --resume).
    counts: ChannelCounts | None = None

    @property
    def triggers(self) -> int:
        return self.n_tarvo + self.n_multipmt


@dataclass
class RunSummary:
    """What a run wrote, and its wall time (from start to the last output in place)."""

    files: list[FileSummary]
    seconds: float = 0.0
    #: The settings' channel table (``extractors.channels.table``), if they name one.
    channel_table: Path | None = None

    @property
    def triggers(self) -> int:
        return sum(f.triggers for f in self.files)

    @property
    def hits(self) -> int:
        return sum(f.hits for f in self.files)

    @property
    def truncated(self) -> int:
        return sum(f.truncated for f in self.files)

    def dropped(self, cause: str) -> int:
        """Records left out for ``cause`` (one of ``files.provenance.DROP_CAUSES``), in all."""
        return sum(c.get(cause, 0) for f in self.files for c in f.drops.values())


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
    resume: bool = False,
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
            orphan = target != output and not os.path.lexists(output)
            if resume and orphan and _is_provenance(target):
                continue  # put in place just before its data file, which never came
            if not overwrite:
                why = " and is not complete from these inputs and settings" if resume else ""
                hint = "" if resume else " (or --resume to keep what an interrupted run completed)"
                raise UserError(f"{target} exists{why}; pass --overwrite to replace it{hint}")
            if target == output and not is_hit_file(target, fmt):
                raise UserError(
                    f"refusing to overwrite {target}: it is not a .{fmt} hit file (even with "
                    "--overwrite, only a hit file of the same format is replaced)"
                )
            if pulse_columns and fmt == "npy" and target == pulses_path(output):
                if not is_hit_file(target, "npy", PULSE_COLUMNS_DTYPE):
                    raise UserError(
                        f"refusing to overwrite {target}: it is not the pulse columns of a hit file"
                    )
                continue
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
            check_trigger_positions(reader)  # before any work, not at this input's turn
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
