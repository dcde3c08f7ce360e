"""The settings check (``orvane.check_settings``), ``orvane check``, the refusal of a settings
file with problems by ``orvane reconstruct``, and ``orvane init``."""

from __future__ import annotations

import os
import re
import signal
import tempfile
import textwrap
from pathlib import Path
from types import ModuleType

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from orvane_tools import cli
from orvane_tools._resources import example_settings
from orvane_tools.files.settings import SettingsProblemsError, require_valid_settings

LINEAR = """\
reco:
  q:
    class: LinearReco
    feature: waveform_integral
    hit_property: charge
    slope: 1.0
    intercept: 0.0
    slope_uncertainty: 0.0
    intercept_uncertainty: 1.0
    covariance: 0.0
    min_value: -.inf
    max_value: .inf
    pmt_type: -1
"""

LUT = """\
reco:
  q:
    class: LUTReco
    feature: adc_sample
    hit_property: charge
    pmt_type: -1
    extrapolate: false
    lut_file: lut.txt
"""
LUT_ROWS = "# x value uncertainty\n0 0 0.1\n100 2.5 0.6\r\n"

CHANNELS = """\
extractors:
  channels: {table: channels.csv, unknown_channels: drop}
reco:
  q:
    class: ChannelLinearReco
    feature: waveform_integral
    hit_property: charge
    min_value: 0
    max_value: .inf
    pmt_type: -1
    table: channels.csv
    columns: charge
"""
CHANNEL_ROWS = """\
# two channels of two PMT types
channel, pmt_type, charge_slope, charge_intercept, charge_slope_uncertainty, \
charge_intercept_uncertainty, charge_covariance
0, 1, 0.0033, 0, 0.0001, 0.06, 0
1, 2, 0.0030, 0, 0.0001, 0.06, 0
"""

# name: (settings text, {table file: text}, (file, key path, line, words in the message)).
# Each file holds exactly one mistake, so any further problem reported is a false alarm.
BROKEN = {
    "misspelled-optional-section": (
        "extractors:\n  tarvo: {drop_bad_edge: true, drop_bad_integral: true}\n" + LINEAR,
        {},
        ("s", "extractors.tarvo", 2, 'did you mean "Tarvo"?'),
    ),
    "misspelled-top-level-section": (
        "extractor:\n  Tarvo: {drop_bad_edge: true, drop_bad_integral: true}\n" + LINEAR,
        {},
        ("s", "extractor", 1, 'did you mean "extractors"?'),
    ),
    "misspelled-required-key": (
        LINEAR.replace("slope:", "slop:"),
        {},
        ("s", "reco.q.slop", 6, 'a key of LinearReco, found "slop"; did you mean "slope"?'),
    ),
    "key-of-another-class": (
        LINEAR + "    lut_file: lut.txt\n",
        {},
        ("s", "reco.q.lut_file", 14, '"lut_file" is a key of the class LUTReco'),
    ),
    "min-above-max": (
        LINEAR.replace("min_value: -.inf", "min_value: 5").replace(
            "max_value: .inf", "max_value: 1"
        ),
        {},
        ("s", "reco.q.min_value", 11, "min_value below max_value, found min_value 5 and max"),
    ),
    "nan": (
        LINEAR.replace("intercept: 0.0", "intercept: .nan"),
        {},
        ("s", "reco.q.intercept", 7, 'expected a number, found ".nan"'),
    ),
    "wrong-type": (
        LINEAR.replace("pmt_type: -1", "pmt_type: 1.5"),
        {},
        ("s", "reco.q.pmt_type", 13, "without a decimal point"),
    ),
    "integer-beyond-32-bits": (
        LINEAR.replace("pmt_type: -1", "pmt_type: 99999999999"),
        {},
        ("s", "reco.q.pmt_type", 13, "integers range from -2147483648 to 2147483647"),
    ),
    "unknown-feature": (
        LINEAR.replace("feature: waveform_integral", "feature: waveform_intergal"),
        {},
        ("s", "reco.q.feature", 4, 'did you mean "waveform_integral"?'),
    ),
    "reco-missing": ("extractors: {}\n", {}, ("s", "reco", 0, 'no "reco" section')),
    "reco-empty": ("reco: {}\n", {}, ("s", "reco", 1, "found an empty mapping")),
    "reco-a-list": (
        "reco:\n  - q: {class: LinearReco}\n",
        {},
        ("s", "reco", 1, "found a list"),
    ),
    "duplicate-instance": (
        LINEAR + LINEAR.replace("reco:\n", ""),
        {},
        ("s", "reco.q", 14, '"q" again (first given on line 2)'),
    ),
    "lut-decimal-comma": (
        LUT,
        {"lut.txt": LUT_ROWS.replace("0.6", "0,6")},
        ("lut.txt", "reco.q.lut_file", 3, 'a decimal comma? "0,6" reads as "0"'),
    ),
    "lut-unreadable": (
        LUT.replace("lut.txt", "missing.txt"),
        {},
        ("s", "reco.q.lut_file", 8, "No such file or directory"),
    ),
    # A FIFO would block the check for good: refused from its status.
    "lut-fifo": (
        LUT.replace("lut.txt", "fifo.txt"),
        {"fifo.txt": None},
        ("s", "reco.q.lut_file", 8, "fifo.txt: a FIFO, not a regular file"),
    ),
    "lut-malformed-row": (
        LUT,
        {"lut.txt": LUT_ROWS + " # not a comment\n"},
        ("lut.txt", "reco.q.lut_file", 4, "must be the first character"),
    ),
    "channel-twice": (
        CHANNELS,
        {"channels.csv": CHANNEL_ROWS + "1, 2, 0.0030, 0, 0.0001, 0.06, 0\n"},
        ("channels.csv", "extractors.channels.table", 5, "channel 1 again (first on line 4)"),
    ),
    "channel-calibration-inf": (
        CHANNELS,
        {"channels.csv": CHANNEL_ROWS.replace("0.0030, 0,", "0.0030, inf,")},
        ("channels.csv", "reco.q.table", 4, 'found "inf"'),
    ),
    "pulse-finder-threshold-zero": (
        "extractors:\n  waveform: PulseFinder\n  PulseFinder: {threshold: 0}\n" + LINEAR,
        {},
        ("s", "extractors.PulseFinder.threshold", 3, 'found "0"'),
    ),
    "channel-column-missing": (
        CHANNELS.replace("unknown_channels: drop", "unknown_channels: drop").replace(
            "columns: charge", "columns: time"
        ),
        {"channels.csv": CHANNEL_ROWS.replace("charge_", "time_").replace("time_covariance", "tc")},
        ("channels.csv", "reco.q.table", 2, 'expected a column "time_covariance"'),
    ),
    "key-not-utf8": (
        LINEAR + "    sl\udcb5pe: 1\n",
        {},
        ("s", "reco.q.sl\\xb5pe", 14, 'a key of LinearReco, found "sl\\xb5pe"'),
    ),
    "lut-line-not-utf8": (
        LUT,
        {"lut.txt": LUT_ROWS + "200 3 0.\udcb5\n"},
        ("lut.txt", "reco.q.lut_file", 4, "0.\\xb5"),
    ),
    "channel-field-not-utf8": (
        CHANNELS.split("reco:")[0] + LINEAR,
        {"channels.csv": CHANNEL_ROWS.replace("0.0030", "0.\udcb5")},
        ("channels.csv", "extractors.channels.table", 4, "0.\\xb5"),
    ),
    "channel-row-decimal-comma": (
        CHANNELS,
        {"channels.csv": CHANNEL_ROWS.replace("0.0030", "0,0030")},
        ("channels.csv", "extractors.channels.table", 4, "expected 7 comma-separated fields"),
    ),
}


def _write(directory: Path, text: str, tables: dict[str, str | None]) -> Path:
    # A surrogate escape ("\udcb5") stands for a byte that is not UTF-8 (0xB5); None, a FIFO.
    for name, content in tables.items():
        if content is None:
            os.mkfifo(directory / name)
        else:
            (directory / name).write_bytes(content.encode("utf-8", "surrogateescape"))
    path = directory / "s.yaml"
    path.write_bytes(text.encode("utf-8", "surrogateescape"))
    return path


def test_sound_files_have_no_problems(orvane: ModuleType, tmp_path: Path) -> None:
    assert orvane.check_settings(example_settings()) == []
    assert orvane.check_settings(_write(tmp_path, CHANNELS, {"channels.csv": CHANNEL_ROWS})) == []
    assert orvane.check_settings(_write(tmp_path, LUT, {"lut.txt": LUT_ROWS})) == []


@pytest.mark.parametrize("case", list(BROKEN), ids=list(BROKEN))
def test_each_mistake_is_reported_once(orvane: ModuleType, tmp_path: Path, case: str) -> None:
    text, tables, (file, key_path, line, words) = BROKEN[case]
    path = _write(tmp_path, text, tables)
    signal.alarm(20)  # a check blocked on a FIFO fails instead of hanging
    try:
        problems = orvane.check_settings(path)
    finally:
        signal.alarm(0)
    assert len(problems) == 1, [p.message for p in problems]
    problem = problems[0]
    expected_file = path if file == "s" else tmp_path / file
    assert (problem.file, problem.key_path, problem.line) == (
        expected_file.as_posix(),
        key_path,
        line,
    )
    assert words in problem.message
    where = f"{expected_file.as_posix()}:{line}: " if line else f"{expected_file.as_posix()}: "
    assert problem.message.startswith(where + key_path + ": expected ")


@pytest.fixture(scope="module")
def orvane() -> ModuleType:
    return pytest.importorskip("orvane")


@pytest.mark.parametrize("command", ["reconstruct", "demo", "check"])
def test_commands_refuse_settings_with_problems(
    orvane: ModuleType, tmp_path: Path, capsys: pytest.CaptureFixture[str], command: str
) -> None:
    text = LINEAR.replace("slope:", "slop:").replace("min_value: -.inf", "min_value: 0")
    bad = _write(tmp_path, text.replace("max_value: .inf", "max_value: -1"), {})
    hits = tmp_path / "hits.npy"
    # The trigger file is never opened: the settings are refused first.
    argv = {
        "reconstruct": ["reconstruct", str(bad), str(tmp_path / "none.npz"), "-o", str(hits)],
        "demo": ["demo", "--settings", str(bad), "--no-plot", "--no-report"],
        "check": ["check", str(bad)],
    }[command]
    assert cli.main(argv) == 1
    out, err = capsys.readouterr()
    assert out == ""
    head, *paragraphs = err.split("\n  /")
    assert " ".join(head.split()) == (
        f"orvane {command}: error: the settings file {bad} has 2 problems:"
    )
    assert [" ".join(p.split()).split(": ")[1] for p in paragraphs] == [
        "reco.q.slop",
        "reco.q.min_value",
    ]
    assert not hits.exists()


def test_semicolon_separated_table_gets_a_hint(orvane: ModuleType, tmp_path: Path) -> None:
    path = _write(tmp_path, CHANNELS, {"channels.csv": CHANNEL_ROWS.replace(", ", ";")})
    with pytest.raises(SettingsProblemsError) as info:
        require_valid_settings(path)
    *problems, hint = info.value.paragraphs(width=1000)
    assert len(problems) > 1  # one per column the settings need, then the hint once
    assert hint.startswith(f"  hint: {path.with_name('channels.csv').as_posix()} separates its")


def test_init_then_check(tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    folder = tmp_path / "my-run"
    assert cli.main(["init", str(folder)]) == 0
    settings = folder / "settings.yaml"
    assert settings.read_bytes() == example_settings().read_bytes()
    assert cli.main(["check", str(settings)]) == 0
    out = capsys.readouterr().out
    assert f"ok: {settings}\n" in out
    assert "extractors: waveform Tarvo, Tarvo.drop_bad_edge true" in out
    order = [line.split()[1] for line in out.splitlines() if line.startswith("  ")]
    assert order == [
        "charge_from_integral",
        "time_from_rising_edge",
        "charge_from_adc",
        "time_from_multipmt",
    ]
    assert f"tables: {folder / 'channels.csv'}, {folder / 'multipmt_charge_lut.txt'}" in out
    # A PMT type as the library reads it: a leading zero makes YAML's octal.
    octal = folder / "octal.yaml"
    octal.write_text(settings.read_text().replace("pmt_type: -1", "pmt_type: 010", 1))
    assert cli.main(["check", str(octal)]) == 0
    assert "charge, PMT type 8 (written 010), table" in capsys.readouterr().out
    # Never overwritten without being asked.
    settings.write_text("mine")
    assert cli.main(["init", str(folder)]) == 1
    assert "--overwrite" in capsys.readouterr().err
    assert settings.read_text() == "mine"
    assert cli.main(["init", str(folder), "--overwrite", "-q"]) == 0
    assert settings.read_bytes() == example_settings().read_bytes()


def test_readme_command_line_runs_as_written(
    tmp_path: Path, monkeypatch: pytest.MonkeyPatch
) -> None:
    readme = (Path(__file__).resolve().parents[2] / "README.md").read_text()
    section = readme.split("**Command line**")[1].split("```sh\n")[1].split("```")[0]
    commands = [line.split("#")[0].split()[1:] for line in textwrap.dedent(section).splitlines()]
    monkeypatch.chdir(tmp_path)
    for argv in commands:
        argv = [a.replace("100000", "100") for a in argv]
        assert cli.main([*argv, "-q"]) == 0, argv


def test_names_and_bytes_that_are_not_utf8(
    orvane: ModuleType, tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    # A folder whose name is not UTF-8 (as os functions give it: a surrogate escape).
    folder = tmp_path / os.fsdecode(b"r\xb5n")
    folder.mkdir()
    path = _write(folder, CHANNELS, {"channels.csv": CHANNEL_ROWS})
    assert cli.main(["check", "-q", str(path)]) == 0
    assert len(orvane.ChargeReconstruction(str(path)).reconstruct([])) == 0
    bad = _write(folder, CHANNELS, {"channels.csv": CHANNEL_ROWS.replace("0.0030", "0.\udcb5")})
    with pytest.raises(RuntimeError, match=r"r\\xb5n/channels.csv, line 4: .*found \"0\.\\xb5\""):
        orvane.ChannelTable(folder / "channels.csv")
    assert cli.main(["check", str(bad)]) == 1
    assert "r\\xb5n/channels.csv:4" in capsys.readouterr().err


# A sound file using every section and class, as (indent, key, value) lines; the property test
# below changes one thing in it.
FULL = [
    (0, "extractors", None),
    (1, "waveform", "PulseFinder"),
    (1, "Tarvo", None),
    (2, "drop_bad_edge", "true"),
    (2, "drop_bad_integral", "false"),
    (1, "PulseFinder", None),
    (2, "threshold", "12"),
    (2, "samples_after", "16"),
    (1, "channels", None),
    (2, "table", "channels.csv"),
    (2, "unknown_channels", "drop"),
    (0, "reco", None),
    (1, "q", None),
    *[(2, k, v) for k, v in (line.strip().split(": ") for line in LINEAR.splitlines()[2:])],
    (1, "t", None),
    *[(2, k, v) for k, v in (line.strip().split(": ") for line in LUT.splitlines()[2:])],
    (1, "c", None),
    *[(2, k, v) for k, v in (line.strip().split(": ") for line in CHANNELS.splitlines()[4:])],
]
LEAVES = [i for i, (_, _, value) in enumerate(FULL) if value is not None]
TABLES = {"lut.txt": LUT_ROWS, "channels.csv": CHANNEL_ROWS}


@st.composite
def one_mistake(draw: st.DrawFn) -> tuple[list[tuple[int, str, str | None]], dict[str, str]]:
    """FULL and its tables with at most one mistake of each kind a user makes."""
    lines, tables = list(FULL), dict(TABLES)
    kind = draw(
        st.sampled_from(
            ["none", "missing", "misspelled", "extra", "duplicate", "value", "row", "table"]
        )
    )
    i = draw(st.sampled_from(LEAVES))
    indent, key, value = lines[i]
    if kind == "missing":
        del lines[i]
    elif kind == "misspelled":
        lines[i] = (indent, key[:-1], value)
    elif kind == "extra":
        lines.insert(
            *draw(st.sampled_from([(i, (indent, "bogus_key", "1")), (0, (0, "bogus", "1"))]))
        )
    elif kind == "duplicate":
        lines.insert(i, lines[i])
    elif kind == "value":
        wrong = ["abc", "[1, 2]", "{a: 1}", "1.5", "-1", ".nan", "-3", value[:-1] or "x"]
        lines[i] = (indent, key, draw(st.sampled_from(wrong)))
    elif kind == "row":
        name, old, new = draw(
            st.sampled_from(
                [
                    ("lut.txt", "100 2.5 0.6", "100 2.5"),
                    ("lut.txt", "0.6", "0,6"),
                    ("channels.csv", "1, 2, 0.0030", "1, x, 0.0030"),
                    ("channels.csv", "1, 2, 0.0030", "1, 2, .inf"),
                ]
            )
        )
        tables[name] = tables[name].replace(old, new)
    elif kind == "table":
        del tables[draw(st.sampled_from(sorted(tables)))]
    return lines, tables


def _messages(error: BaseException | None) -> list[str]:
    out = []
    while error is not None:
        out.append(str(error).strip("'\""))
        error = error.__cause__
    return out


def _matches(problem: object, messages: list[str]) -> bool:
    """Whether `problem` is what the library's error chain reports: the key it names, else
    the line of the nested YAML error, else a value it quotes."""
    for message in messages:
        named = re.search(r"Key (\S+) not found!", message) or re.match(r"([\w.]+): ", message)
        if named:
            key = named.group(1)
            return problem.key_path.endswith(key) or f'did you mean "{key}"?' in problem.hint
    for message in messages:
        line = re.search(r"error at line (\d+)", message)
        if line:
            return problem.line == int(line.group(1))
    text = (problem.found + " " + problem.expected).replace("\\r", "\r").replace("\\t", "\t")
    values = re.findall(r'"([^"]*)"', text) + [problem.found.split(": ")[0]]
    return any(value and value in message for value in values for message in messages)


@settings(max_examples=200, deadline=None)
@given(one_mistake())
def test_check_agrees_with_the_library(
    orvane: ModuleType, mistake: tuple[list[tuple[int, str, str | None]], dict[str, str]]
) -> None:
    lines, tables = mistake
    text = "".join(
        "  " * indent + key + ":" + ("" if value is None else " " + value) + "\n"
        for indent, key, value in lines
    )
    with tempfile.TemporaryDirectory() as folder:
        path = _write(Path(folder), text, tables)
        refused = [p for p in orvane.check_settings(path) if p.refused_by_library]
        errors = []
        # The path entry, and the loaded one (the check first, as the command runs them): the
        # same error, or none, from each.
        loaded = orvane.LoadedSettings(path)
        assert [p.message for p in loaded.check() if p.refused_by_library] == [
            p.message for p in refused
        ]
        for build in (
            lambda: orvane.ChargeReconstruction(str(path)),
            lambda: orvane.ChargeReconstruction.from_loaded(loaded),
        ):
            try:
                build()
                errors.append(None)
            except Exception as raised:  # noqa: BLE001 - any refusal counts
                errors.append(raised)
        error = errors[0]
        assert type(errors[1]) is type(error) and _messages(errors[1]) == _messages(error), text
    assert (error is not None) == bool(refused), (text, [p.message for p in refused])
    if refused:
        assert _matches(refused[0], _messages(error)), (refused[0].message, _messages(error))
