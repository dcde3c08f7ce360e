"""What a run report reads: hit files a chunk of rows at a time, their provenance, and the
trigger files they were made from.

Hit rows come back as :class:`HitChunk` (the columns the report uses, with each hit's trigger
position taken from its id).  Rows of a hit file are in trigger order, so a chunk of triggers
and the hits made from it are matched by position, one forward pass through both files.
"""

from __future__ import annotations

import hashlib
import io
import itertools
import json
import os
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np

from .._dtypes import HIT_DTYPE, field_names, trigger_positions
from .._errors import UserError
from ..files.hitfile import CSV_HEADER, FORMATS, hit_file_format, read_provenance

#: Hit rows read at a time.
HIT_CHUNK = 1 << 16


@dataclass
class HitChunk:
    """Some hit rows: channel, trigger position, time [s], charge [PE], and, when the hit file
    carries pulse columns, each pulse's first and last sample (-1 for a hit without one)."""

    channel: np.ndarray
    position: np.ndarray
    time: np.ndarray
    charge: np.ndarray
    first_sample: np.ndarray | None = None
    last_sample: np.ndarray | None = None

    def __len__(self) -> int:
        return len(self.channel)

    @classmethod
    def from_rows(cls, rows: np.ndarray) -> HitChunk:
        names = rows.dtype.names or ()
        window = [
            np.asarray(rows[n], dtype=np.int64) if n in names else None
            for n in ("first_sample", "last_sample")
        ]
        return cls(
            np.asarray(rows["channel"], dtype=np.int64),
            trigger_positions(rows["id"]),
            np.asarray(rows["time"], dtype=np.float64),
            np.asarray(rows["charge"], dtype=np.float64),
            *window,
        )

    def take(self, lo: int, hi: int) -> HitChunk:
        return HitChunk(
            self.channel[lo:hi],
            self.position[lo:hi],
            self.time[lo:hi],
            self.charge[lo:hi],
            *(None if a is None else a[lo:hi] for a in (self.first_sample, self.last_sample)),
        )

    @staticmethod
    def join(parts: Sequence[HitChunk]) -> HitChunk:
        parts = [p for p in parts if len(p)] or list(parts[:1])
        if len(parts) == 1:
            return parts[0]
        window: list[np.ndarray | None] = []
        for name in ("first_sample", "last_sample"):
            arrays = [getattr(p, name) for p in parts]
            window.append(None if any(a is None for a in arrays) else np.concatenate(arrays))
        return HitChunk(
            np.concatenate([p.channel for p in parts]),
            np.concatenate([p.position for p in parts]),
            np.concatenate([p.time for p in parts]),
            np.concatenate([p.charge for p in parts]),
            *window,
        )


def empty_hits() -> HitChunk:
    return HitChunk.from_rows(np.zeros(0, dtype=HIT_DTYPE))


def find_hit_files(paths: Sequence[str | os.PathLike]) -> list[Path]:
    """The hit files named, a folder standing for the hit files in it (sorted by name).

    Raises
    ------
    UserError
        A path does not exist, names no hit file, or a folder holds none.
    """
    found: list[Path] = []
    for given in paths:
        path = Path(given)
        if path.is_dir():
            inside = sorted(
                p
                for p in path.iterdir()
                if p.is_file()
                and not p.name.startswith(".")
                and p.suffix.lower().lstrip(".") in FORMATS
            )
            if not inside:
                raise UserError(f"the folder {path} holds no hit file (.parquet, .npy, .csv)")
            found.extend(inside)
        elif path.exists():
            try:
                hit_file_format(path)
            except ValueError as exc:
                raise UserError(f"cannot read the hit file {path}") from exc
            found.append(path)
        else:
            raise UserError(f"the hit file {path} does not exist")
    if not found:
        raise UserError("no hit file given")
    return found


def hit_file_provenance(path: Path) -> dict[str, Any] | None:
    """The provenance of a hit file (None without one), errors naming the file."""
    try:
        return read_provenance(path)
    except (OSError, ValueError, ImportError) as exc:
        raise UserError(f"cannot read the provenance of the hit file {path}") from exc


def _npy_chunks(path: Path, chunk: int) -> Iterator[np.ndarray]:
    with open(path, "rb") as stream:
        version = np.lib.format.read_magic(stream)
        reader = {
            (1, 0): np.lib.format.read_array_header_1_0,
            (2, 0): np.lib.format.read_array_header_2_0,
        }.get(version)
        if reader is None:
            raise ValueError(f"unsupported .npy version {version}")
        shape, fortran, dtype = reader(stream)
        if dtype != HIT_DTYPE or len(shape) != 1 or fortran:
            raise ValueError(f"not a hit file: a {len(shape)}-d array of dtype {dtype}")
        left = shape[0]
        while left:
            rows = np.fromfile(stream, dtype=HIT_DTYPE, count=min(chunk, left))
            if not len(rows):
                raise ValueError(f"the file ends {left} rows early")
            left -= len(rows)
            yield rows


def _csv_chunks(path: Path, chunk: int) -> Iterator[np.ndarray]:
    with open(path, encoding="ascii") as stream:
        header = stream.readline().strip()
        if not header.startswith(CSV_HEADER.strip()):
            raise ValueError(f"not a hit file: unexpected header {header!r}")
        # The hit columns, and the pulse windows when the file carries pulse columns.
        names = header.split(",")
        hit_names = field_names(HIT_DTYPE)
        wanted = [*hit_names, *(n for n in ("first_sample", "last_sample") if n in names)]
        dtype = np.dtype([(n, HIT_DTYPE[n] if n in hit_names else np.int64) for n in wanted])
        columns = [names.index(n) for n in wanted]
        while True:
            lines = list(itertools.islice(stream, chunk))
            if not lines:
                return
            yield np.loadtxt(
                io.StringIO("".join(lines)), delimiter=",", dtype=dtype, usecols=columns, ndmin=1
            )


def _parquet_chunks(path: Path, chunk: int) -> Iterator[HitChunk]:
    try:
        import pyarrow.parquet as pq
    except ImportError as exc:
        raise ImportError("reading .parquet needs pyarrow (pip install 'orvane[parquet]')") from exc
    source = pq.ParquetFile(str(path))
    window = [n for n in ("first_sample", "last_sample") if n in source.schema_arrow.names]
    columns = ["channel", "id", "time", "charge", *window]
    for batch in source.iter_batches(batch_size=chunk, columns=columns):
        ids = batch.column("id").to_numpy()
        yield HitChunk(
            batch.column("channel").to_numpy().astype(np.int64),
            trigger_positions(ids),
            batch.column("time").to_numpy(),
            batch.column("charge").to_numpy(),
            *(batch.column(n).to_numpy().astype(np.int64) for n in window),
        )


def hit_chunks(path: Path, chunk: int = HIT_CHUNK) -> Iterator[HitChunk]:
    """The hits of a hit file, ``chunk`` rows at a time; errors name the file."""
    fmt = hit_file_format(path)
    try:
        if fmt == "parquet":
            yield from _parquet_chunks(path, chunk)
            return
        rows = _npy_chunks(path, chunk) if fmt == "npy" else _csv_chunks(path, chunk)
        for part in rows:
            yield HitChunk.from_rows(part)
    except (OSError, ValueError, ImportError) as exc:
        raise UserError(f"cannot read the hit file {path}") from exc


def hit_channels(path: Path, chunk: int = 1 << 20) -> Iterator[np.ndarray]:
    """The channel numbers of a hit file's hits, a chunk at a time (of a Parquet file, that
    column alone is read)."""
    if hit_file_format(path) != "parquet":
        for hits in hit_chunks(path, chunk):
            yield hits.channel
        return
    try:
        import pyarrow.parquet as pq

        source = pq.ParquetFile(str(path))
        for batch in source.iter_batches(batch_size=chunk, columns=["channel"]):
            yield batch.column("channel").to_numpy()
    except (OSError, ValueError, ImportError) as exc:
        raise UserError(f"cannot read the hit file {path}") from exc


class HitStream:
    """The hits of one file in trigger order, handed out up to a trigger position."""

    def __init__(self, path: Path, chunk: int = HIT_CHUNK) -> None:
        self._chunks = hit_chunks(path, chunk)
        self._buffer = empty_hits()
        self._done = False

    def until(self, position: int) -> HitChunk:
        """Every hit not yet handed out whose trigger position is below ``position``."""
        parts = []
        while True:
            cut = int(np.searchsorted(self._buffer.position, position, side="left"))
            if cut < len(self._buffer) or self._done:
                parts.append(self._buffer.take(0, cut))
                self._buffer = self._buffer.take(cut, len(self._buffer))
                return HitChunk.join(parts)
            parts.append(self._buffer)
            try:
                self._buffer = next(self._chunks)
            except StopIteration:
                self._buffer = empty_hits()
                self._done = True

    def rest(self) -> HitChunk:
        return self.until(np.iinfo(np.int64).max)


def settings_summary(provenance: dict[str, Any]) -> dict[str, Any] | None:
    """What the recorded settings configure (the library reads their text, its table names
    resolved against the recorded settings file's folder), or None."""
    recorded = provenance.get("settings") or {}
    text = recorded.get("text")
    if not text:
        return None
    from .._extension import load_extension

    try:
        orvane = load_extension()
        path = recorded.get("path") or "settings.yaml"
        return orvane.LoadedSettings(path, text.encode("utf-8")).summary()
    except Exception:  # noqa: BLE001 - the report then shows the settings' text alone
        return None


def read_channel_table(path: str | os.PathLike) -> dict[str, np.ndarray]:
    """The columns of a channel table (CSV with a header; ``#`` lines and blank lines skipped),
    by name: ``channel`` and ``pmt_type`` as integers, every other column as float."""
    with open(path, encoding="utf-8") as stream:
        lines = [
            line.strip() for line in stream if line.strip() and not line.lstrip().startswith("#")
        ]
    if not lines:
        raise ValueError(f"the channel table {path} has no header")
    names = [name.strip() for name in lines[0].split(",")]
    values = [line.split(",") for line in lines[1:]]
    columns: dict[str, np.ndarray] = {}
    for i, name in enumerate(names):
        column = [row[i].strip() if i < len(row) else "nan" for row in values]
        if name in ("channel", "pmt_type"):
            columns[name] = np.array([int(float(v)) for v in column], dtype=np.int64)
        else:
            try:
                columns[name] = np.array([float(v) for v in column], dtype=np.float64)
            except ValueError:
                columns[name] = np.array(column, dtype=object)
    return columns


def sha256_of(path: Path) -> str:
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        while block := stream.read(1 << 20):
            digest.update(block)
    return digest.hexdigest()


def load_json(path: Path) -> Any:
    return json.loads(path.read_text(encoding="utf-8"))
