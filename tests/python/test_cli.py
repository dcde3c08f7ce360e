"""The ``orvane`` command through ``main(argv)``, and once as a process."""

from __future__ import annotations

import errno
import hashlib
import importlib.util
import io
import json
import os
import shutil
import signal
import subprocess
import sys
import zipfile
from pathlib import Path
from types import ModuleType
from typing import Callable

import numpy as np
import pytest

from orvane_tools import (
    HIT_DTYPE,
    cli,
    read_hit_file,
    read_trigger_file,
    write_hit_file,
    write_trigger_file,
)
from orvane_tools._atomic import PendingFile
from orvane_tools._errors import UserError, format_error
from orvane_tools._resources import example_settings
from orvane_tools.demo import run_demo
from orvane_tools.files import hitfile as hitfile_module
from orvane_tools.hitfile import PROVENANCE_KEY, HitFileWriter, read_hits_with_provenance
from orvane_tools.progress import ProgressBar


@pytest.fixture(scope="module")
def orvane() -> ModuleType:
    return pytest.importorskip("orvane")


@pytest.fixture(scope="module")
def triggers(tmp_path_factory: pytest.TempPathFactory) -> Path:
    path = tmp_path_factory.mktemp("run") / "run.npz"
    argv = ["simulate", "-o", str(path), "--tarvo", "300", "--multipmt", "200", "--seed", "9"]
    assert cli.main([*argv, "--quiet"]) == 0
    return path


def _outputs(directory: Path) -> list[str]:
    return sorted(p.name for p in directory.iterdir())


@pytest.mark.parametrize("quiet", [False, True], ids=["verbose", "quiet"])
def test_simulate(tmp_path: Path, capsys: pytest.CaptureFixture[str], quiet: bool) -> None:
    path = tmp_path / "sim.npz"
    argv = ["simulate", "-o", str(path), "--tarvo", "40", "--multipmt", "30", "--npe", "2"]
    assert cli.main(argv + (["-q"] if quiet else [])) == 0
    data = read_trigger_file(path)
    assert (data.n_tarvo, data.n_multipmt) == (40, 30)
    assert np.all(data.truth.tarvo_npe == 2)
    out = capsys.readouterr()
    assert out.err == ""
    assert out.out == (
        ""
        if quiet
        else f"wrote 40 waveform and 30 multi-PMT triggers (run 15731968, seed 1) to {path}\n"
    )


def test_help_and_usage(capsys: pytest.CaptureFixture[str]) -> None:
    assert cli.main(["--help"]) == 0
    assert "reconstruct" in capsys.readouterr().out
    assert cli.main(["reconstruct", "--help"]) == 0
    assert ".parquet" in capsys.readouterr().out
    assert cli.main([]) == 2
    assert cli.main(["reconstruct", "settings.yaml"]) == 2
    assert "required" in capsys.readouterr().err
    assert cli.main(["demo", "--triggers", "0"]) == 2


def _object_triggers(orvane: ModuleType, path: Path) -> list[object]:
    """The triggers of a file as objects, waveform triggers first."""
    data = read_trigger_file(path)
    objects: list[object] = []
    for i, row in enumerate(data.tarvo_triggers):
        t = orvane.TarvoTrigger()
        t.channel, t.trigger_time_s, t.trigger_time_ticks = (int(row[k]) for k in range(3))
        t.baseline, t.intsum = float(row["baseline"]), float(row["intsum"])
        t.waveform = data.waveform(i).tolist()
        objects.append(t)
    for row in data.multipmt_triggers:
        m = orvane.MultiPMTTrigger()
        m.time, m.channel = float(row["time"]), int(row["channel"])
        m.time_over_threshold, m.adc_sample = float(row[2]), int(row["adc_sample"])
        objects.append(m)
    return objects


@pytest.mark.parametrize(
    ("compress", "threads"),
    [(False, 1), (True, 1), (False, 3), (False, 0)],
    ids=["stored", "deflated", "stored-3-threads", "stored-every-core"],
)
def test_chunked_reconstruction_equals_one_library_call(
    orvane: ModuleType, triggers: Path, tmp_path: Path, compress: bool, threads: int
) -> None:
    out, source = tmp_path / "hits.npy", triggers
    if compress:  # deflated members are streamed front to back
        source = tmp_path / "deflated.npz"
        write_trigger_file(source, read_trigger_file(triggers), compress=True)
    argv = ["reconstruct", str(example_settings()), str(source), "-o", str(out)]
    assert cli.main([*argv, "--chunk-size", "37", "--threads", str(threads), "-q"]) == 0
    hits = read_hit_file(out)
    reco = orvane.ChargeReconstruction(str(example_settings()))
    expected = orvane.hit_list_to_numpy(reco.reconstruct(_object_triggers(orvane, triggers)))
    assert len(hits) == len(expected) > 400
    for name in expected.dtype.names:
        assert np.array_equal(hits[name], expected[name]), name
    positions = (hits["id"] >> 4) & 0x0FFFFFFF
    assert positions.max() >= 300  # multi-PMT triggers stand after the 300 waveform triggers


@pytest.mark.parametrize("fmt", ["csv", "parquet"])
def test_formats_hold_the_same_hits(
    orvane: ModuleType,
    triggers: Path,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    fmt: str,
) -> None:
    if fmt == "parquet":
        pytest.importorskip("pyarrow")
    settings = str(example_settings())
    assert cli.main(["reconstruct", settings, str(triggers), "-o", str(tmp_path / "a.npy")]) == 0
    other = tmp_path / f"a.{fmt}"
    capsys.readouterr()
    assert cli.main(["reconstruct", settings, str(triggers), "-o", str(other), "-q"]) == 0
    assert capsys.readouterr() == ("", "")
    reference = read_hit_file(tmp_path / "a.npy")
    back = read_hit_file(other)
    for name in reference.dtype.names:
        assert np.array_equal(back[name], reference[name]), name


@pytest.mark.parametrize("fmt", ["npy", "csv", "parquet"])
def test_outputs_are_determined_and_carry_provenance(
    orvane: ModuleType, triggers: Path, tmp_path: Path, fmt: str, monkeypatch: pytest.MonkeyPatch
) -> None:
    if fmt == "parquet":
        pytest.importorskip("pyarrow")
    settings = example_settings()
    outputs = []
    # Each run reads its settings once, the channel table once for both settings naming it,
    # and never by path again.
    loads: list[object] = []

    class Once(orvane.LoadedSettings):
        def __init__(self, path: object) -> None:
            super().__init__(path)
            loads.append(self)

    def by_path(*args: object) -> None:
        raise AssertionError("settings read again by path")

    monkeypatch.setattr(orvane, "LoadedSettings", Once)
    for name in ("check_settings", "summarize_settings"):
        monkeypatch.setattr(orvane, name, by_path)
    # Parquet row groups follow the chunk size: the same one in both runs.
    for i, chunk in enumerate(("37", "65536") if fmt != "parquet" else ("300", "300")):
        out = tmp_path / str(i) / f"hits.{fmt}"
        out.parent.mkdir()
        argv = ["reconstruct", str(settings), str(triggers), "-o", str(out), "-q"]
        assert cli.main([*argv, "--chunk-size", chunk]) == 0
        outputs.append(out)
    assert [len(loaded.tables) for loaded in loads] == [2, 2]
    (hits, first), (again, second) = map(read_hits_with_provenance, outputs)
    assert hits.tobytes() == again.tobytes()
    volatile = ("time", "host", "command_line")
    assert {k: v for k, v in first.items() if k not in volatile} == {
        k: v for k, v in second.items() if k not in volatile
    }
    if fmt != "parquet":  # every byte, the padding of .npy rows included
        assert outputs[0].read_bytes() == outputs[1].read_bytes()
    else:  # every byte before the footer, which holds the provenance
        footer = [int.from_bytes(p.read_bytes()[-8:-4], "little") + 8 for p in outputs]
        assert outputs[0].read_bytes()[: -footer[0]] == outputs[1].read_bytes()[: -footer[1]]
    if fmt == "npy":
        rows = np.frombuffer(outputs[0].read_bytes()[-48 * len(hits) :], np.uint8)
        assert not rows.reshape(-1, 48)[:, 4:8].any()
    lut = settings.with_name("multipmt_charge_lut.txt")
    assert first["orvane_version"] == orvane.__version__
    assert first["settings"]["text"] == settings.read_text()
    assert first["settings"]["sha256"] == hashlib.sha256(settings.read_bytes()).hexdigest()
    channels = hashlib.sha256(settings.with_name("channels.csv").read_bytes()).hexdigest()
    assert [(t["key"], t["sha256"]) for t in first["tables"]] == [
        ("extractors.channels.table", channels),
        ("reco.charge_from_integral.table", channels),
        ("reco.charge_from_adc.lut_file", hashlib.sha256(lut.read_bytes()).hexdigest()),
    ]
    assert first["inputs"] == [
        {"path": str(triggers), "sha256": hashlib.sha256(triggers.read_bytes()).hexdigest()}
    ]
    assert first["run_info"]["run_number"] == 15731968 and first["hits"] == len(hits)
    if fmt == "parquet":  # also where pyarrow and pandas users look; the settings text in it
        # rebuilds the same reconstruction
        schema = pytest.importorskip("pyarrow.parquet").read_table(outputs[0]).schema
        assert json.loads(schema.metadata[PROVENANCE_KEY.encode()]) == first
        rebuilt = tmp_path / "rebuilt" / "settings.yaml"
        rebuilt.parent.mkdir()
        rebuilt.write_text(first["settings"]["text"])
        for table in (lut, settings.with_name("channels.csv")):
            shutil.copy(table, rebuilt.parent)
        out = tmp_path / "rebuilt" / "hits.npy"
        assert cli.main(["reconstruct", str(rebuilt), str(triggers), "-o", str(out), "-q"]) == 0
        assert read_hit_file(out).tobytes() == hits.tobytes()


def test_empty_run(orvane: ModuleType, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    run, hits = tmp_path / "empty.npz", tmp_path / "hits.csv"
    assert cli.main(["simulate", "-o", str(run), "--tarvo", "0", "--multipmt", "0", "-q"]) == 0
    assert cli.main(["reconstruct", str(example_settings()), str(run), "-o", str(hits)]) == 0
    assert capsys.readouterr().out.startswith(f"wrote 0 hits from 0 triggers to {hits}")
    assert hits.read_text() == "channel,id,time,charge,time_uncertainty,charge_uncertainty\n"


def _write_bad_key_settings(tmp_path: Path) -> Path:
    text = example_settings().read_text().replace("    slope: 1.0", "    slop: 1.0", 1)
    path = tmp_path / "settings.yaml"
    path.write_text(text)
    for table in ("multipmt_charge_lut.txt", "channels.csv"):
        shutil.copy(example_settings().with_name(table), tmp_path)
    return path


def _write_short_waveform(tmp_path: Path, triggers: Path) -> Path:
    with np.load(triggers) as archive:
        arrays = dict(archive)
    arrays["tarvo_offsets"] = arrays["tarvo_offsets"].copy()
    arrays["tarvo_offsets"][1] = 2  # the first waveform has 2 samples, the second the rest
    path = tmp_path / "short.npz"
    np.savez(path, **arrays)
    return path


def _write_missing_key(tmp_path: Path, triggers: Path) -> Path:
    with np.load(triggers) as archive:
        arrays = {k: archive[k] for k in archive.files if k != "multipmt_triggers"}
    path = tmp_path / "incomplete.npz"
    np.savez(path, **arrays)
    return path


def _write_swapped_offsets(tmp_path: Path, triggers: Path) -> Path:
    with np.load(triggers) as archive:
        arrays = dict(archive)
    offsets = arrays["tarvo_offsets"]
    offsets[200], offsets[201] = offsets[201], offsets[200]
    path = tmp_path / "swapped.npz"
    np.savez(path, **arrays)
    return path


def _write_nan_baseline(tmp_path: Path, triggers: Path) -> Path:
    with np.load(triggers) as archive:
        arrays = dict(archive)
    arrays["tarvo_triggers"]["baseline"][250] = np.nan
    path = tmp_path / "nan.npz"
    np.savez(path, **arrays)
    return path


def _write_damaged(tmp_path: Path, triggers: Path) -> Path:
    raw = bytearray(triggers.read_bytes())
    with zipfile.ZipFile(triggers) as archive:
        info = archive.getinfo("tarvo_samples.npy")
    raw[info.header_offset + 30 + len(info.filename) + info.file_size // 2] ^= 0x40
    path = tmp_path / "damaged.npz"
    path.write_bytes(bytes(raw))
    return path


def _write_run_number(tmp_path: Path, triggers: Path, run_number: int) -> Path:
    data = read_trigger_file(triggers)
    data.run_info["run_number"] = run_number
    path = tmp_path / "run.npz"
    write_trigger_file(path, data)
    return path


# Each case: (arguments made from tmp_path and a good trigger file, hit file name, messages).
Case = Callable[[Path, Path], list[str]]
SETTINGS = "{settings}"
USER_ERRORS: dict[str, tuple[Case, str, list[str]]] = {
    "missing-triggers": (
        lambda d, t: [SETTINGS, str(d / "nope.npz")],
        "hits.npy",
        ["cannot read the trigger file", "No such file or directory"],
    ),
    "missing-settings": (
        lambda d, t: [str(d / "nope.yaml"), str(t)],
        "hits.npy",
        ["cannot read the settings file", "no such file"],
    ),
    "settings-device": (
        lambda d, t: ["/dev/zero", str(t)],
        "hits.npy",
        ["cannot read the settings file /dev/zero: not a regular file"],
    ),
    "bad-settings-key": (
        lambda d, t: [str(_write_bad_key_settings(d)), str(t)],
        "hits.npy",
        [
            "has a problem",
            'reco.time_from_rising_edge.slop: expected a key of LinearReco, found "slop"',
            'did you mean "slope"?',
        ],
    ),
    "settings-as-triggers": (
        lambda d, t: [SETTINGS, SETTINGS],
        "hits.npy",
        ["is not a valid trigger file: it is not an .npz archive"],
    ),
    "arguments-swapped": (
        lambda d, t: [str(t), SETTINGS],
        "hits.npy",
        ["is a NumPy file, not a settings file"],
    ),
    "missing-key": (
        lambda d, t: [SETTINGS, str(_write_missing_key(d, t))],
        "hits.npy",
        ["missing key 'multipmt_triggers'"],
    ),
    "unknown-hit-format": (
        lambda d, t: [SETTINGS, str(t)],
        "hits.txt",
        ["cannot write the hit file", "must end in .npy, .csv, .parquet"],
    ),
    "missing-output-directory": (
        lambda d, t: [SETTINGS, str(t)],
        "no/such/dir/hits.npy",
        ["cannot write the hit file", "No such directory"],
    ),
    "run-number-beyond-32-bits": (
        lambda d, t: [SETTINGS, str(_write_run_number(d, t, 2**32))],
        "hits.npy",
        ["the run number 4294967296 of", "does not fit the 32 bits"],
    ),
    "offsets-out-of-order": (  # checked chunk by chunk as the file streams
        lambda d, t: [SETTINGS, str(_write_swapped_offsets(d, t))],
        "hits.npy",
        ["swapped.npz is not a valid trigger file: key 'tarvo_offsets' is not non-decreasing"],
    ),
    "nan-baseline": (  # the pulse finder would find nothing, the single-pulse extractor NaN
        lambda d, t: [SETTINGS, str(_write_nan_baseline(d, t)), "--chunk-size", "100"],
        "hits.npy",
        ["nan.npz is not a valid trigger file: member 'tarvo_triggers.npy' row 250 has the "],
    ),
    "damaged-stored-member": (  # read at any row, checked by the pass that hashes the file
        lambda d, t: [SETTINGS, str(_write_damaged(d, t))],
        "hits.npy",
        ["damaged.npz is not a valid trigger file", "'tarvo_samples.npy' is damaged: its CRC-32"],
    ),
    "library-refuses-data": (
        lambda d, t: [SETTINGS, str(_write_short_waveform(d, t))],
        "hits.csv",
        ["cannot be reconstructed", "at least 3 samples"],
    ),
}


@pytest.mark.parametrize("case", list(USER_ERRORS), ids=list(USER_ERRORS))
def test_user_errors(
    orvane: ModuleType,
    triggers: Path,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    case: str,
) -> None:
    make_args, output, messages = USER_ERRORS[case]
    settings = str(example_settings())
    args = [a.replace(SETTINGS, settings) for a in make_args(tmp_path, triggers)]
    out = tmp_path / output
    if out.parent.is_dir():  # a previous hit file, which --overwrite would replace on success
        write_hit_file(out, np.zeros(2, HIT_DTYPE)) if out.suffix != ".txt" else out.touch()
    previous = out.read_bytes() if out.exists() else None
    before = _outputs(tmp_path)
    assert cli.main(["reconstruct", *args, "-o", str(out), "--overwrite"]) == 1
    captured = capsys.readouterr()
    assert captured.out == ""
    assert "Traceback" not in captured.err
    assert "\n\n" not in captured.err.strip()  # one paragraph
    message = " ".join(captured.err.split())
    assert message.startswith("orvane reconstruct: error: ")
    for expected in messages:
        assert expected in message
    assert _outputs(tmp_path) == before  # no temporary file left, nothing new
    if previous is not None:
        assert out.read_bytes() == previous


def _copy(source: Path, target: Path) -> Path:
    shutil.copy(source, target)
    return target


def _link(source: Path, target: Path) -> Path:
    os.link(source, target)
    return target


def _settings_copy(folder: Path, settings: Path) -> Path:
    for table in ("multipmt_charge_lut.txt", "channels.csv"):
        _copy(settings.with_name(table), folder / table)
    return _copy(settings, folder / "s.csv")


# Each case: (command line made from a folder, a trigger file and the settings; the file that
# must stay as it is; message).  Every case runs with --overwrite except the first.
Refusal = Callable[[Path, Path, Path], tuple[list[str], Path]]
REFUSALS: dict[str, tuple[Refusal, str]] = {
    "existing-output": (
        lambda d, t, s: (
            ["reconstruct", str(s), str(t), "-o", str(_hits(d / "h.csv"))],
            d / "h.csv",
        ),
        "h.csv exists; pass --overwrite to replace it",
    ),
    "output-is-input": (
        lambda d, t, s: (
            ["reconstruct", str(s), str(_copy(t, d / "t.npy")), "-o", str(d / "t.npy")],
            d / "t.npy",
        ),
        "it is the input",
    ),
    "output-is-a-link-to-input": (
        lambda d, t, s: (
            [
                "reconstruct",
                str(s),
                str(_copy(t, d / "t.npz")),
                "-o",
                str(_link(d / "t.npz", d / "h.npy")),
            ],
            d / "h.npy",
        ),
        "it is the input",
    ),
    "output-is-the-settings": (
        lambda d, t, s: (
            ["reconstruct", str(_settings_copy(d, s)), str(t), "-o", str(d / "s.csv")],
            d / "s.csv",
        ),
        "it is the input",
    ),
    "output-is-a-link-to-the-lut": (
        lambda d, t, s: (
            [
                "reconstruct",
                str(_settings_copy(d, s)),
                str(t),
                "-o",
                str(_link(d / "multipmt_charge_lut.txt", d / "l.csv")),
            ],
            d / "l.csv",
        ),
        "it is the input",
    ),
    "output-is-yaml": (
        lambda d, t, s: (
            ["reconstruct", str(s), str(t), "-o", str(_copy(s, d / "h.csv"))],
            d / "h.csv",
        ),
        "it is not a .csv hit file",
    ),
    "output-is-another-array": (
        lambda d, t, s: (
            ["reconstruct", str(s), str(t), "-o", str(_array(d / "h.npy"))],
            d / "h.npy",
        ),
        "it is not a .npy hit file",
    ),
    "simulate-over-settings": (
        lambda d, t, s: (["simulate", "-o", str(_copy(s, d / "s.yaml"))], d / "s.yaml"),
        "it is not a trigger file",
    ),
}


def _hits(path: Path) -> Path:
    write_hit_file(path, np.zeros(1, HIT_DTYPE))
    return path


def _array(path: Path) -> Path:
    np.save(path, np.zeros(3))
    return path


@pytest.mark.parametrize("case", list(REFUSALS))
def test_refuses_to_write_over(
    orvane: ModuleType,
    triggers: Path,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    case: str,
) -> None:
    make, message = REFUSALS[case]
    argv, kept = make(tmp_path, triggers, example_settings())
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    flags = [] if case == "existing-output" else ["--overwrite"]
    assert cli.main([*argv, *flags]) == 1
    assert message in " ".join(capsys.readouterr().err.split())
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before
    assert kept.name in before
    if case == "existing-output":  # a hit file of the same format is replaced when asked
        assert cli.main([*argv, "--overwrite", "-q"]) == 0
        assert len(read_hit_file(kept)) > 400


def test_parquet_without_pyarrow(
    orvane: ModuleType,
    triggers: Path,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    monkeypatch: pytest.MonkeyPatch,
) -> None:
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    out = tmp_path / "hits.parquet"
    assert cli.main(["reconstruct", str(example_settings()), str(triggers), "-o", str(out)]) == 1
    assert "pip install 'orvane[parquet]'" in " ".join(capsys.readouterr().err.split())
    assert _outputs(tmp_path) == []


def _raise(exc: type[BaseException]) -> Callable[[], None]:
    def stop() -> None:
        raise exc

    return stop


class _FullDisk(io.FileIO):
    """A file on a disk that fills up: writes past 20 kB fail."""

    def write(self, data: bytes) -> int:  # type: ignore[override]
        if self.tell() + len(data) > 20_000:
            raise OSError(errno.ENOSPC, "No space left on device")
        return super().write(data)


def _disk_full(monkeypatch: pytest.MonkeyPatch) -> None:
    # Buffered like any file: closing a discarded output fails once more on the buffered rows.
    def full(path: Path, mode: str = "r", **kwargs: object) -> io.IOBase:
        if mode != "wb":
            return open(path, mode, **kwargs)
        return io.BufferedWriter(_FullDisk(path, mode))

    monkeypatch.setattr(hitfile_module, "open", full, raising=False)


@pytest.mark.parametrize(
    ("stop", "status", "message"),
    [
        (_raise(KeyboardInterrupt), 130, "orvane reconstruct: interrupted\n"),
        (lambda: os.kill(os.getpid(), signal.SIGTERM), 143, "orvane reconstruct: terminated\n"),
        # The reader of a pipe went away (| head -1): quiet, as after SIGPIPE.
        (_raise(BrokenPipeError), 141, ""),
    ],
    ids=["ctrl-c", "sigterm", "closed-pipe"],
)
def test_interrupt_leaves_nothing(
    orvane: ModuleType,
    triggers: Path,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    monkeypatch: pytest.MonkeyPatch,
    stop: Callable[[], None],
    status: int,
    message: str,
) -> None:
    # Stopped in the second input's chunks, after the first input's output is in place.
    calls = []
    append = HitFileWriter.append

    def stopping(self: HitFileWriter, hits: np.ndarray) -> None:
        calls.append(1)
        if len(calls) == 8:
            stop()
        append(self, hits)

    monkeypatch.setattr(HitFileWriter, "append", stopping)
    second = tmp_path / "second.npz"
    shutil.copy(triggers, second)
    out = tmp_path / "out"
    argv = ["reconstruct", str(example_settings()), str(triggers), str(second), "-o", str(out)]
    argv += ["--format", "npy", "--chunk-size", "100"]
    assert cli.main(argv) == status
    assert capsys.readouterr().err == message
    assert signal.getsignal(signal.SIGTERM) is signal.SIG_DFL
    # The first input's hit file was finished before the stop and stays; no partial one does.
    assert (_outputs(tmp_path), _outputs(out)) == (
        ["out", "second.npz"],
        ["run.npy", "run.npy.json"],
    )
    first = (out / "run.npy").read_bytes()
    (out / "run.npy").write_bytes(first[:-1] + bytes([first[-1] ^ 1]))
    assert cli.main([*argv, "--resume", "-q"]) == 1  # its sidecar no longer proves it
    (out / "run.npy").write_bytes(first)
    mtime = (out / "run.npy").stat().st_mtime_ns
    assert cli.main([*argv, "--resume"]) == 0
    assert capsys.readouterr().out.startswith("kept 1 hit file already complete (--resume)\n")
    assert (out / "run.npy").stat().st_mtime_ns == mtime
    assert (out / "second.npy").read_bytes() == first  # a copy of the first input
    (out / "second.npy").unlink()  # as a stop between its sidecar's commit and its own leaves it
    assert cli.main([*argv, "--resume", "-q"]) == 0
    assert (out / "second.npy").read_bytes() == first


def test_full_disk_leaves_nothing(
    orvane: ModuleType,
    triggers: Path,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    monkeypatch: pytest.MonkeyPatch,
) -> None:
    _disk_full(monkeypatch)
    second = tmp_path / "second.npz"
    shutil.copy(triggers, second)
    out = tmp_path / "out"
    argv = ["reconstruct", str(example_settings()), str(triggers), str(second), "-o", str(out)]
    assert cli.main([*argv, "--format", "npy", "--chunk-size", "100"]) == 1
    assert "No space left on device" in capsys.readouterr().err
    assert _outputs(tmp_path) == ["second.npz"]


def test_removes_what_a_killed_run_left(orvane: ModuleType, triggers: Path, tmp_path: Path) -> None:
    out = tmp_path / "h.csv"
    killed = [".h.csv.orvane-k1ll3d_0.part", ".h.csv.json.orvane-abcdefgh.part"]
    killed += [
        ".h.csv.orvane-spool-k1ll3d_0-3",
        "..h.csv.orvane-spool-k1ll3d_0-4.orvane-x_y_z_12.part",
    ]
    # Another output's, and names of the user's own that merely look alike.
    kept = [".h.csv.x.orvane-abcdefgh.part", ".h.csv.orvane-abcdefgh.part.bak"]
    kept += [".h.csv.orvane-spool-abcdefgh-3.txt", "h.csv.orvane-abcdefgh.part"]
    for name in killed + kept:
        (tmp_path / name).write_text("x")
    live = PendingFile(out)  # a writer still at work keeps its file
    argv = ["reconstruct", str(example_settings()), str(triggers), "-o", str(out)]
    assert cli.main([*argv, "--quiet", "--format", "csv"]) == 0
    expected = ["h.csv", "h.csv.json", live.tmp.name, *kept]
    assert _outputs(tmp_path) == sorted(expected)
    live.discard()


@pytest.mark.parametrize("where", ["before", "after"])
def test_debug_shows_the_traceback(
    tmp_path: Path, capsys: pytest.CaptureFixture[str], where: str
) -> None:
    args = ["simulate", "-o", str(tmp_path / "x" / "run.npz")]
    argv = ["--debug", *args] if where == "before" else [*args, "--debug"]
    assert cli.main(argv) == 1
    err = capsys.readouterr().err
    assert "Traceback (most recent call last)" in err
    assert " ".join(err.split()).endswith("No such directory: " + str(tmp_path / "x"))


def test_simulate_user_error(capsys: pytest.CaptureFixture[str], tmp_path: Path) -> None:
    assert cli.main(["simulate", "-o", str(tmp_path / "a.npz"), "--npe", "0"]) == 1
    err = " ".join(capsys.readouterr().err.split())
    assert err.startswith("orvane simulate: error: cannot simulate: a fixed count of 0")
    assert _outputs(tmp_path) == []


def test_error_message_walks_the_cause_chain() -> None:
    try:
        try:
            try:
                open("/nonexistent/settings.yaml")  # noqa: SIM115
            except OSError as exc:
                raise RuntimeError("Failed to load yaml file /nonexistent/settings.yaml") from exc
        except RuntimeError as exc:
            raise UserError("the settings file settings.yaml cannot be used") from exc
    except UserError as exc:
        message = format_error(exc, prog="orvane x", width=1000)
    assert message == (
        "orvane x: error: the settings file settings.yaml cannot be used: Failed to load yaml "
        "file /nonexistent/settings.yaml: No such file or directory: /nonexistent/settings.yaml"
    )


def test_demo_summary(
    orvane: ModuleType, tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    assert cli.main(["demo", "--triggers", "2000", "--no-plot", "--no-report", "--seed", "3"]) == 0
    out = capsys.readouterr().out
    assert out.startswith("orvane demo: 2000 simulated triggers (seed 3)")
    for row in ("triggers", "hits", "throughput", "charge bias at 1 PE", "time resolution"):
        assert row in out
    # The reason the demo fits no calibration: too few triggers, or no iminuit.
    fits = importlib.util.find_spec("iminuit") is not None
    assert ("no channel has the 1000" if fits else "it needs iminuit") in out
    assert cli.main(["demo", "--triggers", "2000", "--no-plot", "--no-report", "-q"]) == 0
    assert capsys.readouterr().out == ""


def test_demo_plot(orvane: ModuleType, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    pytest.importorskip("matplotlib")
    plot = tmp_path / "spectrum.png"
    assert cli.main(["demo", "--triggers", "2000", "--no-report", "--plot", str(plot)]) == 0
    assert f"charge spectrum written to {plot}" in capsys.readouterr().out
    assert plot.read_bytes().startswith(b"\x89PNG")
    assert _outputs(tmp_path) == ["spectrum.png"]
    # An earlier plot is replaced; a file of another kind is not.
    other = tmp_path / "run.npz"
    other.write_bytes(b"PK\x03\x04")
    assert cli.main(["demo", "--triggers", "200", "--no-report", "--plot", str(other)]) == 1
    assert other.read_bytes() == b"PK\x03\x04"


def test_demo_without_matplotlib(
    orvane: ModuleType,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    monkeypatch: pytest.MonkeyPatch,
) -> None:
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    plot = tmp_path / "spectrum.png"
    assert cli.main(["demo", "--triggers", "200", "--no-report", "--plot", str(plot)]) == 0
    assert "matplotlib is not installed" in capsys.readouterr().out
    assert _outputs(tmp_path) == []


def test_example_settings_are_calibrated_to_the_simulator(orvane: ModuleType) -> None:
    summary = run_demo(triggers=40_000, seed=5, plot=None, quiet=True)
    for name, kind in summary.kinds.items():
        assert kind.hits > 0.8 * kind.triggers, name
        assert abs(kind.mean_charge_bias) < 0.02, name
        assert abs(kind.charge_bias_1pe) < 0.01, name
        assert kind.charge_resolution_1pe < 0.1, name
        assert abs(kind.time_bias) < 0.1e-9, name
        assert kind.time_resolution < 1.2e-9, name


class _Terminal(io.StringIO):
    def isatty(self) -> bool:
        return True


@pytest.mark.parametrize("stream_type", [_Terminal, io.StringIO], ids=["terminal", "pipe"])
def test_progress_bar(stream_type: type[io.StringIO]) -> None:
    stream = stream_type()
    with ProgressBar(10, "work", stream=stream) as bar:
        bar.update(4)
        bar.update(6)
    text = stream.getvalue()
    if stream_type is io.StringIO:
        assert text == ""
    else:
        last = text.rstrip("\n").split("\r")[-1]
        assert last.startswith("work: 100%") and "10/10" in last and text.endswith("\n")


def test_as_a_process(tmp_path: Path) -> None:
    run = subprocess.run(
        [sys.executable, "-m", "orvane_tools", "reconstruct", "s.yaml", "t.npz", "-o", "h.npy"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        check=False,
    )
    assert run.returncode == 1
    assert run.stdout == ""
    assert run.stderr.startswith("orvane reconstruct: error: ")
    assert "Traceback" not in run.stderr
    assert _outputs(tmp_path) == []


def test_console_script() -> None:
    script = Path(sys.executable).with_name("orvane")
    if not script.exists():
        pytest.skip("the package is not installed with its console script here")
    run = subprocess.run([str(script), "--version"], capture_output=True, text=True, check=False)
    assert run.returncode == 0
    assert run.stdout.startswith("orvane ")


def test_provenance_finds_every_table(orvane: ModuleType, tmp_path: Path) -> None:
    from orvane_tools.provenance import settings_tables

    settings = tmp_path / "conf" / "settings.yaml"
    settings.parent.mkdir()
    settings.write_text(
        "extractors: {channels: {table: channels.csv}}\n"
        "reco:\n"
        "  a: {class: LUTReco, lut_file: luts/a.txt}\n"
        "  b: {class: LinearReco, feature: adc_sample}\n"
        "  c: {class: ChannelLinearReco, table: ../shared/gains.csv}\n"
    )
    assert settings_tables(settings) == [
        ("extractors.channels.table", tmp_path / "conf" / "channels.csv"),
        ("reco.a.lut_file", tmp_path / "conf" / "luts" / "a.txt"),
        ("reco.c.table", tmp_path / "shared" / "gains.csv"),
    ]
