"""FeatureExtractor, HitMaker and ChargeReconstruction from Python."""

from __future__ import annotations

import os
from collections.abc import Callable
from pathlib import Path

import pytest
from conftest import EXAMPLE_SETTINGS

import orvane
from builders import make_features, make_multipmt, make_tarvo

SIMULATION_RUN = 15731968

PATH_KINDS: list[tuple[str, Callable[[Path], object]]] = [
    ("str", str),
    ("bytes", os.fsencode),
    ("pathlib", lambda p: p),
]


@pytest.mark.parametrize("convert", [c for _, c in PATH_KINDS], ids=[n for n, _ in PATH_KINDS])
@pytest.mark.parametrize("cls", [orvane.FeatureExtractor, orvane.HitMaker])
def test_path_arguments_accept_str_bytes_and_pathlike(cls: type, convert, settings_file) -> None:
    cls(settings=convert(settings_file))


@pytest.mark.parametrize("convert", [str, os.fsencode], ids=["str", "bytes"])
def test_charge_reconstruction_takes_a_string_path(convert, settings_file: Path) -> None:
    orvane.ChargeReconstruction(settings=convert(settings_file))


def test_charge_reconstruction_rejects_pathlib(settings_file: Path) -> None:
    with pytest.raises(TypeError):
        orvane.ChargeReconstruction(settings_file)


def _generator(items: list) -> object:
    yield from items


@pytest.mark.parametrize(
    "wrap",
    [list, tuple, _generator, lambda items: dict.fromkeys(items).keys()],
    ids=["list", "tuple", "generator", "dict-keys"],
)
def test_extract_features_of_a_mixed_sequence(wrap, settings_file: Path) -> None:
    tarvo, multi = make_tarvo(channel=3), make_multipmt(channel=4, time=1.5, adc=100)
    features = orvane.FeatureExtractor(settings_file).extract_features(wrap([tarvo, multi]))
    assert isinstance(features, orvane.VectorHitFeatures)
    assert [f.channel for f in features] == [3, 4]
    assert features[0].waveform_integral == 56.0 and not features[0].has_adc_sample()
    assert features[1].adc_sample == 100.0 and features[1].trigger_time == 1.5
    base = SIMULATION_RUN << 32
    assert [f.id for f in features] == [base, base + 16]


def test_trigger_objects_are_unchanged(settings_file: Path) -> None:
    tarvo = make_tarvo()
    waveform = tarvo.waveform
    orvane.ChargeReconstruction(str(settings_file)).reconstruct([tarvo, tarvo])
    assert list(tarvo.waveform) == [10, 10, 12, 20, 24, 25, 25]
    assert tarvo.waveform == waveform and tarvo.channel == 3


@pytest.mark.parametrize(
    "items",
    [[1], [make_tarvo(), orvane.Hit()], "ab", make_tarvo()],
    ids=["int", "foreign-record", "str", "single-trigger"],
)
def test_foreign_trigger_data_is_a_type_error(items: object, settings_file: Path) -> None:
    extractor = orvane.FeatureExtractor(settings_file)
    with pytest.raises(TypeError):
        extractor.extract_features(items)
    with pytest.raises(TypeError):
        orvane.ChargeReconstruction(str(settings_file)).reconstruct(items)


def test_empty_trigger_list(settings_file: Path) -> None:
    assert len(orvane.FeatureExtractor(settings_file).extract_features([])) == 0
    assert len(orvane.ChargeReconstruction(str(settings_file)).reconstruct(())) == 0


def test_run_info_default_and_explicit(settings_file: Path) -> None:
    reco = orvane.ChargeReconstruction(str(settings_file))
    triggers = [make_multipmt(), make_multipmt(channel=5)]
    default = reco.reconstruct(triggers)
    assert [orvane.RunInfo.run_number_from_id(h.id) for h in default] == [SIMULATION_RUN] * 2
    assert [orvane.RunInfo.trigger_index_from_id(h.id) for h in default] == [0, 1]
    run = orvane.RunInfo()
    run.run_number = 77
    explicit = reco.reconstruct(trigger_data=triggers, run_info=run)
    assert [h.id for h in explicit] == [77 << 32, (77 << 32) + 16]
    # The shared default was not changed by the call that passed its own run information.
    assert reco.reconstruct(triggers)[0].id == SIMULATION_RUN << 32


def test_reconstruct_makes_valid_hits(settings_file: Path) -> None:
    hits = orvane.ChargeReconstruction(str(settings_file)).reconstruct(
        [make_tarvo(channel=3, seconds=100, ticks=250), make_multipmt(channel=4, adc=100)]
    )
    assert isinstance(hits, orvane.VectorHit)
    assert [(h.channel, h.charge) for h in hits] == [(3, 0.56), (4, 50.0)]
    assert hits[0].time == pytest.approx(100.000001, abs=1e-12)
    assert all(h.is_valid() for h in hits)


@pytest.mark.parametrize(
    "wrap", [list, tuple, orvane.VectorHitFeatures], ids=["list", "tuple", "vector"]
)
def test_make_hits_accepts_any_sequence(wrap, settings_file: Path) -> None:
    records = [make_features(channel=1, id_=1, trigger_time=2.0, adc_sample=2.0)]
    hits = orvane.HitMaker(settings_file).make_hits(features=wrap(records), no_discard=False)
    assert [(h.channel, h.time, h.charge) for h in hits] == [(1, 2.0, 1.0)]


def test_empty_hit_maker_discards_unless_told() -> None:
    maker = orvane.HitMaker()
    records = [make_features(channel=2, id_=5), make_features(id_=None)]
    assert len(maker.make_hits(records)) == 0
    hits = maker.make_hits(records, True)
    assert [(h.channel, h.id) for h in hits] == [(2, 5), (3, 0)]


def test_extraction_errors_propagate(settings_file: Path) -> None:
    short = make_tarvo(samples=(1, 2))
    with pytest.raises(ValueError, match="at least 3 samples"):
        orvane.FeatureExtractor(settings_file).extract_features([make_tarvo(), short])


@pytest.mark.skipif(not EXAMPLE_SETTINGS.exists(), reason="examples/settings.yaml not present")
def test_example_settings_build_every_component() -> None:
    orvane.FeatureExtractor(EXAMPLE_SETTINGS)
    orvane.HitMaker(EXAMPLE_SETTINGS)
    reco = orvane.ChargeReconstruction(str(EXAMPLE_SETTINGS))
    hits = reco.reconstruct([make_tarvo(), make_multipmt()])
    assert all(h.is_valid() for h in hits)
