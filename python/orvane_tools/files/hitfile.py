"""Hit files: the reconstructed hit rows as ``.npy``, ``.csv`` or ``.parquet``.

All three hold the columns of :data:`HIT_DTYPE` in that order: ``channel``, ``id``, ``time``,
``charge``, ``time_uncertainty``, ``charge_uncertainty``.  ``id`` holds the 64 bits of the hit
id as a signed integer, exactly as the row type does (run numbers below 2**31 keep it positive).
CSV floats are written with 17 significant digits, so they read back bit for bit.  ``.npy``
rows have their padding bytes zeroed, so a file's bytes depend on its hits alone.

Files are written a chunk of rows at a time (:class:`HitFileWriter`): a Parquet row group per
chunk, ``.npy`` rows appended after a header of fixed size that is filled in at the end,
``.csv`` lines appended.  The provenance of a file written by the ``orvane`` command lies in the
Parquet file's key-value metadata (key ``orvane.provenance``), or for ``.npy`` and ``.csv`` in a
JSON sidecar ``OUTPUT.json``; :func:`read_hits_with_provenance` returns both.
"""

from __future__ import annotations

import base64
import contextlib
import hashlib
import io
import json
import os
from pathlib import Path
from typing import Any, BinaryIO

import numpy as np

from .._atomic import PendingFile
from .._dtypes import HIT_DTYPE, HIT_PULSE_DTYPE, PULSE_COLUMNS_DTYPE, field_names

FORMATS = ("npy", "csv", "parquet")
#: Key of the provenance (a JSON document) in a Parquet file's key-value metadata.
PROVENANCE_KEY = "orvane.provenance"
CSV_HEADER = ",".join(field_names(HIT_DTYPE)) + "\n"

_CSV_LINE = ",".join(["%d", "%d"] + ["%.17g"] * 4) + "\n"
_NPY_MAGIC = b"\x93NUMPY"


def hit_file_format(path: str | os.PathLike) -> str:
    """The format named by the file's suffix.

    Raises
    ------
    ValueError
        The suffix is not one of ``.npy``, ``.csv``, ``.parquet``.
    """
    suffix = Path(path).suffix.lower().lstrip(".")
    if suffix not in FORMATS:
        raise ValueError(
            f"cannot tell the hit file format of {path}: the name must end in "
            + ", ".join(f".{f}" for f in FORMATS)
        )
    return suffix


def _pyarrow():
    try:
        import pyarrow
        import pyarrow.parquet
    except ImportError as exc:
        raise ImportError(
            "writing or reading .parquet needs pyarrow (pip install 'orvane[parquet]')"
        ) from exc
    return pyarrow, pyarrow.parquet


def check_hit_file_format(path: str | os.PathLike) -> str:
    """Like :func:`hit_file_format`, and also check that the format's writer is installed."""
    fmt = hit_file_format(path)
    if fmt == "parquet":
        _pyarrow()
    return fmt


def sidecar_path(path: str | os.PathLike) -> Path:
    """Where the provenance of an ``.npy`` or ``.csv`` hit file lies: ``PATH.json``."""
    path = Path(path)
    return path.with_name(path.name + ".json")


def pulses_path(path: str | os.PathLike) -> Path:
    """Where the pulse columns of an ``.npy`` hit file lie: ``STEM.pulses.npy``."""
    path = Path(path)
    return path.with_name(path.stem + ".pulses.npy")


def _csv_line(dtype: np.dtype) -> str:
    kinds = {"i": "%d", "u": "%d", "b": "%d", "f": "%.17g"}
    return ",".join(kinds[dtype[name].kind] for name in field_names(dtype)) + "\n"


def with_pulse_columns(hits: np.ndarray, pulses: np.ndarray) -> np.ndarray:
    """Hit rows with the columns of their pulses (``orvane.pulse_dtype`` rows, joined by id).

    A hit without a pulse gets -1 in the integer columns, NaN in the floats, false flags.
    """
    rows = np.zeros(len(hits), dtype=HIT_PULSE_DTYPE)
    for name in field_names(HIT_DTYPE):
        rows[name] = hits[name]
    for name in field_names(PULSE_COLUMNS_DTYPE):
        kind = PULSE_COLUMNS_DTYPE[name].kind
        rows[name] = -1 if kind == "i" else (np.nan if kind == "f" else False)
    if len(pulses) and len(hits):
        order = np.argsort(pulses["id"], kind="stable")
        ids = pulses["id"][order]
        at = np.minimum(np.searchsorted(ids, hits["id"]), len(ids) - 1)
        found = ids[at] == hits["id"]
        matched = pulses[order[at[found]]]
        for name in field_names(PULSE_COLUMNS_DTYPE):
            rows[name][found] = matched[name]
    return rows


def _npy_header(count: int, size: int = 0, dtype: np.dtype = HIT_DTYPE) -> bytes:
    """A version 1.0 ``.npy`` header for ``count`` rows, padded to ``size`` bytes."""
    stream = io.BytesIO()
    header = {
        "descr": np.lib.format.dtype_to_descr(dtype),
        "fortran_order": False,
        "shape": (count,),
    }
    np.lib.format.write_array_header_1_0(stream, header)
    data = stream.getvalue()
    if size > len(data):
        text = data[10:].rstrip(b" \n")
        text += b" " * (size - 10 - len(text) - 1) + b"\n"
        data = data[:8] + len(text).to_bytes(2, "little") + text
    return data


# Room for any row count: a header sized for the largest is padded at the end.
_NPY_HEADER_SIZE = len(_npy_header(2**63 - 1))


def zeroed_rows(hits: np.ndarray, dtype: np.dtype = HIT_DTYPE) -> np.ndarray:
    """A copy of the ``dtype`` fields of rows with every padding byte zero."""
    rows = np.zeros(len(hits), dtype=dtype)
    for name in field_names(dtype):
        rows[name] = hits[name]
    return rows


class HitFileWriter:
    """Writes hit rows to ``path`` (a new file, usually a temporary one) chunk by chunk.

    ``fmt`` is ``npy``, ``csv`` or ``parquet``.  Call :meth:`append` for each chunk, then
    :meth:`close`.  With ``pulses`` the rows carry the pulse columns too
    (:data:`HIT_PULSE_DTYPE`): Parquet and CSV files get them as further columns, an ``.npy``
    file keeps the hit rows and writes the pulse columns to the ``.npy`` file ``pulses``.
    """

    def __init__(
        self, path: str | os.PathLike, fmt: str, *, pulses: str | os.PathLike | bool | None = None
    ) -> None:
        if fmt not in FORMATS:
            raise ValueError(f"unknown hit file format {fmt!r}")
        if fmt == "npy" and pulses is True:
            raise ValueError("an .npy hit file needs the path of its pulse columns' file")
        self.path = Path(path)
        self.fmt = fmt
        self.count = 0
        self.dtype = HIT_PULSE_DTYPE if pulses else HIT_DTYPE
        self._stream: BinaryIO | None = None
        self._pulses: BinaryIO | None = None
        self._parquet = None
        if fmt == "parquet":
            pa, pq = _pyarrow()
            schema = pa.schema(
                [(name, pa.from_numpy_dtype(self.dtype[name])) for name in field_names(self.dtype)]
            )
            self._schema = schema
            self._parquet = pq.ParquetWriter(str(self.path), self._schema)
        else:
            self._stream = open(self.path, "wb")  # noqa: SIM115 - closed by close()
            if fmt == "npy":
                self._stream.write(_npy_header(0, _NPY_HEADER_SIZE))
                if pulses:
                    self._pulses = open(pulses, "wb")  # noqa: SIM115 - closed by close()
                    self._pulses.write(_npy_header(0, _NPY_HEADER_SIZE, PULSE_COLUMNS_DTYPE))
            else:
                self._stream.write((",".join(field_names(self.dtype)) + "\n").encode("ascii"))
                self._line = _csv_line(self.dtype)

    def append(self, hits: np.ndarray) -> None:
        """Append hit rows (of :data:`HIT_DTYPE`, or :data:`HIT_PULSE_DTYPE` with pulses)."""
        if hits.dtype != self.dtype:
            raise ValueError(f"hit rows must have dtype {self.dtype}, got {hits.dtype}")
        if not len(hits):
            return
        if self._parquet is not None:
            pa, _ = _pyarrow()
            columns = [
                pa.array(np.ascontiguousarray(hits[name])) for name in field_names(self.dtype)
            ]
            self._parquet.write_table(pa.Table.from_arrays(columns, schema=self._schema))
        elif self.fmt == "npy":
            assert self._stream is not None
            self._stream.write(zeroed_rows(hits).data)
            if self._pulses is not None:
                self._pulses.write(zeroed_rows(hits, PULSE_COLUMNS_DTYPE).data)
        else:
            # One formatting call per row from C (map), three times faster than numpy.savetxt.
            columns = [hits[name].tolist() for name in field_names(self.dtype)]
            assert self._stream is not None
            self._stream.write("".join(map(self._line.__mod__, zip(*columns))).encode("ascii"))
        self.count += len(hits)

    def close(self, metadata: dict[str, str] | None = None) -> None:
        """Finish the file: the ``.npy`` header gets its row count, Parquet its footer.

        ``metadata`` goes into a Parquet file's key-value metadata and into the metadata of
        the Arrow schema stored beside it, where ``pyarrow.parquet.read_table(path).schema``
        and pandas look (other formats ignore it).
        """
        if self._parquet is not None:
            if metadata:
                # The stored Arrow schema was written when the file was opened, before the
                # metadata was known: it is replaced by one that carries it.
                schema = self._schema.with_metadata(metadata).serialize()
                arrow = {"ARROW:schema": base64.b64encode(memoryview(schema)).decode("ascii")}
                self._parquet.add_key_value_metadata({**metadata, **arrow})
            self._parquet.close()
            self._parquet = None
        if self._stream is not None:
            if self.fmt == "npy":
                self._stream.seek(0)
                self._stream.write(_npy_header(self.count, _NPY_HEADER_SIZE))
            self._stream.close()
            self._stream = None
        if self._pulses is not None:
            self._pulses.seek(0)
            self._pulses.write(_npy_header(self.count, _NPY_HEADER_SIZE, PULSE_COLUMNS_DTYPE))
            self._pulses.close()
            self._pulses = None

    def abort(self) -> None:
        """Close without finishing (the file is to be thrown away).  Never raises: the
        buffered rows that fail to reach a full disk once more are of no use."""
        if self._parquet is not None:
            with contextlib.suppress(Exception):
                self._parquet.close()
            self._parquet = None
        for stream in (self._stream, self._pulses):
            if stream is not None:
                with contextlib.suppress(OSError):
                    stream.close()
        self._stream = self._pulses = None


def sha256_file(path: str | os.PathLike, block: int = 1 << 20) -> str:
    """SHA-256 of a file's content, lower-case hex."""
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        while chunk := stream.read(block):
            digest.update(chunk)
    return digest.hexdigest()


def provenance_json(provenance: dict[str, Any]) -> str:
    """The provenance as the JSON text stored in files (keys sorted, one line per field)."""
    return json.dumps(provenance, indent=1, sort_keys=True, ensure_ascii=False) + "\n"


def write_hit_file(
    path: str | os.PathLike, hits: np.ndarray, provenance: dict[str, Any] | None = None
) -> None:
    """Write hit rows to ``path`` in the format named by its suffix, atomically.

    With ``provenance``, a Parquet file holds it in its metadata; an ``.npy`` or ``.csv``
    file gets the sidecar ``PATH.json``, written first (the data file appears last).
    """
    fmt = check_hit_file_format(path)
    hits = np.asarray(hits)
    if hits.dtype != HIT_DTYPE:
        raise ValueError(f"hit rows must have dtype {HIT_DTYPE}, got {hits.dtype}")
    pending = PendingFile(path)
    try:
        metadata = None
        if provenance is not None and fmt == "parquet":
            metadata = {PROVENANCE_KEY: provenance_json(provenance)}
        writer = HitFileWriter(pending.tmp, fmt)
        try:
            writer.append(hits)
        finally:
            writer.close(metadata)
        commit_hit_file(pending, fmt, provenance)
    finally:
        pending.discard()


def commit_hit_file(
    pending: PendingFile,
    fmt: str,
    provenance: dict[str, Any] | None,
    pulses: PendingFile | None = None,
) -> PendingFile | None:
    """Put a finished hit file in place: its sidecar first (with the data's SHA-256), then
    the file of its pulse columns (``pulses``, for ``.npy``), then it.

    Returns the sidecar's pending file when one was written (already committed).
    """
    sidecar = None
    if provenance is not None and fmt != "parquet":
        document = dict(provenance)
        document["data"] = {"name": pending.target.name, "sha256": sha256_file(pending.tmp)}
        if pulses is not None:
            document["pulses"] = {"name": pulses.target.name, "sha256": sha256_file(pulses.tmp)}
        sidecar = PendingFile(sidecar_path(pending.target))
        try:
            sidecar.tmp.write_text(provenance_json(document), encoding="utf-8")
            sidecar.commit()
        finally:
            sidecar.discard()
    try:
        if pulses is not None:
            pulses.commit()
        pending.commit()
    except BaseException:
        if sidecar is not None:
            sidecar.target.unlink(missing_ok=True)
        if pulses is not None:
            pulses.target.unlink(missing_ok=True)
        raise
    return sidecar


def read_hit_file(path: str | os.PathLike) -> np.ndarray:
    """Read a hit file written by :func:`write_hit_file` back into hit rows."""
    fmt = hit_file_format(path)
    if fmt == "npy":
        hits = np.load(path, allow_pickle=False)
    elif fmt == "csv":
        with open(path, encoding="ascii") as stream:
            header = stream.readline()
            layouts = {",".join(field_names(d)): d for d in (HIT_DTYPE, HIT_PULSE_DTYPE)}
            layout = layouts.get(header.strip())
            if layout is None:
                raise ValueError(f"{path} is not a hit file: unexpected header {header.strip()!r}")
            body = stream.read()
        hits = np.zeros(0, dtype=HIT_DTYPE)
        if body.strip():
            # The hit columns of the rows (a file with pulse columns holds more).
            hits = zeroed_rows(np.loadtxt(io.StringIO(body), delimiter=",", dtype=layout, ndmin=1))
    else:
        _, pq = _pyarrow()
        table = pq.read_table(str(path))
        hits = np.zeros(table.num_rows, dtype=HIT_DTYPE)
        for name in field_names(HIT_DTYPE):
            hits[name] = table.column(name).to_numpy()
    if hits.dtype != HIT_DTYPE or hits.ndim != 1:
        raise ValueError(f"{path} is not a hit file: {hits.ndim}-d array of dtype {hits.dtype}")
    return hits


def read_provenance(path: str | os.PathLike) -> dict[str, Any] | None:
    """The provenance of a hit file, or None when it has none.

    Raises
    ------
    ValueError
        An ``.npy`` or ``.csv`` file's sidecar does not describe it (its SHA-256 differs, e.g.
        after an interrupted overwrite or a later change of the data file).
    """
    fmt = hit_file_format(path)
    if fmt == "parquet":
        _, pq = _pyarrow()
        metadata = pq.read_metadata(str(path)).metadata or {}
        text = metadata.get(PROVENANCE_KEY.encode())
        return None if text is None else json.loads(text)
    sidecar = sidecar_path(path)
    if not sidecar.exists():
        return None
    document = json.loads(sidecar.read_text(encoding="utf-8"))
    data = document.get("data", {})
    if data.get("sha256") != sha256_file(path):
        raise ValueError(
            f"the provenance {sidecar} does not describe {path}: the data file's SHA-256 differs"
        )
    return document


def read_hits_with_provenance(path: str | os.PathLike) -> tuple[np.ndarray, dict[str, Any] | None]:
    """The hit rows of a hit file and its provenance (None when it has none)."""
    return read_hit_file(path), read_provenance(path)


def is_hit_file(path: str | os.PathLike, fmt: str, dtype: np.dtype = HIT_DTYPE) -> bool:
    """Whether the existing file ``path`` is a hit file of format ``fmt`` (by its content);
    for ``.npy``, one of rows of ``dtype`` (:data:`PULSE_COLUMNS_DTYPE`: a file of pulse
    columns)."""
    try:
        with open(path, "rb") as stream:
            head = stream.read(4096)
    except OSError:
        return False
    if fmt == "npy":
        if not head.startswith(_NPY_MAGIC):
            return False
        try:
            header = io.BytesIO(head)
            version = np.lib.format.read_magic(header)
            reader = {
                (1, 0): np.lib.format.read_array_header_1_0,
                (2, 0): np.lib.format.read_array_header_2_0,
            }[version]
            shape, _, found = reader(header)
        except Exception:  # noqa: BLE001 - a header that cannot be parsed is not a hit file
            return False
        return found == dtype and len(shape) == 1
    if fmt == "csv":
        pulse_header = ",".join(field_names(HIT_PULSE_DTYPE)) + "\n"
        return head.startswith((CSV_HEADER.encode("ascii"), pulse_header.encode("ascii")))
    if not head.startswith(b"PAR1"):
        return False
    try:
        _, pq = _pyarrow()
        names = pq.read_schema(str(path)).names
        return names in (list(field_names(HIT_DTYPE)), list(field_names(HIT_PULSE_DTYPE)))
    except Exception:  # noqa: BLE001 - anything unreadable is not a hit file
        return False
