"""Hit files: the reconstructed hit rows as ``.npy``, ``.csv`` or ``.parquet``.

All three hold the columns of :data:`HIT_DTYPE` in that order: ``channel``, ``id``, ``time``,
``charge``, ``time_uncertainty``, ``charge_uncertainty``.  ``id`` holds the 64 bits of the hit
id as a signed integer, exactly as the row type does (run numbers below 2**31 keep it positive).
CSV floats are written with 17 significant digits, so they read back bit for bit.
"""

from __future__ import annotations

import io
import os
from pathlib import Path

import numpy as np

from ._atomic import atomic_output
from ._dtypes import HIT_DTYPE

FORMATS = ("npy", "csv", "parquet")

_CSV_FORMAT = ",".join(["%d", "%d"] + ["%.17g"] * 4)


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


def write_hit_file(path: str | os.PathLike, hits: np.ndarray) -> None:
    """Write hit rows to ``path`` in the format named by its suffix, atomically."""
    fmt = check_hit_file_format(path)
    hits = np.asarray(hits)
    if hits.dtype != HIT_DTYPE:
        raise ValueError(f"hit rows must have dtype {HIT_DTYPE}, got {hits.dtype}")
    with atomic_output(path) as tmp:
        if fmt == "npy":
            with open(tmp, "wb") as stream:
                np.save(stream, hits)
        elif fmt == "csv":
            with open(tmp, "w", encoding="ascii", newline="\n") as stream:
                stream.write(",".join(HIT_DTYPE.names) + "\n")
                if len(hits):
                    np.savetxt(stream, hits, fmt=_CSV_FORMAT)
        else:
            pa, pq = _pyarrow()
            table = pa.table({name: hits[name] for name in HIT_DTYPE.names})
            pq.write_table(table, str(tmp))


def read_hit_file(path: str | os.PathLike) -> np.ndarray:
    """Read a hit file written by :func:`write_hit_file` back into hit rows."""
    fmt = hit_file_format(path)
    if fmt == "npy":
        hits = np.load(path, allow_pickle=False)
    elif fmt == "csv":
        with open(path, encoding="ascii") as stream:
            header = stream.readline().strip()
            if header != ",".join(HIT_DTYPE.names):
                raise ValueError(f"{path} is not a hit file: unexpected header {header!r}")
            body = stream.read()
        hits = np.zeros(0, dtype=HIT_DTYPE)
        if body.strip():
            hits = np.loadtxt(io.StringIO(body), delimiter=",", dtype=HIT_DTYPE, ndmin=1)
    else:
        _, pq = _pyarrow()
        table = pq.read_table(str(path))
        hits = np.zeros(table.num_rows, dtype=HIT_DTYPE)
        for name in HIT_DTYPE.names:
            hits[name] = table.column(name).to_numpy()
    if hits.dtype != HIT_DTYPE or hits.ndim != 1:
        raise ValueError(f"{path} is not a hit file: {hits.ndim}-d array of dtype {hits.dtype}")
    return hits
