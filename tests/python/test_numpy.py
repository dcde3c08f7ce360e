"""NumPy structured rows and the four conversion functions."""

from __future__ import annotations

import math
import re
import struct

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import orvane
from builders import make_features

HIT_FIELDS = [
    ("channel", "<i4", 0),
    ("id", "<i8", 8),
    ("time", "<f8", 16),
    ("charge", "<f8", 24),
    ("time_uncertainty", "<f8", 32),
    ("charge_uncertainty", "<f8", 40),
]
FEATURE_FIELDS = [
    ("channel", "<i4", 0),
    ("pmt_type", "<i4", 4),
    ("id", "<i8", 8),
    ("trigger_time", "<f8", 16),
    ("waveform_integral", "<f8", 24),
    ("time_over_threshold", "<f8", 32),
    ("adc_sample", "<f8", 40),
    ("rising_edge_time", "<f8", 48),
]
FLOAT_FEATURES = [name for name, kind, _ in FEATURE_FIELDS if kind == "<f8"]
INT_FEATURES = ["channel", "pmt_type", "id"]


def _layout(dtype: np.dtype) -> list[tuple[str, str, int]]:
    return [(name, dtype.fields[name][0].str, dtype.fields[name][1]) for name in dtype.names]


@pytest.mark.parametrize(
    ("result", "dtype", "fields", "itemsize"),
    [
        (lambda: orvane.hit_list_to_numpy([]), orvane.hit_dtype, HIT_FIELDS, 48),
        (
            lambda: orvane.hit_features_list_to_numpy([]),
            orvane.hit_features_dtype,
            FEATURE_FIELDS,
            56,
        ),
    ],
    ids=["HitNumpyRow", "HitFeaturesNumpyRow"],
)
def test_row_layout(result, dtype: np.dtype, fields: list, itemsize: int) -> None:
    array = result()
    assert array.shape == (0,)
    assert array.dtype == dtype
    assert _layout(array.dtype) == fields
    assert array.dtype.itemsize == itemsize


def _hit_bits(hit: orvane.Hit) -> tuple:
    """A hit's six values, doubles as bit patterns so NaNs compare exactly."""
    as_bits = [
        struct.unpack("<q", struct.pack("<d", v))[0]
        for v in (hit.time, hit.charge, hit.time_uncertainty, hit.charge_uncertainty)
    ]
    return (hit.channel, hit.id, *as_bits)


class TestHits:
    def test_values_are_copied_unchanged(self) -> None:
        hits = [orvane.Hit(), orvane.Hit(-5, 2**63, math.nan, -0.0, math.inf, -math.inf)]
        array = orvane.hit_list_to_numpy(hits)
        assert array["id"][1] == -(2**63)
        assert array["channel"].tolist() == [-1, -5]
        back = orvane.numpy_to_hit_list(array)
        assert [_hit_bits(h) for h in back] == [_hit_bits(h) for h in hits]
        assert back[1].id == 2**63

    def test_padding_is_zero(self) -> None:
        array = orvane.hit_list_to_numpy([orvane.Hit(1, 2, 3.0, 4.0, 5.0, 6.0)])
        assert array.tobytes()[4:8] == b"\0\0\0\0"

    def test_empty_array_gives_empty_vector(self) -> None:
        result = orvane.numpy_to_hit_list(np.zeros(0, dtype=orvane.hit_dtype))
        assert isinstance(result, orvane.VectorHit) and len(result) == 0

    def test_list_of_tuples_is_converted_by_numpy(self) -> None:
        hits = orvane.numpy_to_hit_list(np_array=[(1, 2, 3.0, 4.0, 5.0, 6.0)])
        assert _hit_bits(hits[0]) == _hit_bits(orvane.Hit(1, 2, 3.0, 4.0, 5.0, 6.0))

    def test_packed_equivalent_dtype_is_converted(self) -> None:
        packed = np.dtype([(name, kind) for name, kind, _ in HIT_FIELDS])
        assert packed.itemsize == 44
        array = np.array([(7, 8, 1.0, 2.0, 0.1, 0.2)], dtype=packed)
        hit = orvane.numpy_to_hit_list(array)[0]
        assert (hit.channel, hit.id, hit.charge_uncertainty) == (7, 8, 0.2)

    def test_strided_view_is_read_by_row(self) -> None:
        hits = [orvane.Hit(i, i, float(i), 0.0, 1.0, 1.0) for i in range(6)]
        array = orvane.hit_list_to_numpy(hits)
        back = orvane.numpy_to_hit_list(array[::2])
        assert [h.channel for h in back] == [0, 2, 4]
        back = orvane.numpy_to_hit_list(array[::-1])
        assert [h.channel for h in back] == [5, 4, 3, 2, 1, 0]

    @pytest.mark.parametrize(
        ("shape", "text"),
        [((2, 3), "(2, 3)"), ((), "()"), ((1, 1, 1), "(1, 1, 1)")],
        ids=["2-d", "0-d", "3-d"],
    )
    def test_other_dimensions_are_refused(self, shape: tuple, text: str) -> None:
        for dtype, convert in (
            (orvane.hit_dtype, orvane.numpy_to_hit_list),
            (orvane.hit_features_dtype, orvane.numpy_to_hit_features_list),
        ):
            with pytest.raises(ValueError, match="shape " + re.escape(text)):
                convert(np.zeros(shape, dtype=dtype))

    def test_unconvertible_argument_is_a_type_error(self) -> None:
        with pytest.raises(TypeError):
            orvane.numpy_to_hit_list(np.zeros(3, dtype=[("a", "<f8")]))
        with pytest.raises(TypeError):
            orvane.numpy_to_hit_list("rows")


class TestFeatures:
    def test_unset_features_become_markers_and_back(self) -> None:
        array = orvane.hit_features_list_to_numpy([orvane.HitFeatures()])
        row = array[0]
        assert [row[name] for name in INT_FEATURES] == [-1, -1, -1]
        for name in FLOAT_FEATURES:
            assert struct.pack("<d", row[name]) == struct.pack("<Q", 0x7FF8000000000000)
        back = orvane.numpy_to_hit_features_list(array)[0]
        assert not any(getattr(back, f"has_{name}")() for name, _, _ in FEATURE_FIELDS)

    @pytest.mark.parametrize(
        ("name", "value", "survives"),
        [
            ("channel", -1, False),
            ("channel", -2, True),
            ("pmt_type", -1, False),
            ("pmt_type", 2**31 - 1, True),
            ("id", 2**64 - 1, False),
            ("id", 2**63, True),
            ("id", 0, True),
            ("trigger_time", math.inf, True),
            ("adc_sample", -math.inf, True),
            ("waveform_integral", math.nan, False),
            ("rising_edge_time", -0.0, True),
        ],
        ids=lambda v: str(v),
    )
    def test_marker_round_trip(self, name: str, value: float, survives: bool) -> None:
        features = orvane.HitFeatures()
        setattr(features, name, value)
        back = orvane.numpy_to_hit_features_list(orvane.hit_features_list_to_numpy([features]))[0]
        assert getattr(back, f"has_{name}")() is survives
        if survives:
            assert struct.pack("<d", getattr(back, name)) == struct.pack("<d", value)

    def test_row_id_bits_are_copied(self) -> None:
        rows = np.array([(0, 0, -(2**63), *[0.0] * 5)], dtype=orvane.hit_features_dtype)
        assert orvane.numpy_to_hit_features_list(rows)[0].id == 2**63

    def test_strided_view_is_read_by_row(self) -> None:
        records = [make_features(channel=i, id_=i) for i in range(5)]
        array = orvane.hit_features_list_to_numpy(records)
        back = orvane.numpy_to_hit_features_list(array[1::3])
        assert [f.channel for f in back] == [1, 4]


int32 = st.integers(-(2**31), 2**31 - 1)
uint64 = st.integers(0, 2**64 - 1)
any_float = st.floats(allow_nan=True, allow_infinity=True)


@given(st.lists(st.tuples(int32, uint64, any_float, any_float, any_float, any_float), max_size=20))
def test_hit_round_trip_is_exact(values: list[tuple]) -> None:
    hits = [orvane.Hit(*v) for v in values]
    back = orvane.numpy_to_hit_list(orvane.hit_list_to_numpy(hits))
    assert [_hit_bits(h) for h in back] == [_hit_bits(h) for h in hits]


feature_values = st.fixed_dictionaries(
    {},
    optional={
        "channel": int32,
        "pmt_type": int32,
        "id": uint64,
        **{name: any_float for name in FLOAT_FEATURES},
    },
)


@given(st.lists(feature_values, max_size=20))
def test_feature_round_trip_keeps_every_non_marker_value(records: list[dict]) -> None:
    features = []
    for values in records:
        f = orvane.HitFeatures()
        for name, value in values.items():
            setattr(f, name, value)
        features.append(f)
    back = orvane.numpy_to_hit_features_list(orvane.hit_features_list_to_numpy(features))
    assert len(back) == len(records)
    for values, f in zip(records, back):
        for name, _, _ in FEATURE_FIELDS:
            value = values.get(name)
            is_marker = (
                value is None or value in (-1, 2**64 - 1)
                if name in INT_FEATURES
                else value is None or math.isnan(value)
            )
            assert getattr(f, f"has_{name}")() is not is_marker
            if not is_marker:
                assert getattr(f, name) == value
