"""Trigger files and hit files: round trips, validation, atomic writes."""

from __future__ import annotations

import dataclasses
import io
import sys
import warnings
import zipfile
from pathlib import Path

import numpy as np
import pytest

from orvane_tools import (
    HIT_DTYPE,
    TriggerData,
    TriggerFileError,
    read_hit_file,
    read_trigger_file,
    write_hit_file,
    write_trigger_file,
)
from orvane_tools._extension import EXTENSION_DTYPES
from orvane_tools.simulate import SimulationConfig, simulate
from orvane_tools.triggerfile import FORMAT, TriggerFileReader, empty_trigger_data


@pytest.fixture(scope="module")
def data() -> TriggerData:
    return simulate(SimulationConfig(n_tarvo=300, n_multipmt=200, seed=5))


def _arrays(data: TriggerData) -> dict[str, np.ndarray]:
    arrays = {
        "format": np.array(FORMAT),
        "run_info": data.run_info,
        "tarvo_triggers": data.tarvo_triggers,
        "tarvo_samples": data.tarvo_samples,
        "tarvo_offsets": data.tarvo_offsets,
        "multipmt_triggers": data.multipmt_triggers,
    }
    for field in dataclasses.fields(data.truth):
        arrays[f"truth_{field.name}"] = getattr(data.truth, field.name)
    return arrays


def _assert_same(a: TriggerData, b: TriggerData) -> None:
    for name in (
        "run_info",
        "tarvo_triggers",
        "tarvo_samples",
        "tarvo_offsets",
        "multipmt_triggers",
    ):
        assert getattr(a, name).dtype == getattr(b, name).dtype, name
        assert np.array_equal(getattr(a, name), getattr(b, name)), name
    assert (a.truth is None) == (b.truth is None)
    if a.truth is not None:
        for field in dataclasses.fields(a.truth):
            x, y = getattr(a.truth, field.name), getattr(b.truth, field.name)
            assert x.dtype == y.dtype and np.array_equal(x, y, equal_nan=True), field.name


def _leftovers(directory: Path) -> list[str]:
    return sorted(p.name for p in directory.iterdir() if p.name.endswith(".part"))


@pytest.mark.parametrize("compress", [False, True], ids=["plain", "compressed"])
def test_round_trip(tmp_path: Path, data: TriggerData, compress: bool) -> None:
    path = tmp_path / "run.npz"
    write_trigger_file(path, data, compress=compress)
    _assert_same(read_trigger_file(path), data)
    assert _leftovers(tmp_path) == []


def test_readable_with_numpy_alone(tmp_path: Path, data: TriggerData) -> None:
    path = tmp_path / "run.npz"
    write_trigger_file(path, data)
    with np.load(path) as archive:
        assert str(archive["format"]) == FORMAT
        offsets = archive["tarvo_offsets"]
        third = archive["tarvo_samples"][offsets[3] : offsets[4]]
        assert np.array_equal(third, data.waveform(3))
        assert archive["multipmt_triggers"]["adc_sample"].dtype == np.uint16


def test_without_truth_and_empty(tmp_path: Path, data: TriggerData) -> None:
    for i, original in enumerate([dataclasses.replace(data, truth=None), empty_trigger_data()]):
        path = tmp_path / f"run{i}.npz"
        write_trigger_file(path, original)
        _assert_same(read_trigger_file(path), original)


def _bad_offsets(offsets: np.ndarray) -> np.ndarray:
    bad = offsets.copy()
    bad[2], bad[3] = bad[3], bad[2]
    return bad


def _inf_baseline(rows: np.ndarray) -> np.ndarray:
    rows = rows.copy()
    rows["baseline"][7] = np.inf
    return rows


BREAKAGES = {
    "missing-key": (lambda a: a.pop("run_info"), "missing key 'run_info'"),
    "wrong-format": (lambda a: a.update(format=np.array("other/1")), "key 'format'"),
    "wrong-dtype": (
        lambda a: a.update(tarvo_samples=a["tarvo_samples"].astype(np.int32)),
        "key 'tarvo_samples' has dtype int32",
    ),
    "wrong-row-dtype": (
        lambda a: a.update(multipmt_triggers=np.zeros(3, dtype=[("time", "f8")])),
        "key 'multipmt_triggers' has dtype",
    ),
    "two-run-rows": (
        lambda a: a.update(run_info=np.concatenate([a["run_info"]] * 2)),
        "key 'run_info' has 2 rows",
    ),
    "offsets-length": (
        lambda a: a.update(tarvo_offsets=a["tarvo_offsets"][:-1]),
        "key 'tarvo_offsets' has length 300",
    ),
    "offsets-start": (
        lambda a: a.update(tarvo_offsets=a["tarvo_offsets"] + 1),
        "key 'tarvo_offsets' does not start at 0",
    ),
    "offsets-order": (
        lambda a: a.update(tarvo_offsets=_bad_offsets(a["tarvo_offsets"])),
        "not non-decreasing",
    ),
    "offsets-end": (
        lambda a: a.update(tarvo_samples=a["tarvo_samples"][:-1]),
        "'tarvo_samples' holds",
    ),
    "samples-past-end": (
        lambda a: a.update(tarvo_samples=np.append(a["tarvo_samples"], np.uint16(7))),
        "'tarvo_samples' holds",
    ),
    "2d-samples": (
        lambda a: a.update(tarvo_samples=a["tarvo_samples"].reshape(300, 64)),
        "key 'tarvo_samples' has 2 dimensions",
    ),
    "nan-baseline": (
        lambda a: a.update(tarvo_triggers=_inf_baseline(a["tarvo_triggers"])),
        "member 'tarvo_triggers.npy' row 7 has the baseline inf, not a finite number",
    ),
    "truth-incomplete": (lambda a: a.pop("truth_multipmt_time"), "missing 'truth_multipmt_time'"),
    "truth-length": (
        lambda a: a.update(truth_tarvo_npe=a["truth_tarvo_npe"][:10]),
        "key 'truth_tarvo_npe' has length 10",
    ),
    "baseline-rms-length": (
        lambda a: a.update(tarvo_baseline_rms=np.zeros(10, np.float32)),
        "key 'tarvo_baseline_rms' has length 10",
    ),
    "sample-period": (
        lambda a: a.update(sample_period_ns=np.array(0.0)),
        "key 'sample_period_ns' is 0.0, expected a period > 0",
    ),
}


@pytest.mark.parametrize("breakage", list(BREAKAGES), ids=list(BREAKAGES))
def test_invalid_content_is_refused(tmp_path: Path, data: TriggerData, breakage: str) -> None:
    change, message = BREAKAGES[breakage]
    arrays = _arrays(data)
    change(arrays)
    path = tmp_path / "broken.npz"
    np.savez(path, **arrays)
    for read in (read_trigger_file, _read_in_chunks):  # whole, and as a run reads it
        with pytest.raises(TriggerFileError, match="is not a valid trigger file") as info:
            read(path)
        assert str(path) in str(info.value)
        assert message in str(info.value)


def _read_in_chunks(path: Path, size: int = 7) -> None:
    with TriggerFileReader(path) as reader:
        assert reader.sample_period_ns > 0
        for lo in range(0, reader.n_tarvo, size):
            reader.tarvo_chunk(lo, min(lo + size, reader.n_tarvo))
        for lo in range(0, reader.n_multipmt, size):
            reader.multipmt_chunk(lo, min(lo + size, reader.n_multipmt))


def _npy(array: np.ndarray) -> bytes:
    stream = io.BytesIO()
    np.lib.format.write_array(stream, array)
    return stream.getvalue()


def _patch(raw: bytearray, name: str, local: int, central: int, value: int) -> None:
    """Set a 16-bit field of member ``name`` in its local header and its directory entry."""
    with zipfile.ZipFile(io.BytesIO(bytes(raw))) as archive:
        info = archive.getinfo(name)
        start = archive.start_dir
    raw[info.header_offset + local : info.header_offset + local + 2] = value.to_bytes(2, "little")
    entry = raw.index(b"PK\x01\x02", start)
    while raw[entry + 46 : entry + 46 + len(name)] != name.encode():
        entry = raw.index(b"PK\x01\x02", entry + 1)
    raw[entry + central : entry + central + 2] = value.to_bytes(2, "little")


def _damage_middle(raw: bytearray, name: str) -> None:
    with zipfile.ZipFile(io.BytesIO(bytes(raw))) as archive:
        info = archive.getinfo(name)
    middle = info.header_offset + 30 + len(name) + info.compress_size // 2
    raw[middle : middle + 64] = bytes(64)


_HUGE = _npy(np.zeros(3, np.uint16)).replace(b"(3,)", b"(1099511627776,)")


def _claiming(shape: tuple[int, ...], data: int = 8) -> bytes:
    stream = io.BytesIO()
    header = {"descr": "<f8", "fortran_order": False, "shape": shape}
    np.lib.format.write_array_header_1_0(stream, header)
    return stream.getvalue() + bytes(data)


# Each fault: (member it touches, what to do to the archive's bytes, message).
ARCHIVE_FAULTS = {
    "compression-method": (lambda raw: _patch(raw, "tarvo_samples.npy", 8, 10, 99), False),
    "encrypted": (lambda raw: _patch(raw, "tarvo_triggers.npy", 6, 8, 1), False),
    "damaged-deflate": (lambda raw: _damage_middle(raw, "tarvo_samples.npy"), True),
    "damaged-stored": (lambda raw: _damage_middle(raw, "tarvo_samples.npy"), False),
    "2-tib-shape": ({"tarvo_samples": _HUGE[:-6]}, False),
    "malformed-header": ({"tarvo_offsets": b"\x93NUMPY\x01\x00\x10\x00{'descr': '<i8'  \n"}, False),
    "header-not-literal": ({"tarvo_offsets": b"\x93NUMPY\x01\x00\x10\x00{'descr': x }  \n"}, False),
    "negative-shape": ({"truth_channel_gain": _claiming((-1, -1))}, False),
    "absurd-shape": ({"extra": _claiming((2**70, 0), data=0)}, False),
    "duplicate-member": ({"tarvo_samples.npy ": b""}, False),
}
ARCHIVE_MESSAGES = {
    "compression-method": "member 'tarvo_samples.npy' uses compression method 99",
    "encrypted": "member 'tarvo_triggers.npy' is encrypted",
    "damaged-deflate": "member 'tarvo_samples.npy' cannot be read",
    "damaged-stored": "member 'tarvo_samples.npy' is damaged: its CRC-32 does not match",
    "2-tib-shape": "member 'tarvo_samples.npy' has a header claiming shape (1099511627776,)",
    "malformed-header": "member 'tarvo_offsets.npy' has no readable NumPy array header",
    "header-not-literal": "array header: its text is not a literal of Python values",
    "negative-shape": "member 'truth_channel_gain.npy' has a header claiming shape (-1, -1)",
    "absurd-shape": "member 'extra.npy' has a header claiming shape (1180591620717411303424, 0)",
    "duplicate-member": "two members named 'tarvo_samples.npy'",
}


@pytest.mark.parametrize("fault", list(ARCHIVE_FAULTS))
def test_damaged_archive_is_refused(tmp_path: Path, data: TriggerData, fault: str) -> None:
    change, compress = ARCHIVE_FAULTS[fault]
    members = {key: _npy(value) for key, value in _arrays(data).items()}
    if isinstance(change, dict):
        members.update(change)
    buffer = io.BytesIO()
    method = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
    with zipfile.ZipFile(buffer, "w", method) as archive, warnings.catch_warnings():
        warnings.simplefilter("ignore")  # a duplicate name
        for key, payload in members.items():
            # A key ending in a space: a second member of that name, with the first's content.
            payload = payload or members[key.strip().removesuffix(".npy")]
            archive.writestr(key.strip() if key.endswith(" ") else f"{key}.npy", payload)
    raw = bytearray(buffer.getvalue())
    if callable(change):
        change(raw)
    path = tmp_path / "broken.npz"
    path.write_bytes(bytes(raw))
    # One error naming file and member; no allocation a claimed size alone would justify.
    with pytest.raises(TriggerFileError) as info:
        read_trigger_file(path)
    assert str(info.value).startswith(f"{path} is not a valid trigger file: ")
    assert ARCHIVE_MESSAGES[fault] in str(info.value)


@pytest.mark.parametrize(
    ("content", "message"),
    [
        (b"reco: {}\n", "not an .npz archive"),
        (b"PK\x03\x04 truncated", "cannot be read"),
        (b"", "not an .npz archive"),
    ],
    ids=["yaml", "broken-zip", "empty"],
)
def test_wrong_file_type(tmp_path: Path, content: bytes, message: str) -> None:
    path = tmp_path / "triggers.npz"
    path.write_bytes(content)
    with pytest.raises(TriggerFileError, match=message):
        read_trigger_file(path)


def test_npy_file_is_named_as_such(tmp_path: Path) -> None:
    path = tmp_path / "hits.npy"
    np.save(path, np.zeros(3))
    with pytest.raises(TriggerFileError, match=r"single NumPy array \(.npy\)"):
        read_trigger_file(path)


def test_missing_file(tmp_path: Path) -> None:
    with pytest.raises(FileNotFoundError):
        read_trigger_file(tmp_path / "nope.npz")


def test_invalid_data_is_not_written(tmp_path: Path, data: TriggerData) -> None:
    path = tmp_path / "run.npz"
    broken = dataclasses.replace(data, tarvo_offsets=data.tarvo_offsets[:-1])
    with pytest.raises(TriggerFileError):
        write_trigger_file(path, broken)
    assert list(tmp_path.iterdir()) == []


def test_failed_write_keeps_the_old_file(
    tmp_path: Path, data: TriggerData, monkeypatch: pytest.MonkeyPatch
) -> None:
    path = tmp_path / "run.npz"
    path.write_bytes(b"old")

    def fail(stream: object, **arrays: object) -> None:
        stream.write(b"partial")
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(np, "savez", fail)
    with pytest.raises(OSError, match="No space"):
        write_trigger_file(path, data)
    assert path.read_bytes() == b"old"
    assert _leftovers(tmp_path) == []


def _hits() -> np.ndarray:
    hits = np.zeros(4, dtype=HIT_DTYPE)
    hits["channel"] = [0, 7, -1, 2**31 - 1]
    hits["id"] = [0, 15731968 << 32 | 5 << 4, -(2**63), 2**63 - 1]
    hits["time"] = [0.1, 1e-300, np.nan, -np.inf]
    hits["charge"] = [1 / 3, -0.0, np.inf, 5e-324]
    hits["time_uncertainty"] = [5e-10, 0.0, np.inf, 1.0]
    hits["charge_uncertainty"] = [0.06, np.nan, 2.0, 3.0]
    return hits


HIT_FORMATS = ["npy", "csv", "parquet"]


@pytest.mark.parametrize("fmt", HIT_FORMATS)
@pytest.mark.parametrize("count", [4, 0], ids=["rows", "empty"])
def test_hit_file_round_trip(tmp_path: Path, fmt: str, count: int) -> None:
    if fmt == "parquet":
        pytest.importorskip("pyarrow")
    hits = _hits()[:count]
    path = tmp_path / f"hits.{fmt}"
    write_hit_file(path, hits)
    back = read_hit_file(path)
    assert back.dtype == HIT_DTYPE and len(back) == count
    for name in HIT_DTYPE.names:
        # Bit for bit, signed zeros and NaNs included.
        assert back[name].tobytes() == hits[name].tobytes(), name


def test_parquet_without_pyarrow(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    path = tmp_path / "hits.parquet"
    with pytest.raises(ImportError, match=r"pip install 'orvane\[parquet\]'"):
        write_hit_file(path, _hits())
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("name", ["hits.txt", "hits", "hits.npz"])
def test_hit_file_needs_a_known_suffix(tmp_path: Path, name: str) -> None:
    with pytest.raises(ValueError, match="must end in .npy, .csv, .parquet"):
        write_hit_file(tmp_path / name, _hits())
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("name", list(EXTENSION_DTYPES))
def test_row_types_match_the_extension(name: str) -> None:
    orvane = pytest.importorskip("orvane")
    if not hasattr(orvane, name):
        pytest.skip(f"this build of the extension has no {name}")
    assert np.dtype(getattr(orvane, name)) == EXTENSION_DTYPES[name]
