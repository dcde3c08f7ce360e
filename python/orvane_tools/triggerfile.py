"""Trigger files: the columnar trigger rows of one run in a NumPy ``.npz`` archive.

A trigger file is written with :func:`numpy.savez` and can be read with :func:`numpy.load`
alone.  Its keys:

``format``
    the string ``"orvane-triggers/1"`` (a 0-d str array).
``run_info``
    one row of :data:`RUN_INFO_DTYPE`: run number, time offsets, run start time.
``tarvo_triggers``, ``tarvo_samples``, ``tarvo_offsets``
    waveform trigger rows (:data:`TARVO_TRIGGER_DTYPE`), all their samples in one flat uint16
    array, and int64 offsets of length n+1 with ``offsets[0] == 0``: the waveform of row i is
    ``samples[offsets[i]:offsets[i + 1]]``.
``multipmt_triggers``
    multi-PMT trigger rows (:data:`MULTIPMT_TRIGGER_DTYPE`).
``truth_tarvo_npe``, ``truth_tarvo_charge``, ``truth_tarvo_time``, ``truth_multipmt_npe``, ``truth_multipmt_charge``, ``truth_multipmt_time``
    only in simulated files: the true photo-electron count (int32), charge (float64, PE) and
    arrival time (float64, s; NaN for a trigger without a pulse) of every trigger.
``truth_channel_gain``, ``truth_channel_pmt_type``
    optional, both or neither, in simulated files: the gain (float64, relative to the nominal
    single-PE charge) and PMT type (int32) of channel number i at index i.
"""

from __future__ import annotations

import os
import zipfile
from dataclasses import dataclass
from typing import Union

import numpy as np

from ._atomic import atomic_output
from ._dtypes import (
    MULTIPMT_TRIGGER_DTYPE,
    RUN_INFO_DTYPE,
    TARVO_TRIGGER_DTYPE,
)

FORMAT = "orvane-triggers/1"

#: Run information of a simulation run: run 0xF00D00, no offsets, start 2025-01-01 + 27 s.
SIMULATION_RUN_NUMBER = 15731968
SIMULATION_RUN_START_NS = 1735689627000000000

PathLike = Union[str, os.PathLike]

_TRUTH_KINDS = ("tarvo", "multipmt")
_TRUTH_FIELDS = (
    ("npe", np.dtype(np.int32)),
    ("charge", np.dtype(np.float64)),
    ("time", np.dtype(np.float64)),
)
_CHANNEL_TRUTH = (
    ("truth_channel_gain", "channel_gain", np.dtype(np.float64)),
    ("truth_channel_pmt_type", "channel_pmt_type", np.dtype(np.int32)),
)


@dataclass
class Truth:
    """What the simulator put into each trigger: photo-electrons, charge [PE], time [s]."""

    tarvo_npe: np.ndarray
    tarvo_charge: np.ndarray
    tarvo_time: np.ndarray
    multipmt_npe: np.ndarray
    multipmt_charge: np.ndarray
    multipmt_time: np.ndarray
    #: Gain and PMT type of channel number i at index i (None: not recorded).
    channel_gain: np.ndarray | None = None
    channel_pmt_type: np.ndarray | None = None


@dataclass
class TriggerData:
    """The trigger rows of one run, as held in a trigger file."""

    run_info: np.ndarray
    tarvo_triggers: np.ndarray
    tarvo_samples: np.ndarray
    tarvo_offsets: np.ndarray
    multipmt_triggers: np.ndarray
    truth: Truth | None = None

    @property
    def n_tarvo(self) -> int:
        """Number of waveform triggers."""
        return len(self.tarvo_triggers)

    @property
    def n_multipmt(self) -> int:
        """Number of multi-PMT triggers."""
        return len(self.multipmt_triggers)

    @property
    def n_triggers(self) -> int:
        """Number of triggers of both kinds."""
        return self.n_tarvo + self.n_multipmt

    def waveform(self, i: int) -> np.ndarray:
        """Samples of waveform trigger ``i`` (a view)."""
        return self.tarvo_samples[self.tarvo_offsets[i] : self.tarvo_offsets[i + 1]]


def run_info_row(
    run_number: int = SIMULATION_RUN_NUMBER,
    time_offset_s: int = 0,
    time_offset_ns: int = 0,
    run_start_time_ns: int = SIMULATION_RUN_START_NS,
) -> np.ndarray:
    """A one-row run information array; the defaults are those of a simulation run."""
    row = np.zeros(1, dtype=RUN_INFO_DTYPE)
    row[0] = (run_number, time_offset_s, time_offset_ns, run_start_time_ns)
    return row


def empty_trigger_data(run_info: np.ndarray | None = None) -> TriggerData:
    """Trigger data without any trigger."""
    return TriggerData(
        run_info=run_info_row() if run_info is None else run_info,
        tarvo_triggers=np.zeros(0, dtype=TARVO_TRIGGER_DTYPE),
        tarvo_samples=np.zeros(0, dtype=np.uint16),
        tarvo_offsets=np.zeros(1, dtype=np.int64),
        multipmt_triggers=np.zeros(0, dtype=MULTIPMT_TRIGGER_DTYPE),
    )


def _arrays(data: TriggerData) -> dict[str, np.ndarray]:
    arrays = {
        "format": np.array(FORMAT),
        "run_info": data.run_info,
        "tarvo_triggers": data.tarvo_triggers,
        "tarvo_samples": data.tarvo_samples,
        "tarvo_offsets": data.tarvo_offsets,
        "multipmt_triggers": data.multipmt_triggers,
    }
    if data.truth is not None:
        for kind in _TRUTH_KINDS:
            for field, _ in _TRUTH_FIELDS:
                arrays[f"truth_{kind}_{field}"] = getattr(data.truth, f"{kind}_{field}")
        for key, attribute, _ in _CHANNEL_TRUTH:
            value = getattr(data.truth, attribute)
            if value is not None:
                arrays[key] = value
    return arrays


def write_trigger_file(path: PathLike, data: TriggerData, *, compress: bool = False) -> None:
    """Write ``data`` to ``path`` as a trigger file.

    The file appears only once complete: it is written under a temporary name in the same
    directory and renamed at the end, so a failure leaves no partial file behind.  The data is
    checked first, as the reader would check it.
    """
    arrays = _arrays(data)
    _validate(arrays, str(path))
    save = np.savez_compressed if compress else np.savez
    # A file object keeps numpy from appending ".npz" to the temporary name.
    with atomic_output(path) as tmp, open(tmp, "wb") as stream:
        save(stream, **arrays)


class TriggerFileError(ValueError):
    """A file that is not a valid trigger file."""


def _fail(path: str, message: str) -> TriggerFileError:
    return TriggerFileError(f"{path} is not a valid trigger file: {message}")


def _check_dtype(path: str, key: str, array: np.ndarray, dtype: np.dtype, ndim: int) -> None:
    if array.dtype != dtype:
        raise _fail(path, f"key '{key}' has dtype {array.dtype}, expected {dtype}")
    if array.ndim != ndim:
        raise _fail(path, f"key '{key}' has {array.ndim} dimensions, expected {ndim}")


def _validate(arrays: dict[str, np.ndarray], path: str) -> None:
    fmt = arrays["format"]
    if fmt.shape != () or str(fmt) != FORMAT:
        raise _fail(path, f"key 'format' is {fmt!r}, expected '{FORMAT}'")
    _check_dtype(path, "run_info", arrays["run_info"], RUN_INFO_DTYPE, 1)
    if len(arrays["run_info"]) != 1:
        raise _fail(path, f"key 'run_info' has {len(arrays['run_info'])} rows, expected 1")
    _check_dtype(path, "tarvo_triggers", arrays["tarvo_triggers"], TARVO_TRIGGER_DTYPE, 1)
    _check_dtype(path, "tarvo_samples", arrays["tarvo_samples"], np.dtype(np.uint16), 1)
    _check_dtype(path, "tarvo_offsets", arrays["tarvo_offsets"], np.dtype(np.int64), 1)
    _check_dtype(path, "multipmt_triggers", arrays["multipmt_triggers"], MULTIPMT_TRIGGER_DTYPE, 1)
    n = len(arrays["tarvo_triggers"])
    offsets = arrays["tarvo_offsets"]
    if len(offsets) != n + 1:
        raise _fail(path, f"key 'tarvo_offsets' has length {len(offsets)}, expected {n + 1}")
    if offsets[0] != 0:
        raise _fail(path, "key 'tarvo_offsets' does not start at 0")
    if n and np.any(np.diff(offsets) < 0):
        raise _fail(path, "key 'tarvo_offsets' is not non-decreasing")
    if offsets[-1] != len(arrays["tarvo_samples"]):
        raise _fail(
            path,
            f"key 'tarvo_offsets' ends at {offsets[-1]}, but 'tarvo_samples' holds "
            f"{len(arrays['tarvo_samples'])} samples",
        )
    truth_keys = [f"truth_{k}_{f}" for k in _TRUTH_KINDS for f, _ in _TRUTH_FIELDS]
    present = [key for key in truth_keys if key in arrays]
    if present and len(present) != len(truth_keys):
        missing = ", ".join(f"'{key}'" for key in truth_keys if key not in arrays)
        raise _fail(path, f"truth keys are incomplete, missing {missing}")
    for kind in _TRUTH_KINDS if present else ():
        expected_len = n if kind == "tarvo" else len(arrays["multipmt_triggers"])
        for field, dtype in _TRUTH_FIELDS:
            key = f"truth_{kind}_{field}"
            _check_dtype(path, key, arrays[key], dtype, 1)
            if len(arrays[key]) != expected_len:
                raise _fail(
                    path, f"key '{key}' has length {len(arrays[key])}, expected {expected_len}"
                )
    channel_keys = [key for key, _, _ in _CHANNEL_TRUTH if key in arrays]
    if channel_keys:
        if not present or len(channel_keys) != len(_CHANNEL_TRUTH):
            raise _fail(
                path,
                "channel truth needs 'truth_channel_gain' and "
                "'truth_channel_pmt_type' besides the trigger truth",
            )
        for key, _, dtype in _CHANNEL_TRUTH:
            _check_dtype(path, key, arrays[key], dtype, 1)
        if len(arrays["truth_channel_gain"]) != len(arrays["truth_channel_pmt_type"]):
            raise _fail(
                path, "keys 'truth_channel_gain' and 'truth_channel_pmt_type' differ in length"
            )


_REQUIRED_KEYS = (
    "format",
    "run_info",
    "tarvo_triggers",
    "tarvo_samples",
    "tarvo_offsets",
    "multipmt_triggers",
)


def read_trigger_file(path: PathLike) -> TriggerData:
    """Read and check a trigger file.

    Raises
    ------
    FileNotFoundError, IsADirectoryError, PermissionError
        The file cannot be opened.
    TriggerFileError
        (a ``ValueError``) The file is not a trigger file: not an ``.npz`` archive, a key is
        missing, an array has the wrong dtype or shape, or the waveform offsets are
        inconsistent.  The message names the file and the key.
    """
    name = str(path)
    # The archive is read through a file object of our own, closed on every path: numpy leaves
    # the file it opened itself open when the archive turns out to be broken.
    with open(path, "rb") as stream:
        magic = stream.read(6)
        if magic.startswith(b"\x93NUMPY"):
            raise _fail(name, "it is a single NumPy array (.npy), not an .npz archive")
        if not magic.startswith(b"PK"):
            raise _fail(name, "it is not an .npz archive")
        stream.seek(0)
        try:
            with np.load(stream, allow_pickle=False) as archive:
                missing = [key for key in _REQUIRED_KEYS if key not in archive.files]
                if missing:
                    raise _fail(name, "missing key " + ", ".join(f"'{k}'" for k in missing))
                arrays = {key: archive[key] for key in archive.files}
        except (zipfile.BadZipFile, OSError, ValueError, EOFError) as exc:
            if isinstance(exc, TriggerFileError):
                raise
            raise _fail(name, "the .npz archive cannot be read") from exc
    _validate(arrays, name)
    truth = None
    if "truth_tarvo_npe" in arrays:
        truth = Truth(
            **{
                f"{kind}_{field}": arrays[f"truth_{kind}_{field}"]
                for kind in _TRUTH_KINDS
                for field, _ in _TRUTH_FIELDS
            },
            **{attribute: arrays.get(key) for key, attribute, _ in _CHANNEL_TRUTH},
        )
    return TriggerData(
        run_info=arrays["run_info"],
        tarvo_triggers=arrays["tarvo_triggers"],
        tarvo_samples=arrays["tarvo_samples"],
        tarvo_offsets=arrays["tarvo_offsets"],
        multipmt_triggers=arrays["multipmt_triggers"],
        truth=truth,
    )
