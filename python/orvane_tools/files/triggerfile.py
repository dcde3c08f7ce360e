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
``tarvo_baseline_rms``
    optional: the noise (float32, LSB) of each waveform's baseline estimate, the RMS of the
    samples it was taken from.
``sample_period_ns``
    optional: the time between two samples (0-d float64, ns); 4 when absent.
``adc_bits``
    optional: the digitizer's resolution (0-d int32, bits); its largest sample is 2^bits - 1.
``provenance``
    optional: where the triggers come from, a JSON object in a 0-d str array (written by
    ``orvane import``: the raw files, their sizes and SHA-256, every option).

Readers ignore members they do not know.
"""

from __future__ import annotations

import hashlib
import os
import struct
import zipfile
import zlib
from dataclasses import dataclass
from typing import TYPE_CHECKING, Union

import numpy as np

from .._atomic import atomic_output
from .._dtypes import (
    MULTIPMT_TRIGGER_DTYPE,
    RUN_INFO_DTYPE,
    TARVO_TRIGGER_DTYPE,
)

if TYPE_CHECKING:
    from typing_extensions import Self

FORMAT = "orvane-triggers/1"
#: The time between two samples of a file that does not record it.
DEFAULT_SAMPLE_PERIOD_NS = 4.0

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
    #: Noise of each waveform's baseline estimate (float32, LSB), or None.
    tarvo_baseline_rms: np.ndarray | None = None
    #: Time between two samples in ns; None: not recorded, which means 4 ns.
    sample_period_ns: float | None = None
    #: The digitizer's resolution in bits, or None.
    adc_bits: int | None = None
    #: Where the triggers come from: JSON text, or None.
    provenance: str | None = None

    @property
    def period_ns(self) -> float:
        """Time between two samples in ns (4 where the file does not say)."""
        return DEFAULT_SAMPLE_PERIOD_NS if self.sample_period_ns is None else self.sample_period_ns

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
    if data.tarvo_baseline_rms is not None:
        arrays["tarvo_baseline_rms"] = np.asarray(data.tarvo_baseline_rms)
    if data.sample_period_ns is not None:
        arrays["sample_period_ns"] = np.array(data.sample_period_ns, dtype=np.float64)
    if data.adc_bits is not None:
        arrays["adc_bits"] = np.array(data.adc_bits, dtype=np.int32)
    if data.provenance is not None:
        arrays["provenance"] = np.array(data.provenance)
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
        # No member is named allow_pickle, the one keyword of savez that is not an array.
        save(stream, **arrays)  # type: ignore[arg-type]


class TriggerFileError(ValueError):
    """A file that is not a valid trigger file."""


def _fail(path: str, message: str) -> TriggerFileError:
    return TriggerFileError(f"{path} is not a valid trigger file: {message}")


def _check_dtype(path: str, key: str, array: np.ndarray, dtype: np.dtype, ndim: int) -> None:
    if array.dtype != dtype:
        raise _fail(path, f"key '{key}' has dtype {array.dtype}, expected {dtype}")
    if array.ndim != ndim:
        raise _fail(path, f"key '{key}' has {array.ndim} dimensions, expected {ndim}")


def _check_baselines(path: str, rows: np.ndarray, first: int = 0) -> None:
    bad = np.flatnonzero(~np.isfinite(rows["baseline"]))
    if len(bad):
        row = int(bad[0])
        raise _fail(
            path,
            f"member 'tarvo_triggers.npy' row {first + row} has the baseline "
            f"{rows['baseline'][row]}, not a finite number",
        )


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
    _check_baselines(path, arrays["tarvo_triggers"])
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
    _validate_extras(arrays, path, n)
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


def _validate_extras(arrays: dict[str, np.ndarray], path: str, n: int) -> None:
    """Check the optional members of an import: baseline noise, period, ADC bits, provenance."""
    if "tarvo_baseline_rms" in arrays:
        rms = arrays["tarvo_baseline_rms"]
        _check_dtype(path, "tarvo_baseline_rms", rms, np.dtype(np.float32), 1)
        if len(rms) != n:
            raise _fail(path, f"key 'tarvo_baseline_rms' has length {len(rms)}, expected {n}")
    if "sample_period_ns" in arrays:
        period = arrays["sample_period_ns"]
        _check_dtype(path, "sample_period_ns", period, np.dtype(np.float64), 0)
        if not (np.isfinite(period) and period > 0):
            raise _fail(path, f"key 'sample_period_ns' is {float(period)}, expected a period > 0")
    if "adc_bits" in arrays:
        bits = arrays["adc_bits"]
        _check_dtype(path, "adc_bits", bits, np.dtype(np.int32), 0)
        if not 1 <= int(bits) <= 16:
            raise _fail(path, f"key 'adc_bits' is {int(bits)}, expected 1 to 16")
    if "provenance" in arrays:
        text = arrays["provenance"]
        if text.dtype.kind != "U" or text.shape != ():
            raise _fail(path, "key 'provenance' is not a string")


_TRUTH_KEYS = tuple(f"truth_{kind}_{field}" for kind in _TRUTH_KINDS for field, _ in _TRUTH_FIELDS)
_REQUIRED_KEYS = (
    "format",
    "run_info",
    "tarvo_triggers",
    "tarvo_samples",
    "tarvo_offsets",
    "multipmt_triggers",
)
#: Layout of each array a trigger file may hold: dtype (None: a string) and dimensions.
_LAYOUT: dict[str, tuple[np.dtype | None, int]] = {
    "format": (None, 0),
    "run_info": (RUN_INFO_DTYPE, 1),
    "tarvo_triggers": (TARVO_TRIGGER_DTYPE, 1),
    "tarvo_samples": (np.dtype(np.uint16), 1),
    "tarvo_offsets": (np.dtype(np.int64), 1),
    "multipmt_triggers": (MULTIPMT_TRIGGER_DTYPE, 1),
    **{f"truth_{k}_{f}": (dtype, 1) for k in _TRUTH_KINDS for f, dtype in _TRUTH_FIELDS},
    "tarvo_baseline_rms": (np.dtype(np.float32), 1),
    "sample_period_ns": (np.dtype(np.float64), 0),
    "adc_bits": (np.dtype(np.int32), 0),
}
#: Provenance texts longer than this are refused (a damaged member must not size a read).
_MAX_PROVENANCE_BYTES = 16 << 20
# Deflate cannot expand one compressed byte into more than 1032 bytes: a member claiming more
# is damaged, and its claim must not size an allocation.
_MAX_DEFLATE_RATIO = 1032
_MAX_NPY_HEADER = 10_000
_MAX_FORMAT_BYTES = 1024
_SKIP_BLOCK = 1 << 20
_LOCAL_HEADER = struct.Struct("<4s22xHH")
# What reading damaged archive bytes can raise (zipfile, zlib and struct each have theirs);
# interruptions (BaseException) pass.
_READ_ERRORS = (Exception,)


@dataclass(frozen=True)
class _Member:
    """One ``.npy`` member of the archive, its header checked against its size."""

    key: str
    info: zipfile.ZipInfo
    dtype: np.dtype
    shape: tuple[int, ...]
    fortran_order: bool
    #: Absolute file offset of the array data of a stored member; -1 for a deflated one.
    data_offset: int
    #: Size of the member's ``.npy`` header.
    header_size: int

    @property
    def where(self) -> str:
        return f"member '{self.info.filename}'"

    @property
    def length(self) -> int:
        return self.shape[0] if self.shape else 1


class _Sequential:
    """A forward reader of a deflated member, which keeps its last row for overlapping reads."""

    def __init__(self, archive: zipfile.ZipFile, member: _Member) -> None:
        self.archive = archive
        self.member = member
        self._open()

    def _open(self) -> None:
        info = self.member.info
        stream = self.archive.open(info)
        # ZipFile.open reads through a ZipExtFile, a buffered stream that has readinto.
        assert isinstance(stream, zipfile.ZipExtFile)
        self.stream = stream
        self.stream.read(info.file_size - self.member.length * self.member.dtype.itemsize)
        self.position = 0
        self.last: bytes | None = None

    def read_into(self, lo: int, view: memoryview) -> None:
        itemsize = self.member.dtype.itemsize
        if self.last is not None and lo == self.position - 1 and len(view):
            view[:itemsize] = self.last
            view = view[itemsize:]
            lo += 1
        if lo < self.position:  # backwards: decompress again from the start
            self.stream.close()
            self._open()
        skip = (lo - self.position) * itemsize
        while skip > 0:
            got = len(self.stream.read(min(skip, _SKIP_BLOCK)))
            if got == 0:
                raise EOFError("the member ends early")
            skip -= got
        filled = 0
        while filled < len(view):
            got = self.stream.readinto(view[filled:])
            if not got:
                raise EOFError("the member ends early")
            filled += got
        self.position = lo + len(view) // itemsize
        if len(view):
            self.last = bytes(view[-itemsize:])

    def close(self) -> None:
        self.stream.close()


class TriggerFileReader:
    """A trigger file opened for reading a range of rows at a time.

    Opening reads the archive's directory and every member's ``.npy`` header, and checks them:
    the keys, dtypes and dimensions, that the lengths agree, and that each header's shape
    matches the bytes its member holds (so that no claimed size sizes an allocation).  Rows are
    then read on demand: members stored uncompressed (``numpy.savez``) at any row, straight from
    the file; deflated members (``numpy.savez_compressed``) in one forward pass.  Memory stays
    that of the rows asked for, whatever the file's size.  The waveform offsets are checked as
    they are read.  Every error is a :class:`TriggerFileError` naming the file and the member.
    """

    def __init__(self, path: PathLike) -> None:
        self.path = str(path)
        self._file = open(path, "rb")  # noqa: SIM115 - closed by close()
        self._streams: dict[str, _Sequential] = {}
        self._archive: zipfile.ZipFile | None = None
        try:
            self._open()
        except BaseException:
            self.close()
            raise

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def close(self) -> None:
        """Close the file (idempotent)."""
        for stream in self._streams.values():
            stream.close()
        self._streams.clear()
        if self._archive is not None:
            self._archive.close()
        self._file.close()

    def _open(self) -> None:
        name = self.path
        magic = self._file.read(6)
        if magic.startswith(b"\x93NUMPY"):
            raise _fail(name, "it is a single NumPy array (.npy), not an .npz archive")
        if not magic.startswith(b"PK"):
            raise _fail(name, "it is not an .npz archive")
        self._size = os.fstat(self._file.fileno()).st_size
        self._file.seek(0)
        try:
            self._archive = zipfile.ZipFile(self._file)
        except _READ_ERRORS as exc:
            raise _fail(name, "the .npz archive cannot be read") from exc
        # numpy.load would read the last of two members of one name, another tool the first.
        seen: set[str] = set()
        for info in self._archive.infolist():
            if info.filename in seen:
                raise _fail(name, f"it holds two members named '{info.filename}'")
            seen.add(info.filename)
        # Every array member is indexed (numpy.load sees them all); the known ones are checked.
        infos = {
            info.filename.removesuffix(".npy"): info
            for info in self._archive.infolist()
            if info.filename.endswith(".npy")
        }
        missing = [key for key in _REQUIRED_KEYS if key not in infos]
        if missing:
            raise _fail(name, "missing key " + ", ".join(f"'{k}'" for k in missing))
        self.members = {key: self._index(key, info) for key, info in infos.items()}
        for key, member in self.members.items():
            if key == "provenance":
                if member.dtype.kind != "U" or member.info.file_size > _MAX_PROVENANCE_BYTES:
                    raise _fail(
                        name, f"key 'provenance' has dtype {member.dtype}, expected a string"
                    )
                continue
            if key not in _LAYOUT:
                continue
            dtype, ndim = _LAYOUT[key]
            if dtype is None:
                if member.dtype.kind != "U" or member.info.file_size > _MAX_FORMAT_BYTES:
                    raise _fail(name, f"key 'format' has dtype {member.dtype}, expected a string")
                continue
            if member.dtype != dtype:
                raise _fail(name, f"key '{key}' has dtype {member.dtype}, expected {dtype}")
            if len(member.shape) != ndim:
                raise _fail(
                    name, f"key '{key}' has {len(member.shape)} dimensions, expected {ndim}"
                )
        fmt = self.whole("format")
        if fmt.shape != () or str(fmt) != FORMAT:
            raise _fail(name, f"key 'format' is {fmt!r}, expected '{FORMAT}'")
        self.run_info = self.whole("run_info")
        if len(self.run_info) != 1:
            raise _fail(name, f"key 'run_info' has {len(self.run_info)} rows, expected 1")
        n = self.n_tarvo
        offsets = self.members["tarvo_offsets"].length
        if offsets != n + 1:
            raise _fail(name, f"key 'tarvo_offsets' has length {offsets}, expected {n + 1}")
        present = [key for key in _TRUTH_KEYS if key in self.members]
        if present and len(present) != len(_TRUTH_KEYS):
            missing_truth = ", ".join(f"'{k}'" for k in _TRUTH_KEYS if k not in self.members)
            raise _fail(name, f"truth keys are incomplete, missing {missing_truth}")
        rms = self.members.get("tarvo_baseline_rms")
        if rms is not None and rms.length != n:
            raise _fail(name, f"key 'tarvo_baseline_rms' has length {rms.length}, expected {n}")
        for key in present:
            expected = n if key.startswith("truth_tarvo") else self.n_multipmt
            if self.members[key].length != expected:
                length = self.members[key].length
                raise _fail(name, f"key '{key}' has length {length}, expected {expected}")

    def _index(self, key: str, info: zipfile.ZipInfo) -> _Member:
        name, where = self.path, f"member '{info.filename}'"
        if info.flag_bits & 0x1:
            raise _fail(name, f"{where} is encrypted; trigger files are never encrypted")
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            raise _fail(
                name,
                f"{where} uses compression method {info.compress_type}; only stored (0) and "
                "deflated (8) members can be read",
            )
        if info.header_offset + info.compress_size > self._size:
            raise _fail(name, f"{where} extends past the end of the file")
        stored = info.compress_type == zipfile.ZIP_STORED
        if stored and info.compress_size != info.file_size:
            raise _fail(
                name,
                f"{where} is stored uncompressed but claims {info.file_size} bytes in "
                f"{info.compress_size}",
            )
        if not stored and info.file_size > _MAX_DEFLATE_RATIO * info.compress_size + 1024:
            raise _fail(
                name,
                f"{where} claims {info.file_size} bytes, more than its {info.compress_size} "
                "compressed bytes can hold",
            )
        assert self._archive is not None
        try:
            with self._archive.open(info) as stream:
                version = np.lib.format.read_magic(stream)
                if version == (1, 0):
                    header = np.lib.format.read_array_header_1_0(stream, _MAX_NPY_HEADER)
                elif version == (2, 0):
                    header = np.lib.format.read_array_header_2_0(stream, _MAX_NPY_HEADER)
                else:
                    raise ValueError(f"unsupported .npy format version {version}")
                header_size = stream.tell()
        except Exception as exc:
            if " object at 0x" in str(exc):
                # NumPy's parser of the header's text names a node of its syntax tree.
                why = "its text is not a literal of Python values"
                raise _fail(name, f"{where} has no readable NumPy array header: {why}") from None
            raise _fail(name, f"{where} has no readable NumPy array header") from exc
        shape, fortran_order, dtype = header
        if dtype.hasobject:
            raise _fail(name, f"{where} holds Python objects, which a trigger file never does")
        if any(dim < 0 or dim > self._size for dim in shape):
            raise _fail(
                name, f"{where} has a header claiming shape {shape}, impossible in this file"
            )
        count = 1
        for dim in shape:
            count *= dim
        data_size = info.file_size - header_size
        if count < 0 or count * dtype.itemsize != data_size:
            raise _fail(
                name,
                f"{where} has a header claiming shape {shape} of {dtype} "
                f"({count * dtype.itemsize} bytes) but holds {data_size} bytes of data",
            )
        data_offset = -1
        if stored:
            self._file.seek(info.header_offset)
            local = self._file.read(_LOCAL_HEADER.size)
            if len(local) != _LOCAL_HEADER.size or local[:4] != b"PK\x03\x04":
                raise _fail(name, f"{where} has a damaged local header")
            _, name_length, extra_length = _LOCAL_HEADER.unpack(local)
            data_offset = info.header_offset + 30 + name_length + extra_length + header_size
            if data_offset + data_size > self._size:
                raise _fail(name, f"{where} extends past the end of the file")
        return _Member(
            key, info, dtype, tuple(shape), bool(fortran_order), data_offset, header_size
        )

    @property
    def n_tarvo(self) -> int:
        """Number of waveform triggers."""
        return self.members["tarvo_triggers"].length

    @property
    def n_multipmt(self) -> int:
        """Number of multi-PMT triggers."""
        return self.members["multipmt_triggers"].length

    @property
    def n_samples(self) -> int:
        """Number of waveform samples of all waveform triggers."""
        return self.members["tarvo_samples"].length

    @property
    def sample_period_ns(self) -> float:
        """Time between two samples in ns: the member ``sample_period_ns``, else 4."""
        if "sample_period_ns" not in self.members:
            return DEFAULT_SAMPLE_PERIOD_NS
        period = float(self.whole("sample_period_ns"))
        if not (np.isfinite(period) and period > 0):
            raise _fail(self.path, f"key 'sample_period_ns' is {period}, expected a period > 0")
        return period

    @property
    def provenance(self) -> str | None:
        """The member ``provenance`` (JSON text), or None."""
        if "provenance" not in self.members:
            return None
        return str(self.whole("provenance"))

    def baseline_rms(self, lo: int, hi: int) -> np.ndarray | None:
        """Baseline noise of waveform triggers ``lo:hi``, or None where the file has none."""
        if "tarvo_baseline_rms" not in self.members:
            return None
        return self.rows("tarvo_baseline_rms", lo, hi)

    @property
    def compressed(self) -> bool:
        """Whether the trigger rows or samples are deflated (readable only front to back)."""
        keys = ("tarvo_triggers", "tarvo_samples", "tarvo_offsets", "multipmt_triggers")
        return any(self.members[key].data_offset < 0 for key in keys)

    def _read_into(self, member: _Member, lo: int, out: np.ndarray) -> None:
        view = out.reshape(-1).view(np.uint8).data
        try:
            if member.data_offset >= 0:
                self._file.seek(member.data_offset + lo * member.dtype.itemsize)
                if self._file.readinto(view) != len(view):
                    raise EOFError("the member ends early")
            else:
                stream = self._streams.get(member.key)
                if stream is None:
                    assert self._archive is not None
                    stream = self._streams[member.key] = _Sequential(self._archive, member)
                stream.read_into(lo, view)
        except _READ_ERRORS as exc:
            self._streams.pop(member.key, None)
            raise _fail(self.path, f"{member.where} cannot be read") from exc

    def whole(self, key: str) -> np.ndarray:
        """The whole array of ``key`` (a stored member's CRC-32 checked)."""
        member = self.members[key]
        shape = member.shape[::-1] if member.fortran_order else member.shape
        out = np.empty(shape, dtype=member.dtype)
        self._read_into(member, 0, out)
        if member.data_offset >= 0:
            self._file.seek(member.data_offset - member.header_size)
            crc = zlib.crc32(self._file.read(member.header_size))
            if zlib.crc32(out.reshape(-1).view(np.uint8).data, crc) != member.info.CRC:
                raise _fail(self.path, f"{member.where} is damaged: its CRC-32 does not match")
        return out.T if member.fortran_order else out

    def rows(self, key: str, lo: int, hi: int) -> np.ndarray:
        """Rows ``lo:hi`` of the one-dimensional array ``key``."""
        member = self.members[key]
        lo, hi = max(lo, 0), min(hi, member.length)
        out = np.empty(max(hi - lo, 0), dtype=member.dtype)
        if len(out):
            self._read_into(member, lo, out)
        return out

    def tarvo_chunk(self, lo: int, hi: int) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
        """Waveform trigger rows ``lo:hi``, their samples, and offsets into those samples."""
        name = self.path
        offsets = self.rows("tarvo_offsets", lo, hi + 1)
        if lo == 0 and offsets[0] != 0:
            raise _fail(name, "key 'tarvo_offsets' does not start at 0")
        if np.any(np.diff(offsets) < 0):
            raise _fail(name, "key 'tarvo_offsets' is not non-decreasing")
        n_samples = self.n_samples
        last = int(offsets[-1])
        if offsets[0] < 0 or last > n_samples or (hi >= self.n_tarvo and last != n_samples):
            raise _fail(
                name,
                f"key 'tarvo_offsets' ends at {offsets[-1]}, but 'tarvo_samples' holds "
                f"{n_samples} samples",
            )
        rows = self.rows("tarvo_triggers", lo, hi)
        _check_baselines(name, rows, lo)
        samples = self.rows("tarvo_samples", int(offsets[0]), int(offsets[-1]))
        return rows, samples, offsets - offsets[0]

    def multipmt_chunk(self, lo: int, hi: int) -> np.ndarray:
        """Multi-PMT trigger rows ``lo:hi``."""
        return self.rows("multipmt_triggers", lo, hi)


def checked_sha256(path: PathLike, block: int = 1 << 20) -> str:
    """SHA-256 of a trigger file (lower-case hex), checking its stored members' CRC-32 on the way.

    Stored members are read at any row straight from the file, which skips the archive's
    checksum; this one pass over the whole file (beside the reconstruction) makes up for it.
    Deflated members are checked as they are decompressed.

    Raises
    ------
    TriggerFileError
        A stored member's bytes do not match its CRC-32 (naming the file and the member).
    """
    with TriggerFileReader(path) as reader:
        ranges = [
            (m.data_offset - m.header_size, m.info.file_size, m.info.CRC, m)
            for m in reader.members.values()
            if m.data_offset >= 0
        ]
    crcs = [0] * len(ranges)
    digest = hashlib.sha256()
    position = 0
    with open(path, "rb") as stream:
        while chunk := stream.read(block):
            digest.update(chunk)
            end = position + len(chunk)
            for i, (start, size, _, _) in enumerate(ranges):
                lo, hi = max(start, position), min(start + size, end)
                if lo < hi:
                    crcs[i] = zlib.crc32(memoryview(chunk)[lo - position : hi - position], crcs[i])
            position = end
    for crc, (_, _, expected, member) in zip(crcs, ranges):
        if crc != expected:
            raise _fail(str(path), f"{member.where} is damaged: its CRC-32 does not match")
    return digest.hexdigest()


def is_trigger_file(path: PathLike) -> bool:
    """Whether ``path`` opens as a trigger file (what an output may replace)."""
    try:
        with TriggerFileReader(path):
            return True
    except (OSError, TriggerFileError):
        return False


def read_trigger_file(path: PathLike) -> TriggerData:
    """Read and check a whole trigger file.

    Raises
    ------
    FileNotFoundError, IsADirectoryError, PermissionError
        The file cannot be opened.
    TriggerFileError
        (a ``ValueError``) The file is not a trigger file: not an ``.npz`` archive, a member
        cannot be read, a key is missing, an array has the wrong dtype or shape, or the
        waveform offsets are inconsistent.  The message names the file and the key or member.
    """
    with TriggerFileReader(path) as reader:
        arrays = {key: reader.whole(key) for key in reader.members}
    _validate(arrays, str(path))
    truth = None
    if "truth_tarvo_npe" in arrays:
        truth = Truth(
            **{
                f"{kind}_{field}": arrays[f"truth_{kind}_{field}"]
                for kind in _TRUTH_KINDS
                for field, _ in _TRUTH_FIELDS
            },
            channel_gain=arrays.get("truth_channel_gain"),
            channel_pmt_type=arrays.get("truth_channel_pmt_type"),
        )
    return TriggerData(
        run_info=arrays["run_info"],
        tarvo_triggers=arrays["tarvo_triggers"],
        tarvo_samples=arrays["tarvo_samples"],
        tarvo_offsets=arrays["tarvo_offsets"],
        multipmt_triggers=arrays["multipmt_triggers"],
        truth=truth,
        tarvo_baseline_rms=arrays.get("tarvo_baseline_rms"),
        sample_period_ns=float(arrays["sample_period_ns"])
        if "sample_period_ns" in arrays
        else None,
        adc_bits=int(arrays["adc_bits"]) if "adc_bits" in arrays else None,
        provenance=str(arrays["provenance"]) if "provenance" in arrays else None,
    )
