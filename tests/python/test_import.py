"""``orvane import``: digitizer files into trigger files, and the first-samples baseline."""

from __future__ import annotations

import hashlib
import struct
from collections.abc import Callable
from pathlib import Path

import numpy as np
import pytest

from orvane_tools import cli, read_hits_with_provenance, read_trigger_file
from orvane_tools.files.baseline import first_samples_baseline, window_baseline
from orvane_tools.files.importers import ImportOptions, import_files

# The binary dump: per event six little-endian uint32 words (size in bytes with the header,
# board id, pattern, channel, event counter, trigger time tag in 8 ns counts, 31 bits), then
# the samples as little-endian uint16.
HEADER = struct.Struct("<6I")


def dump_event(channel: int, counter: int, tag: int, samples: list[int]) -> bytes:
    body = np.asarray(samples, dtype="<u2").tobytes()
    return HEADER.pack(HEADER.size + len(body), 3, 0, channel, counter, tag) + body


def ascii_event(channel: int, counter: int, tag: int, samples: list[int]) -> str:
    head = (
        f"Record Length: {len(samples)}\nBoardID: 3\nChannel: {channel}\n"
        f"Event Number: {counter}\nPattern: 0x0000\nTrigger Time Stamp: {tag}\n"
        "DC offset (DAC): 0x1999\n"
    )
    return head + "".join(f"{s}\n" for s in samples)


def pulse(at: int, height: int, n: int = 24, base: int = 100) -> list[int]:
    w = [base + (i % 3) for i in range(n)]  # a little structure in the baseline
    for k, h in enumerate((height // 2, height, height // 2, height // 4)):
        w[at + k] += h
    return w


# Two channel files of one run; channel 1's time tag rolls over (2^31 counts) between its two
# events, so after unwrapping its second event comes last.
CHANNEL0 = [(0, 0, 1000, pulse(8, 400)), (0, 1, 2**31 - 500, pulse(10, 200))]
CHANNEL1 = [(1, 0, 2**31 - 600, pulse(9, 300)), (1, 1, 50, pulse(12, 100))]
# Time order after the merge: (file, event) and time in ns.
MERGED = [(CHANNEL0, 0, 8000), (CHANNEL1, 0, (2**31 - 600) * 8), (CHANNEL0, 1, (2**31 - 500) * 8)]
MERGED.append((CHANNEL1, 1, (2**31 + 50) * 8))


def write_run(directory: Path, fmt: str) -> list[Path]:
    paths = []
    for channel, events in enumerate((CHANNEL0, CHANNEL1)):
        if fmt == "dump":
            path = directory / f"wave{channel}.dat"
            path.write_bytes(b"".join(dump_event(*e) for e in events))
        else:
            path = directory / f"wave{channel}.txt"
            path.write_text("".join(ascii_event(*e) for e in events))
        paths.append(path)
    return paths


@pytest.mark.parametrize("fmt", ["dump", "ascii"])
def test_import_and_reconstruct_like_hand_built_triggers(
    tmp_path: Path, fmt: str, capsys: pytest.CaptureFixture[str]
) -> None:
    orvane = pytest.importorskip("orvane")
    inputs = write_run(tmp_path, fmt)
    out = tmp_path / "run.npz"
    assert cli.main(["import", fmt, *map(str, inputs), "-o", str(out), "--run-number", "7"]) == 0
    assert "read 4 events (24 samples each" in capsys.readouterr().out
    data = read_trigger_file(out)
    assert data.run_info["run_number"][0] == 7

    hand = []
    for i, (events, k, time_ns) in enumerate(MERGED):
        channel, _, _, samples = events[k]
        t = orvane.TarvoTrigger()
        t.channel = channel
        t.trigger_time_s, rest = divmod(time_ns, 10**9)
        t.trigger_time_ticks = rest // 4
        t.baseline = float(np.median(samples[:16]))
        t.waveform = samples
        hand.append(t)
        np.testing.assert_array_equal(data.waveform(i), samples)
        rms = np.sqrt(np.mean((np.array(samples[:16]) - t.baseline) ** 2))
        assert data.tarvo_baseline_rms[i] == np.float32(rms)
    row_fields = ["channel", "trigger_time_s", "trigger_time_ticks", "baseline"]
    expected = [tuple(getattr(t, f) for f in row_fields) for t in hand]
    assert data.tarvo_triggers[row_fields].tolist() == expected

    settings = Path(__file__).resolve().parents[2] / "examples" / "settings.yaml"
    reco = orvane.ChargeReconstruction(str(settings))
    run = orvane.RunInfo()
    run.run_number = 7
    want = orvane.hit_list_to_numpy(reco.reconstruct(hand, run))
    assert cli.main(["reconstruct", str(settings), str(out), "-o", str(tmp_path / "h.npy")]) == 0
    got = np.load(tmp_path / "h.npy")
    assert len(want) == 4
    assert got.tolist() == want.tolist()


@pytest.mark.parametrize(
    ("files", "clock_ns", "expected"),
    [
        # Two events of one time tag: no rollover between them.
        ([[(0, 0, 500), (0, 1, 500)]], 8.0, [(0, 0, 1000), (0, 0, 1000)]),
        # Equal times in several files keep the order of the files.
        ([[(2, 0, 500)], [(1, 0, 500)]], 8.0, [(2, 0, 1000), (1, 0, 1000)]),
        # A clock of 7 ns: 7 ns is nearest 4 ns tick 2 and 14 ns tick 4 (rounded, not floored).
        ([[(0, 0, 1), (0, 1, 2)]], 7.0, [(0, 0, 2), (0, 0, 4)]),
    ],
    ids=["equal-tags", "equal-times-across-files", "7-ns-clock"],
)
def test_event_times(tmp_path: Path, files, clock_ns: float, expected) -> None:
    paths = []
    for i, events in enumerate(files):
        paths.append(tmp_path / f"wave{i}.dat")
        paths[-1].write_bytes(b"".join(dump_event(c, k, tag, [100] * 8) for c, k, tag in events))
    import_files("dump", paths, tmp_path / "run.npz", ImportOptions(clock_ns=clock_ns))
    rows = read_trigger_file(tmp_path / "run.npz").tarvo_triggers
    assert rows[["channel", "trigger_time_s", "trigger_time_ticks"]].tolist() == expected


GOOD = dump_event(0, 0, 10, [100] * 8)
TEXT = ascii_event(0, 1, 50, [1, 2, 3])


def root_file(**branches: np.ndarray) -> Callable[[Path], None]:
    """A writer of a tree 'events' of two 8-sample waveforms and the given branches."""

    def write(path: Path) -> None:
        uproot = pytest.importorskip("uproot")
        with uproot.recreate(path) as file:
            file["events"] = {"samples": np.full((2, 8), 100, np.uint16), **branches}

    return write


@pytest.mark.parametrize(
    ("fmt", "content", "argv", "good", "where", "problem"),
    [
        ("dump", GOOD * 2 + GOOD[:30], [], 2, "event 2 at byte 80", "truncated event"),
        (
            "dump",
            GOOD + struct.pack("<I", 44) + GOOD[4:] + GOOD,
            [],
            2,
            "event 1 at byte 40",
            "size word 44 disagrees",
        ),
        ("dump", GOOD + GOOD[:10], [], 1, "event 1 at byte 40", "truncated event: 10 bytes left"),
        (
            "dump",
            GOOD + dump_event(0, 1, 2**31, [100] * 8),
            ["--tag-bits", "0", "--clock", "1e12"],
            1,
            "event 1 at byte 40",
            "time tag 2147483648 runs past 2^32 s",
        ),
        (
            "dump",
            dump_event(0, 0, 300, [1] * 8) + GOOD,
            ["--tag-bits", "0"],
            1,
            "event 1 at byte 40",
            "time tag 10 is before the previous event's 300",
        ),
        (
            "ascii",
            ascii_event(0, 0, -125000000, [1, 2, 3]) + TEXT,
            ["--tag-bits", "0"],
            1,
            "event 0 at line 1",
            "time tag -125000000 is negative",
        ),
        (
            "ascii",
            ascii_event(0, 0, 5, [1, 2, 3]).replace(": 3", ": 99999999999") + TEXT,
            [],
            1,
            "event 0 at line 1",
            "line 11 is not a sample",
        ),
        (
            "ascii",
            ascii_event(0, 0, 5, [1, 2, 3]).replace("Channel: 0\n", "") + TEXT,
            [],
            1,
            "event 0 at line 1",
            "no 'Channel' line in the event's header",
        ),
        (
            "root",
            root_file(ch=np.array([2, 2**31]), tag=np.array([1, 2])),
            ["--channel-branch", "ch", "--time-branch", "tag"],
            1,
            "event 1 (entry 1 of tree 'events')",
            "channel 2147483648 does not fit 32 bits signed",
        ),
        (
            "root",
            root_file(ch=np.array([1.7, 2.0])),
            ["--channel-branch", "ch"],
            1,
            "event 0 (entry 0 of tree 'events')",
            "channel 1.7 is not a whole number",
        ),
        (
            "root",
            root_file(tag=np.array([1.0, np.nan])),
            ["--channel", "4", "--time-branch", "tag"],
            1,
            "event 1 (entry 1 of tree 'events')",
            "time tag nan is not a whole number",
        ),
    ],
    ids=[
        "truncated",
        "size word",
        "header cut",
        "clock overflow",
        "back in time",
        "negative tag",
        "absurd length",
        "no channel",
        "channel 2^31",
        "channel 1.7",
        "nan time",
    ],
)
def test_malformed_event_names_file_event_and_offset(
    tmp_path: Path, capsys: pytest.CaptureFixture[str], fmt, content, argv, good, where, problem
) -> None:
    path = tmp_path / f"bad.{fmt}"
    if callable(content):
        content(path)
    else:
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
    out = tmp_path / "run.npz"
    argv = ["import", fmt, str(path), "-o", str(out), *argv]
    assert cli.main(argv) == 1
    err = capsys.readouterr().err.replace("\n", " ")
    assert f"{path}: {where}: {problem}" in err
    assert not out.exists()
    assert cli.main([*argv, "--skip-bad"]) == 0
    captured = capsys.readouterr()
    assert f"skipped: {path}: {where}" in captured.err
    assert f"read {good} event" in captured.out
    assert "skipped 1 malformed" in captured.out
    assert read_trigger_file(out).n_tarvo == good


def test_damaged_ascii_and_headerless_dump(tmp_path: Path) -> None:
    text = ascii_event(0, 0, 5, [1, 2, 3]) + ascii_event(0, 1, 9, [4, 5, 6]).replace("5\n", "x\n")
    text += ascii_event(0, 2, 12, [7, 8, 9])
    path = tmp_path / "w.txt"
    path.write_text(text)
    with pytest.raises(ValueError, match=r"w\.txt: event 1 at line 11: line 19 is not a sample"):
        import_files("ascii", [path], tmp_path / "a.npz")
    summary = import_files("ascii", [path], tmp_path / "a.npz", ImportOptions(skip_bad=True))
    assert (summary.events, summary.skipped) == (2, 1)
    assert read_trigger_file(tmp_path / "a.npz").tarvo_samples.tolist() == [1, 2, 3, 7, 8, 9]

    raw = tmp_path / "raw.dat"
    raw.write_bytes(np.arange(11, dtype="<u2").tobytes())
    options = ImportOptions(header=False, record_length=4, channel=5, skip_bad=True)
    summary = import_files("dump", [raw], tmp_path / "r.npz", options)
    assert (summary.events, summary.skipped) == (2, 1)
    assert "event 2 at byte 16: truncated event" in summary.problems[0]
    data = read_trigger_file(tmp_path / "r.npz")
    assert data.tarvo_triggers["channel"].tolist() == [5, 5]
    assert data.tarvo_triggers["trigger_time_s"].tolist() == [0, 0]
    # Downward pulses turned over, the baseline taken after that.
    options = ImportOptions(header=False, record_length=4, channel=5, negative_pulses=True)
    raw.write_bytes(np.array([9, 9, 9, 1, 9, 9, 9, 2], dtype="<u2").tobytes())
    import_files("dump", [raw], tmp_path / "n.npz", options)
    data = read_trigger_file(tmp_path / "n.npz")
    assert data.tarvo_samples.tolist() == [65526] * 3 + [65534] + [65526] * 3 + [65533]
    assert data.tarvo_triggers["baseline"].tolist() == [65526.0, 65526.0]


def test_root_tree(tmp_path: Path) -> None:
    uproot = pytest.importorskip("uproot")
    path = tmp_path / "run.root"
    waveforms = np.array([pulse(8, 400), pulse(5, 50)], dtype=np.uint16)
    with uproot.recreate(path) as file:
        file.mktree("events", {"wf": ("uint16", (24,)), "ch": "int32", "tag": "int64"})
        file["events"].extend(
            {"wf": waveforms, "ch": np.array([4, 2], np.int32), "tag": np.array([100, 50])}
        )
    options = ImportOptions(samples_branch="wf", channel_branch="ch", time_branch="tag")
    import_files("root", [path], tmp_path / "r.npz", options)
    data = read_trigger_file(tmp_path / "r.npz")
    np.testing.assert_array_equal(data.tarvo_samples.reshape(2, -1), waveforms)
    assert data.tarvo_triggers["channel"].tolist() == [4, 2]
    # The second tag is smaller: a rollover of the 31-bit tag, not a step back in time.
    assert data.tarvo_triggers["trigger_time_ticks"].tolist() == [200, (2**31 + 50) * 2 % 250e6]
    with pytest.raises(Exception, match="no branch 'samples'"):
        import_files("root", [path], tmp_path / "s.npz")


@pytest.mark.parametrize(
    ("argv", "message", "content"),
    [
        (["dump", "--sampling-period", "-1"], "must be a positive number of ns", GOOD),
        (["dump", "--adc-bits", "6", "--skip-bad"], "above 63, the largest of a 6-bit ADC", GOOD),
        (["dump", "--no-header"], "needs the record length and the channel", GOOD),
        (["ascii", "--tree", "t"], "tree and branch names are options of the root format", GOOD),
        (["dump", "--channel", "3"], "--channel is for input without channel numbers", GOOD),
        (
            ["dump", "--no-header", "--record-length", "8", "--channel", "0"],
            "40 = 24 + 2 x 8",
            GOOD,
        ),
        (["dump", "-o", "o.parquet"], "'o.parquet' does not end in .npz", GOOD),
        (["dump", "--record-length", "9", "--skip-bad"], "every event of", GOOD),
        (["dump", "--baseline-window=30:-1"], "30:-1 selects no sample of a waveform of 8", GOOD),
        # Files of another kind are named, not read as events (raw bytes in the message).
        (["ascii"], "in.dat is not a text (ASCII) export: it is a binary file", GOOD),
        (["dump"], "it is a zip archive (a trigger file", b"PK\x03\x04" + GOOD),
        (["dump", "--baseline", "nan"], "the baseline must be a finite number, got nan", GOOD),
        (
            ["dump", "--baseline-samples", "4", "--baseline-window=2:6"],
            "--baseline-samples and --baseline-window exclude each other",
            GOOD,
        ),
    ],
)
def test_refused_options(
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    argv: list[str],
    message: str,
    content: bytes,
) -> None:
    path = tmp_path / "in.dat"
    path.write_bytes(content)
    assert cli.main(["import", argv[0], str(path), "-o", str(tmp_path / "o.npz"), *argv[1:]]) == 1
    assert message in capsys.readouterr().err.replace("\n", " ")


def test_polarity_decided_per_file_and_channel(
    tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    events = [(0, k, 100 * k, pulse(8, 400)) for k in range(3)]
    files = {
        "up": [dump_event(*e) for e in events],
        "down": [dump_event(c, k, t, [65535 - s for s in w]) for c, k, t, w in events],
        "dead": [dump_event(1, 0, 0, [100] * 24)],
    }
    data = {}
    for name, content in files.items():
        (tmp_path / f"{name}.dat").write_bytes(b"".join(content))
        argv = ["import", "dump", str(tmp_path / f"{name}.dat"), "-o", str(tmp_path / name)]
        assert cli.main([*argv[:-1], f"{argv[-1]}.npz"]) == 0
        data[name] = read_trigger_file(tmp_path / f"{name}.npz")
    out = capsys.readouterr().out
    assert "down.dat channel 0: negative (auto: 0 samples above, 12 below" in out
    assert "dead.dat channel 1: positive (auto: too few samples" in out
    for key in ("tarvo_samples", "tarvo_triggers"):
        assert getattr(data["down"], key).tolist() == getattr(data["up"], key).tolist()
    down = ["import", "dump", str(tmp_path / "down.dat"), "-q", "--overwrite"]
    assert cli.main([*down, "-o", str(tmp_path / "p.npz"), "--polarity", "positive"]) == 0
    assert "given as positive, but the samples say negative" in capsys.readouterr().err
    assert cli.main([*down, "-o", str(tmp_path / "p.npz"), "--negative-pulses"]) == 0
    up = data["up"].tarvo_samples.tolist()
    assert read_trigger_file(tmp_path / "p.npz").tarvo_samples.tolist() == up


def test_period_bits_and_ticks_stored(tmp_path: Path) -> None:
    # 14-bit samples of downward pulses, 2 ns apart; time tags of 1 ns counts.
    up = pulse(8, 400)
    tags = [999_999_999, 1_000_000_003]
    path = tmp_path / "w.dat"
    path.write_bytes(
        b"".join(dump_event(0, k, t, [16383 - s for s in up]) for k, t in enumerate(tags))
    )
    options = ImportOptions(sampling_period_ns=2.0, adc_bits=14, clock_ns=1.0, baseline_value=99.5)
    import_files("dump", [path], tmp_path / "w.npz", options)
    data = read_trigger_file(tmp_path / "w.npz")
    assert (data.sample_period_ns, data.adc_bits) == (2.0, 14)
    # A fixed baseline: no noise estimate is stored.
    assert data.tarvo_triggers["baseline"].tolist() == [99.5, 99.5]
    assert data.tarvo_baseline_rms is None
    # Turned over about the ADC's full scale: the samples of the upward original.
    assert data.tarvo_samples.tolist() == up * 2
    # To the nearest 4 ns tick, the carry going into the seconds.
    rows = data.tarvo_triggers[["trigger_time_s", "trigger_time_ticks"]].tolist()
    assert rows == [(1, 0), (1, 1)]


def test_reconstruct_checks_period_and_carries_pulses_and_provenance(
    tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    pytest.importorskip("orvane")
    (tmp_path / "w.dat").write_bytes(b"".join(dump_event(*e) for e in CHANNEL0))
    out = tmp_path / "run.npz"
    argv = ["import", "dump", str(tmp_path / "w.dat"), "-o", str(out), "-q"]
    assert cli.main([*argv, "--sampling-period", "2", "--adc-bits", "12"]) == 0
    examples = Path(__file__).resolve().parents[2] / "examples"
    text = (examples / "pulse_finder.yaml").read_text()
    settings = {}
    for period in ("4e-9", "2e-9"):
        settings[period] = tmp_path / f"s{period}.yaml"
        settings[period].write_text(
            text.replace("  PulseFinder:\n", f"  PulseFinder:\n    sample_period: {period}\n", 1)
        )
    reconstruct = ["reconstruct", "-q", str(out), "-o"]
    for chosen, message in [
        (examples / "settings.yaml", "the single-pulse extractor (extractors.waveform: Tarvo)"),
        (settings["4e-9"], "sampled every 2 ns (2e-09 s), but the settings' extractors.Pulse"),
    ]:
        assert (
            cli.main([reconstruct[0], str(chosen), *reconstruct[1:], str(tmp_path / "h.csv")]) == 1
        )
        assert message in capsys.readouterr().err.replace("\n", " ")

    fine = [reconstruct[0], str(settings["2e-9"]), *reconstruct[1:]]
    assert cli.main([*fine, str(tmp_path / "plain.npy")]) == 0
    assert cli.main([*fine, str(tmp_path / "h.csv"), "--pulse-columns"]) == 0
    (tmp_path / "h.pulses.npy").write_text("keep")
    assert cli.main([*fine, str(tmp_path / "h.npy"), "--pulse-columns", "--overwrite"]) == 1
    assert "not the pulse columns of a hit file" in capsys.readouterr().err.replace("\n", " ")
    (tmp_path / "h.pulses.npy").unlink()
    assert cli.main([*fine, str(tmp_path / "h.npy"), "--pulse-columns"]) == 0
    assert cli.main([*fine, str(tmp_path / "h.npy"), "--pulse-columns", "--overwrite"]) == 0
    hits, provenance = read_hits_with_provenance(tmp_path / "h.npy")
    assert read_hits_with_provenance(tmp_path / "h.csv")[0].tolist() == hits.tolist()
    plain = np.load(tmp_path / "plain.npy")
    assert hits.tobytes() == plain.tobytes()
    pulses = np.load(tmp_path / "h.pulses.npy")
    table = np.genfromtxt(tmp_path / "h.csv", delimiter=",", names=True)
    assert len(pulses) == len(hits) == len(table) == 2
    for name in ("first_sample", "amplitude", "width", "rise_time", "baseline_rms"):
        np.testing.assert_array_equal(table[name], pulses[name])
    data = read_trigger_file(out)
    peaks = [data.waveform(i).max() - data.tarvo_triggers["baseline"][i] for i in range(2)]
    assert pulses["amplitude"].tolist() == peaks
    np.testing.assert_array_equal(pulses["baseline_rms"], data.tarvo_baseline_rms)
    assert not pulses["saturated"].any() and not pulses["no_return"].any()
    source = provenance["inputs"][0]["provenance"]
    assert (
        source["inputs"][0]["sha256"]
        == hashlib.sha256((tmp_path / "w.dat").read_bytes()).hexdigest()
    )
    assert source["options"]["sampling_period_ns"] == 2.0
    assert source["polarity"][0]["polarity"] == "positive"
    assert source["events"] == {"read": 2, "skipped": 0}


def test_existing_output_needs_overwrite(
    tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    path = tmp_path / "in.dat"
    path.write_bytes(GOOD)
    out = tmp_path / "o.npz"
    out.write_bytes(b"keep")
    assert cli.main(["import", "dump", str(path), "-o", str(out), "-q"]) == 1
    assert "give --overwrite" in capsys.readouterr().err
    assert out.read_bytes() == b"keep"
    # Not a trigger file: kept even with --overwrite; a trigger file is replaced.
    assert cli.main(["import", "dump", str(path), "-o", str(out), "-q", "--overwrite"]) == 1
    assert out.read_bytes() == b"keep"
    out.unlink()
    for flags in ([], ["--overwrite"]):
        assert cli.main(["import", "dump", str(path), "-o", str(out), "-q", *flags]) == 0
    assert read_trigger_file(out).n_tarvo == 1


@pytest.mark.parametrize(
    ("method", "window", "expected"),
    [
        ("median", (0, 3), [2.0, 7.5, 10.0, 0.0]),
        ("mean", (0, 3), [3.0, 7.5, 10.0, 0.0]),
        ("mean", (0, 16), [21.8, 7.5, 10.0, 0.0]),
        ("mean", (-2, None), [50.0, 7.5, 10.0, 0.0]),
        # The 100 lies beyond 3 noise widths of the quiet level: left out.
        ("robust", (None, None), [2.25, 7.5, 10.0, 0.0]),
    ],
)
def test_window_baseline(method: str, window: tuple, expected: list[float]) -> None:
    # Waveforms of 5, 2, 1 and 0 samples: shorter ones use all they have.
    samples = np.array([1, 2, 6, 0, 100, 7, 8, 10], dtype=np.uint16)
    offsets = np.array([0, 5, 7, 8, 8])
    level, noise = window_baseline(samples, offsets, *window, method)
    np.testing.assert_array_equal(level, np.array(expected, dtype=np.float32))
    assert noise[1:].tolist() == [0.5, 0.0, 0.0]
    if window == (0, 16):
        assert first_samples_baseline(samples, offsets, 16, method).tolist() == level.tolist()
