"""Records of the module: Hit, TarvoTrigger, MultiPMTTrigger, HitFeatures, RunInfo."""

from __future__ import annotations

import math

import numpy as np
import pytest

import orvane
from orvane_tools import decode_hit_ids

INF = math.inf
NAN = math.nan

# (record class, attribute, largest accepted value, smallest accepted value)
INT_WIDTHS = [
    (orvane.TarvoTrigger, "channel", 2**31 - 1, -(2**31)),
    (orvane.TarvoTrigger, "trigger_time_s", 2**32 - 1, 0),
    (orvane.TarvoTrigger, "trigger_time_ticks", 2**32 - 1, 0),
    (orvane.MultiPMTTrigger, "channel", 2**31 - 1, -(2**31)),
    (orvane.MultiPMTTrigger, "adc_sample", 2**16 - 1, 0),
    (orvane.HitFeatures, "channel", 2**31 - 1, -(2**31)),
    (orvane.HitFeatures, "pmt_type", 2**31 - 1, -(2**31)),
    (orvane.HitFeatures, "id", 2**64 - 1, 0),
    (orvane.RunInfo, "run_number", 2**64 - 1, 0),
    (orvane.RunInfo, "time_offset_s", 2**64 - 1, 0),
    (orvane.RunInfo, "time_offset_ns", 2**64 - 1, 0),
    (orvane.RunInfo, "run_start_time_ns", 2**63 - 1, -(2**63)),
]
WIDTH_IDS = [f"{cls.__name__}.{attr}" for cls, attr, _, _ in INT_WIDTHS]


@pytest.mark.parametrize(("cls", "attr", "high", "low"), INT_WIDTHS, ids=WIDTH_IDS)
def test_integer_attribute_takes_its_whole_range(cls: type, attr: str, high: int, low: int) -> None:
    record = cls()
    for value in (high, low):
        setattr(record, attr, value)
        assert getattr(record, attr) == value


@pytest.mark.parametrize(("cls", "attr", "high", "low"), INT_WIDTHS, ids=WIDTH_IDS)
def test_integer_attribute_rejects_values_outside_its_width(
    cls: type, attr: str, high: int, low: int
) -> None:
    record = cls()
    for value in (high + 1, low - 1):
        with pytest.raises(TypeError):
            setattr(record, attr, value)


@pytest.mark.parametrize("attr", ["baseline", "intsum"])
def test_single_precision_attributes_round_to_float32(attr: str) -> None:
    trigger = orvane.TarvoTrigger()
    setattr(trigger, attr, 0.1)
    assert getattr(trigger, attr) == np.float32(0.1)
    assert getattr(trigger, attr) != 0.1


def test_default_trigger_records_are_zero() -> None:
    tarvo = orvane.TarvoTrigger()
    assert (tarvo.channel, tarvo.trigger_time_s, tarvo.trigger_time_ticks) == (0, 0, 0)
    assert (tarvo.baseline, tarvo.intsum, len(tarvo.waveform)) == (0.0, 0.0, 0)
    multi = orvane.MultiPMTTrigger()
    assert (multi.time, multi.channel, multi.time_over_threshold, multi.adc_sample) == (0, 0, 0, 0)


def test_waveform_is_a_live_view_of_the_trigger() -> None:
    trigger = orvane.TarvoTrigger()
    view = trigger.waveform
    view.append(7)
    assert list(trigger.waveform) == [7]
    trigger.waveform[0] = 9
    assert view[0] == 9
    del trigger
    assert list(view) == [9]  # the view keeps its trigger alive


@pytest.mark.parametrize(
    "samples",
    [[1, 2, 3], (0, 65535), orvane.VectorUInt16([4, 5]), range(3)],
    ids=["list", "tuple", "vector", "range"],
)
def test_waveform_assignment_copies(samples: object) -> None:
    trigger = orvane.TarvoTrigger()
    trigger.waveform = samples
    assert list(trigger.waveform) == list(samples)  # type: ignore[call-overload]
    if isinstance(samples, orvane.VectorUInt16):
        samples.append(6)
        assert len(trigger.waveform) == 2


@pytest.mark.parametrize("samples", [[70000], [-1], [1.5], "ab"], ids=str)
def test_waveform_assignment_rejects_non_samples(samples: object) -> None:
    trigger = orvane.TarvoTrigger()
    trigger.waveform = [1]
    with pytest.raises(TypeError):
        trigger.waveform = samples
    assert list(trigger.waveform) == [1]


def test_seconds_per_tick_is_read_only() -> None:
    assert orvane.TarvoTrigger.SECONDS_PER_TICK == 4e-9
    trigger = orvane.TarvoTrigger()
    assert trigger.SECONDS_PER_TICK == 4e-9
    with pytest.raises(AttributeError):
        orvane.TarvoTrigger.SECONDS_PER_TICK = 1.0
    with pytest.raises(AttributeError):
        trigger.SECONDS_PER_TICK = 1.0
    assert orvane.TarvoTrigger.SECONDS_PER_TICK == 4e-9


class TestHit:
    def test_default_hit_is_invalid(self) -> None:
        hit = orvane.Hit()
        assert not hit.is_valid()
        assert (hit.channel, hit.id, hit.time, hit.charge) == (-1, 0, 0.0, 0.0)
        assert hit.time_uncertainty == INF and hit.charge_uncertainty == INF

    def test_constructor_takes_named_arguments(self) -> None:
        hit = orvane.Hit(
            channel=2,
            id=2**64 - 1,
            time=1.0,
            charge=2.0,
            time_uncertainty=0.5,
            charge_uncertainty=0.25,
        )
        assert (hit.channel, hit.id, hit.time, hit.charge) == (2, 2**64 - 1, 1.0, 2.0)
        assert (hit.time_uncertainty, hit.charge_uncertainty) == (0.5, 0.25)
        assert hit.is_valid()

    @pytest.mark.parametrize(
        "attr", ["channel", "id", "time", "charge", "time_uncertainty", "charge_uncertainty"]
    )
    def test_properties_are_read_only(self, attr: str) -> None:
        with pytest.raises(AttributeError):
            setattr(orvane.Hit(), attr, 1)

    def test_updates_keep_the_smaller_uncertainty(self) -> None:
        hit = orvane.Hit()
        assert hit.update_time(1.0, 5.0)
        assert not hit.update_time(2.0, 5.0)
        assert hit.time == 1.0
        assert hit.update_time(new_time=3.0, new_time_uncertainty=4.0)
        assert not hit.update_charge(1.0, INF)
        assert hit.update_charge(new_charge=2.0, new_charge_uncertainty=NAN)
        assert math.isnan(hit.charge_uncertainty)

    def test_setters(self) -> None:
        hit = orvane.Hit()
        hit.set_id(5)
        hit.set_channel(channel=0)
        assert (hit.id, hit.channel) == (5, 0)
        with pytest.raises(TypeError):
            hit.set_id(-1)


FLOAT_FEATURES = [
    ("waveform_integral", "Waveform integral not set!"),
    ("time_over_threshold", "Time over threshold not set!"),
    ("trigger_time", "Trigger time not set!"),
    ("adc_sample", "ADC sample not set!"),
    ("rising_edge_time", "Rising edge time not set!"),
]
INT_FEATURES = [
    ("channel", "Channel not set!"),
    ("pmt_type", "PMT type not set!"),
    ("id", "ID not set!"),
]
ALL_FEATURES = [name for name, _ in INT_FEATURES + FLOAT_FEATURES]


class TestHitFeatures:
    @pytest.mark.parametrize(
        ("name", "message"),
        INT_FEATURES + FLOAT_FEATURES,
        ids=[n for n, _ in INT_FEATURES + FLOAT_FEATURES],
    )
    def test_unset_feature_raises_its_message(self, name: str, message: str) -> None:
        features = orvane.HitFeatures()
        assert not getattr(features, f"has_{name}")()
        with pytest.raises(RuntimeError) as info:
            getattr(features, name)
        assert str(info.value) == message

    @pytest.mark.parametrize("name", ALL_FEATURES)
    def test_setting_one_feature_sets_only_that_one(self, name: str) -> None:
        features = orvane.HitFeatures()
        setattr(features, name, 3)
        assert getattr(features, name) == 3
        flags = {other: getattr(features, f"has_{other}")() for other in ALL_FEATURES}
        assert flags == {other: other == name for other in ALL_FEATURES}

    def test_values_are_stored_unchanged(self) -> None:
        features = orvane.HitFeatures()
        features.channel = -3
        features.waveform_integral = NAN
        features.trigger_time = -INF
        assert features.channel == -3
        assert math.isnan(features.waveform_integral)
        assert features.trigger_time == -INF

    def test_float_features_are_double_precision(self) -> None:
        features = orvane.HitFeatures()
        features.rising_edge_time = 0.1
        assert features.rising_edge_time == 0.1


class TestRunInfo:
    def test_default_is_all_zero_and_differs_from_simulation_run(self) -> None:
        info = orvane.RunInfo()
        fields = ("run_number", "time_offset_s", "time_offset_ns", "run_start_time_ns")
        assert [getattr(info, f) for f in fields] == [0, 0, 0, 0]
        sim = orvane.RunInfo.simulation_run()
        assert [getattr(sim, f) for f in fields] == [15731968, 0, 0, 1735689627000000000]

    def test_simulation_run_returns_a_new_object(self) -> None:
        first = orvane.RunInfo.simulation_run()
        first.run_number = 1
        assert orvane.RunInfo.simulation_run().run_number == 15731968

    def test_shift_constants_are_plain_class_attributes(self) -> None:
        assert orvane.RunInfo.RUN_ID_SHIFT == 32
        assert orvane.RunInfo.TRIGGER_INDEX_SHIFT == 4
        assert type(vars(orvane.RunInfo)["RUN_ID_SHIFT"]) is int
        assert orvane.RunInfo().RUN_ID_SHIFT == 32

    @pytest.mark.parametrize(
        ("hit_id", "run", "trigger"),
        [
            (2**64 - 1, 2**32 - 1, 0x0FFFFFFF),
            ((7 << 32) + 48, 7, 3),
            (63, 0, 3),
            ((5 << 32) | (9 << 4) | 3, 5, 9),
        ],
        ids=["all-ones", "run7-trigger3", "low-bits-ignored", "run5-trigger9"],
    )
    def test_id_helpers(self, hit_id: int, run: int, trigger: int) -> None:
        assert orvane.RunInfo.run_number_from_id(hit_id) == run
        assert orvane.RunInfo.trigger_index_from_id(id=hit_id) == trigger

    def test_id_arrays_decode_as_the_scalar_helpers(self) -> None:
        edges = [0, 15, 16, 2**32 - 1, 2**32, 2**63 - 1, 2**63, 2**64 - 16, 2**64 - 1]
        rng = np.random.default_rng(7)
        ids = np.concatenate([np.array(edges, np.uint64), rng.integers(0, 2**64, 300, np.uint64)])
        info = orvane.RunInfo
        scalar = [
            (info.run_number_from_id(i), info.trigger_index_from_id(i), i & 0xF)
            for i in ids.tolist()
        ]
        for given in (ids, ids.view(np.int64), ids.tolist()):  # hit rows hold them as int64
            assert list(zip(*(field.tolist() for field in decode_hit_ids(given)))) == scalar

    def test_id_helpers_reject_negative_ids(self) -> None:
        with pytest.raises(TypeError):
            orvane.RunInfo.run_number_from_id(-1)


@pytest.mark.parametrize(
    "cls",
    [orvane.Hit, orvane.TarvoTrigger, orvane.MultiPMTTrigger, orvane.HitFeatures, orvane.RunInfo],
)
def test_records_have_no_value_protocols(cls: type) -> None:
    """Records compare by identity and have no pickling, copy or repr of their own."""
    a, b = cls(), cls()
    assert a != b
    assert a == a  # noqa: PLR0124 - identity equality is what is tested
    for name in ("__getstate__", "__reduce_ex__", "__copy__", "__deepcopy__", "__repr__"):
        assert name not in vars(cls)
    assert cls.__module__ == "orvane"
