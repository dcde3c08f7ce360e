"""The outputs of a run: each input's SHA-256 beside the work, and each hit file's writer and
provenance."""

from __future__ import annotations

import threading
from pathlib import Path
from typing import Any

from .._atomic import PendingFile
from .._errors import UserError
from ..files.hitfile import PROVENANCE_KEY, HitFileWriter, provenance_json, pulses_path
from ..files.provenance import drops_provenance, input_provenance
from ..files.triggerfile import TriggerFileError, checked_sha256
from .planning import _Job


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
    document["drops"] = drops_provenance(s.drops)
    job.writer.close({PROVENANCE_KEY: provenance_json(document)})
    s.hits = job.writer.count
    job.provenance = document
