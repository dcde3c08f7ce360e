"""Library errors as Python exceptions, nested causes as exception chains."""

from __future__ import annotations

import os
import re
import signal
from collections.abc import Callable
from pathlib import Path

import pytest

import orvane
from builders import LINEAR_SETTINGS

CONSTRUCTORS: list[tuple[str, Callable[[Path], object]]] = [
    ("ChargeReconstruction", lambda p: orvane.ChargeReconstruction(str(p))),
    ("HitMaker", orvane.HitMaker),
]
CONSTRUCTOR_IDS = [name for name, _ in CONSTRUCTORS]
BUILD = [build for _, build in CONSTRUCTORS]


def _chain(error: BaseException) -> list[BaseException]:
    chain = [error]
    while chain[-1].__cause__ is not None:
        chain.append(chain[-1].__cause__)
    return chain


@pytest.mark.parametrize("build", BUILD, ids=CONSTRUCTOR_IDS)
def test_broken_yaml_chains_the_parser_error(build, write_settings) -> None:
    path = write_settings("reco:\n  a: [1, 2\n")
    with pytest.raises(RuntimeError) as info:
        build(path)
    outer, cause = _chain(info.value)
    assert str(outer).startswith(f"Failed to load yaml file {path.as_posix()}")
    assert isinstance(cause, RuntimeError)
    assert re.search(r"line \d+, column \d+", str(cause))


def test_missing_file_chains_the_loader_error(tmp_path: Path) -> None:
    path = tmp_path / "missing.yaml"
    with pytest.raises(RuntimeError, match="^Failed to load yaml file ") as info:
        orvane.FeatureExtractor(path)
    assert isinstance(info.value.__cause__, RuntimeError)


@pytest.mark.parametrize("build", BUILD, ids=CONSTRUCTOR_IDS)
def test_unreadable_value_chains_the_conversion_error(build, write_settings) -> None:
    path = write_settings(LINEAR_SETTINGS.replace("pmt_type: -1", "pmt_type: abc", 1))
    with pytest.raises(ValueError) as info:
        build(path)
    chain = _chain(info.value)
    assert str(chain[0]) == "access failed"
    assert len(chain) == 2
    assert isinstance(chain[1], RuntimeError)
    assert re.search(r"line \d+, column \d+", str(chain[1]))


@pytest.mark.parametrize(
    ("text", "error", "message"),
    [
        ("extractors: {}\n", IndexError, "Key reco not found!"),
        (
            LINEAR_SETTINGS.replace("class: LinearReco", "class: linearreco", 1),
            IndexError,
            "Class linearreco cannot be instantiated by this factory!",
        ),
        (
            LINEAR_SETTINGS.replace("hit_property: time", "hit_property: Time", 1),
            ValueError,
            "Unsupported hit property: Time",
        ),
        (
            LINEAR_SETTINGS.replace("feature: trigger_time", "feature: channel", 1),
            ValueError,
            "Unknown feature name: channel",
        ),
    ],
    ids=["missing-reco", "unknown-class", "bad-hit-property", "bad-feature"],
)
@pytest.mark.parametrize("build", BUILD, ids=CONSTRUCTOR_IDS)
def test_errors_without_cause_keep_their_message(
    build, text: str, error: type[Exception], message: str, write_settings
) -> None:
    with pytest.raises(error) as info:
        build(write_settings(text))
    assert str(info.value) == message
    assert info.value.__cause__ is None


def test_tarvo_section_missing_an_option(write_settings) -> None:
    path = write_settings("extractors:\n  Tarvo:\n    drop_bad_edge: true\nreco: {}\n")
    with pytest.raises(IndexError, match="^Key drop_bad_integral not found!$"):
        orvane.FeatureExtractor(path)


# A settings file's name followed by a NUL and more: str, bytes and path-like.
_NUL_NAMES: dict[str, Callable[[Path], object]] = {
    "str": lambda path: f"{path}\x00junk",
    "bytes": lambda path: bytes(path) + b"\x00junk",
    "path": lambda path: Path(f"{path}\x00junk"),
}


@pytest.mark.parametrize(
    ("build", "kind"),
    [(orvane.ChargeReconstruction, "str"), (orvane.ChargeReconstruction, "bytes")]
    + [
        (build, kind)
        for build in (orvane.FeatureExtractor, orvane.HitMaker, orvane.check_settings)
        for kind in _NUL_NAMES
    ],
    ids=lambda value: getattr(value, "__name__", value),
)
def test_names_holding_a_nul_are_refused(build, kind: str, settings_file: Path) -> None:
    # As Python's open does: the system would open the file named by the part before the NUL.
    name = _NUL_NAMES[kind](settings_file)
    with pytest.raises(ValueError, match="^embedded null (character|byte) in the file name"):
        build(name)


# The specified message stays first; the cause says what is wrong with the setting.  A channel
# table is read by the same reader as a lookup table.
@pytest.mark.parametrize(
    ("lut_file", "outer", "cause"),
    [
        ('"lut.txt\\0junk"', "Could not open LUT file: {dir}/lut.txt\\0junk", "NUL character"),
        ("fifo.txt", "Could not open LUT file: {dir}/fifo.txt", "a FIFO, not a regular file"),
        ("/dev/zero", "Could not open LUT file: /dev/zero", "a character device, not a regular"),
        ("~", "Could not open LUT file: {dir}/null", "reco.lut.lut_file: expected the name of"),
        ("[lut.txt]", "access failed", ".yaml:48: reco.lut.lut_file: expected a single value"),
        (
            'channels "t.csv\\0junk"',
            "Could not open channel table: {dir}/t.csv\\0junk",
            "NUL character",
        ),
    ],
    ids=["nul", "fifo", "device", "tilde", "list", "channel-table-nul"],
)
def test_unusable_lut_file_names_its_cause(write_settings, lut_file, outer, cause) -> None:
    path = write_settings(LINEAR_SETTINGS)
    (path.parent / "lut.txt").write_text("0 0 1\n10 5 1\n")
    (path.parent / "t.csv").write_text("channel,pmt_type\n0,0\n")
    os.mkfifo(path.parent / "fifo.txt")
    build = orvane.HitMaker
    if lut_file.startswith("channels "):
        build, table = orvane.FeatureExtractor, lut_file.split(" ", 1)[1]
        settings = write_settings(
            LINEAR_SETTINGS.replace(
                "extractors:\n", f"extractors:\n  channels: {{table: {table}}}\n"
            )
        )
    else:
        lut = (
            "  lut:\n    class: LUTReco\n    feature: adc_sample\n    hit_property: charge\n"
            f"    extrapolate: true\n    pmt_type: -1\n    lut_file: {lut_file}\n"
        )
        settings = write_settings(LINEAR_SETTINGS + lut)
    signal.alarm(20)  # a load blocked on a FIFO fails instead of hanging
    try:
        with pytest.raises((RuntimeError, ValueError)) as info:
            build(settings)
    finally:
        signal.alarm(0)
    chain = _chain(info.value)
    assert str(chain[0]) == outer.format(dir=path.parent.as_posix())
    assert any(cause in str(error) for error in chain[1:]), [str(e) for e in chain]
