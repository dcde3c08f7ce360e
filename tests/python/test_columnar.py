"""The columnar path against the object path: same rows, bit for bit, in every layout."""

from __future__ import annotations

import os
import signal
import threading
import time
from collections.abc import Callable
from pathlib import Path

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import orvane

# Charge from the integral (negative integrals outside the window, a negative covariance that
# makes some uncertainties NaN), time from the rising edge, and both from the multi-PMT values:
# many hits end invalid and are dropped.
SETTINGS = """\
extractors:
  Tarvo:
    drop_bad_edge: {edge}
    drop_bad_integral: {integral}
reco:
  charge:
    class: LinearReco
    feature: waveform_integral
    hit_property: charge
    pmt_type: -1
    slope: 0.0033
    intercept: 0.01
    slope_uncertainty: 0.0001
    intercept_uncertainty: 0.05
    covariance: -0.00002
    min_value: 0.0
    max_value: 1.0e6
  edge:
    class: LinearReco
    feature: rising_edge_time
    hit_property: time
    pmt_type: -1
    slope: 1.0
    intercept: -4.0e-9
    slope_uncertainty: 0.0
    intercept_uncertainty: 1.0e-9
    covariance: 0.0
    min_value: -.inf
    max_value: .inf
  adc:
    class: LinearReco
    feature: adc_sample
    hit_property: charge
    pmt_type: -1
    slope: 0.01
    intercept: 0.0
    slope_uncertainty: 0.001
    intercept_uncertainty: 0.1
    covariance: 0.0
    min_value: 0.0
    max_value: 60000.0
  module_time:
    class: LinearReco
    feature: trigger_time
    hit_property: time
    pmt_type: -1
    slope: 1.0
    intercept: -5.0e-9
    slope_uncertainty: 0.0
    intercept_uncertainty: 2.0e-9
    covariance: 0.0
    min_value: 1.0
    max_value: 90.0
"""

DROPS = [(False, False), (True, False), (False, True), (True, True)]
DROP_IDS = ["keep-all", "drop-edge", "drop-integral", "drop-both"]
# Thread counts of the columnar calls: each must give the rows (and errors) of one thread.
THREADS = [1, 2, 3, 7]

RUN = orvane.RunInfo()
RUN.run_number = 0x1_2345_6789  # only the low 32 bits reach the ids
RUN.time_offset_s = 3
RUN.time_offset_ns = 123_456_789


def write(tmp_path: Path, edge: bool, integral: bool) -> str:
    path = tmp_path / f"settings-{edge}-{integral}.yaml"
    path.write_text(SETTINGS.format(edge=str(edge).lower(), integral=str(integral).lower()))
    return str(path)


@pytest.fixture(params=DROPS, ids=DROP_IDS)
def drops(request: pytest.FixtureRequest) -> tuple[bool, bool]:
    return request.param


@pytest.fixture
def settings_path(tmp_path: Path, drops: tuple[bool, bool]) -> str:
    return write(tmp_path, *drops)


def assert_same_rows(actual: np.ndarray, expected: np.ndarray) -> None:
    """Same dtype, same length and every field equal byte for byte (NaN bits included)."""
    assert actual.dtype == expected.dtype
    assert actual.shape == expected.shape
    for name in expected.dtype.names:
        if actual[name].tobytes() != expected[name].tobytes():
            bad = [
                i
                for i in range(len(actual))
                if actual[name][i : i + 1].tobytes() != expected[name][i : i + 1].tobytes()
            ]
            pytest.fail(f"field {name} differs in rows {bad[:5]}")


# --- Random data -------------------------------------------------------------------------


class TarvoData:
    """Trigger rows with flat samples and offsets, and the same triggers as objects."""

    def __init__(self, rows: np.ndarray, samples: np.ndarray, offsets: np.ndarray) -> None:
        self.rows = rows
        self.samples = samples
        self.offsets = offsets

    def objects(self) -> list[orvane.TarvoTrigger]:
        out = []
        for i, row in enumerate(self.rows):
            t = orvane.TarvoTrigger()
            t.channel = int(row["channel"])
            t.trigger_time_s = int(row["trigger_time_s"])
            t.trigger_time_ticks = int(row["trigger_time_ticks"])
            t.baseline = float(row["baseline"])
            t.intsum = float(row["intsum"])
            t.waveform = self.samples[self.offsets[i] : self.offsets[i + 1]].tolist()
            out.append(t)
        return out

    def block(self) -> np.ndarray:
        """The waveforms as a (n, L) array; all must have one length."""
        return self.samples[self.offsets[0] : self.offsets[-1]].reshape(len(self.rows), -1)


def random_tarvo(
    rng: np.random.Generator,
    n: int,
    lengths: tuple[int, int] = (3, 80),
    short_dropped: bool = False,
) -> TarvoData:
    """Pulses on baselines near 1000 LSB (integral and fractional), some negative channels and
    integrals; with `short_dropped`, waveforms of 1 or 2 samples below their baseline (dropped
    under drop_bad_integral before the edge search)."""
    rows = np.zeros(n, orvane.tarvo_trigger_dtype)
    rows["channel"] = rng.integers(-3, 200, n)
    rows["trigger_time_s"] = rng.integers(0, 5000, n)
    rows["trigger_time_ticks"] = rng.integers(0, 250_000_000, n)
    base = rng.uniform(900, 1100, n).astype(np.float32)
    rows["baseline"] = np.where(rng.random(n) < 0.5, np.round(base), base)
    rows["intsum"] = rng.uniform(0, 1e4, n)
    waves = []
    for i in range(n):
        length = int(rng.integers(lengths[0], lengths[1] + 1))
        if short_dropped and rng.random() < 0.1:
            rows["baseline"][i] = 2000.5
            waves.append(np.full(int(rng.integers(1, 3)), 7, np.uint16))
            continue
        start = int(rng.integers(0, length))
        t = np.arange(length) - start
        height = 0.0 if rng.random() < 0.3 else rng.uniform(20, 3000)
        pulse = np.where(t >= 0, height * np.exp(-np.clip(t, 0, None) / 5.0), 0.0)
        noise = rng.integers(-30, 31, length)
        waves.append(np.clip(rows["baseline"][i] + noise + pulse, 0, 65535).astype(np.uint16))
    offsets = np.zeros(n + 1, np.int64)
    offsets[1:] = np.cumsum([len(w) for w in waves])
    samples = np.concatenate(waves) if waves else np.zeros(0, np.uint16)
    return TarvoData(rows, samples.astype(np.uint16), offsets)


def random_multipmt(rng: np.random.Generator, n: int) -> np.ndarray:
    rows = np.zeros(n, orvane.multipmt_trigger_dtype)
    specials = np.array([np.nan, np.inf, -np.inf, -0.0, 0.0])
    rows["time"] = np.where(rng.random(n) < 0.1, rng.choice(specials, n), rng.uniform(0, 100, n))
    rows["channel"] = rng.integers(-2, 100, n)
    rows["time_over_threshold"] = np.where(
        rng.random(n) < 0.1, rng.choice(specials, n), rng.uniform(0, 1e-7, n)
    )
    rows["adc_sample"] = rng.integers(0, 65536, n)
    return rows


def multipmt_objects(rows: np.ndarray) -> list[orvane.MultiPMTTrigger]:
    out = []
    for row in rows:
        t = orvane.MultiPMTTrigger()
        t.time = float(row["time"])
        t.channel = int(row["channel"])
        t.time_over_threshold = float(row["time_over_threshold"])
        t.adc_sample = int(row["adc_sample"])
        out.append(t)
    return out


def random_feature_rows(rng: np.random.Generator, n: int) -> np.ndarray:
    """Feature rows where every field sometimes holds its unset marker, other negative
    integers, NaNs of other bit patterns or infinities."""
    rows = np.zeros(n, orvane.hit_features_dtype)
    for name in ("channel", "pmt_type"):
        rows[name] = rng.choice([-1, -2, 0, 1, 2, 5, 77], n)
    rows["id"] = np.where(rng.random(n) < 0.1, -1, rng.integers(-(2**63), 2**63 - 1, n))
    odd_nan = np.array([0x7FF0000000000001], np.uint64).view(np.float64)[0]
    specials = np.array([np.nan, -np.nan, odd_nan, np.inf, -np.inf])
    for name in (
        "trigger_time",
        "waveform_integral",
        "time_over_threshold",
        "adc_sample",
        "rising_edge_time",
    ):
        rows[name] = np.where(
            rng.random(n) < 0.15, rng.choice(specials, n), rng.uniform(-100, 70000, n)
        )
    return rows


# --- Same results as the object path ---------------------------------------------------------


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_tarvo_rows_match_the_object_path(
    settings_path: str, drops: tuple[bool, bool], seed: int
) -> None:
    data = random_tarvo(np.random.default_rng(seed), 400, short_dropped=drops[1])
    objects = data.objects()
    extractor = orvane.FeatureExtractor(settings_path)
    reco = orvane.ChargeReconstruction(settings_path)

    expected = orvane.hit_features_list_to_numpy(extractor.extract_features(objects, RUN))
    expected_hits = orvane.hit_list_to_numpy(reco.reconstruct(objects, RUN))
    # The drops counted directly: the triggers without a record, by the sign of the integral.
    dropped = np.ones(len(data.rows), bool)
    dropped[(expected["id"] >> 4) & 0x0FFFFFFF] = False
    integral = [
        np.sum(np.float64(w) - np.float64(t.baseline))
        for w, t in zip((o.waveform for o in objects), objects)
    ]
    cause = np.where(drops[1] & (np.array(integral) < 0), "bad_integral", "bad_edge")
    counted = np.zeros(0, orvane.drop_dtype)
    for channel in np.unique(data.rows["channel"][dropped]):
        on = dropped & (data.rows["channel"] == channel)
        row = (
            channel,
            0,
            np.sum(on & (cause == "bad_edge")),
            np.sum(on & (cause != "bad_edge")),
            0,
        )
        counted = np.append(counted, np.array([row], orvane.drop_dtype))
    for threads in THREADS:
        actual, drops_found = extractor.extract_tarvo_numpy(
            data.rows, data.samples, data.offsets, run_info=RUN, threads=threads, return_drops=True
        )
        assert_same_rows(actual, expected)
        assert_same_rows(drops_found, counted)
        hits, truncated, drops_found = reco.reconstruct_tarvo_numpy(
            data.rows,
            data.samples,
            data.offsets,
            run_info=RUN,
            threads=threads,
            return_truncated=True,
            return_drops=True,
        )
        assert_same_rows(hits, expected_hits)
        assert_same_rows(drops_found, counted)
    assert 0 < len(hits) < len(data.rows)  # drops and invalid hits occur
    assert (len(counted) > 0) == any(drops) and truncated == 0


def linear_reco(name: str, feature: str, prop: str, slope: float, low: float, high: float) -> str:
    """A LinearReco whose uncertainty is 1 whatever the feature (ties between reconstructors)."""
    return (
        f"  {name}:\n    class: LinearReco\n    feature: {feature}\n    hit_property: {prop}\n"
        f"    pmt_type: -1\n    slope: {slope}\n    intercept: 0.0\n    slope_uncertainty: 0.0\n"
        f"    intercept_uncertainty: 1.0\n    covariance: 0.0\n"
        f"    min_value: {low}\n    max_value: {high}\n"
    )


# Waveform triggers with LinearRecos alone take the columnar path's own loop: each shape of
# reco section it takes, with the integral and the trigger time exactly on window bounds.
CHARGE_50_100 = linear_reco("q", "waveform_integral", "charge", 2.0, 50, 100)
TIME_TO_7 = linear_reco("t", "trigger_time", "time", 1.0, "-.inf", 7.0)
FUSED_SHAPES = {
    "none-acts": linear_reco("a", "adc_sample", "charge", 1.0, "-.inf", ".inf"),
    "charge-only": CHARGE_50_100,
    "window-bounds": CHARGE_50_100 + TIME_TO_7,
    "equal-uncertainties": CHARGE_50_100
    + linear_reco("q2", "waveform_integral", "charge", 3.0, "-.inf", ".inf")
    + TIME_TO_7,
    "nine-recos": "".join(
        linear_reco(f"e{k}", "rising_edge_time", "time", 1.0, "-.inf", ".inf") for k in range(8)
    )
    + CHARGE_50_100,
}


@pytest.mark.parametrize("shape", list(FUSED_SHAPES))
def test_linear_recos_on_waveforms_match_the_object_path(tmp_path: Path, shape: str) -> None:
    """Integrals 0..199 and trigger times 0..9 s: a value at min_value is acted on, one at
    max_value is not, and of equal uncertainties the first reconstructor's value stays."""
    n = 200
    rows = np.zeros(n, orvane.tarvo_trigger_dtype)
    rows["channel"] = np.arange(n) % 5
    rows["trigger_time_s"] = np.arange(n) % 10
    rows["baseline"] = 1000.0
    block = np.full((n, 16), 1000, np.uint16)
    integral = np.arange(n, dtype=np.uint16)
    block[:, 5] += integral // 2
    block[:, 6] += integral - integral // 2
    path = tmp_path / "s.yaml"
    path.write_text(
        "extractors:\n  Tarvo: {drop_bad_edge: false, drop_bad_integral: false}\nreco:\n"
        + FUSED_SHAPES[shape]
    )
    engine = orvane.ChargeReconstruction(str(path))
    hits = engine.reconstruct_tarvo_numpy(rows, block)
    objects = TarvoData(rows, block.ravel(), np.arange(n + 1) * 16).objects()
    assert_same_rows(hits, orvane.hit_list_to_numpy(engine.reconstruct(objects)))
    if shape in ("window-bounds", "equal-uncertainties"):
        index = (hits["id"] >> 4) & 0x0FFFFFFF
        window = (index >= 50) & (index < 100)
        both = shape == "equal-uncertainties"  # the second charge reco acts on every integral
        assert index.tolist() == [i for i in range(n) if i % 10 < 7 and (both or 50 <= i < 100)]
        assert (hits["charge"] == np.where(window, 2.0, 3.0) * index).all()


def test_fixed_length_waveforms_match_the_object_path(settings_path: str) -> None:
    data = random_tarvo(np.random.default_rng(7), 300, lengths=(64, 64))
    reco = orvane.ChargeReconstruction(settings_path)
    expected = orvane.hit_list_to_numpy(reco.reconstruct(data.objects()))
    assert_same_rows(reco.reconstruct_tarvo_numpy(data.rows, data.block()), expected)


def test_multipmt_rows_match_the_object_path(settings_path: str) -> None:
    rows = random_multipmt(np.random.default_rng(11), 500)
    objects = multipmt_objects(rows)
    extractor = orvane.FeatureExtractor(settings_path)
    reco = orvane.ChargeReconstruction(settings_path)
    features = orvane.hit_features_list_to_numpy(extractor.extract_features(objects, RUN))
    expected = orvane.hit_list_to_numpy(reco.reconstruct(objects, RUN))
    for threads in THREADS:
        assert_same_rows(
            extractor.extract_multipmt_numpy(rows, run_info=RUN, threads=threads), features
        )
        hits = reco.reconstruct_multipmt_numpy(rows, run_info=RUN, threads=threads)
        assert_same_rows(hits, expected)
    assert 0 < len(hits) < len(rows)


@pytest.mark.parametrize("no_discard", [False, True], ids=["discard", "no-discard"])
def test_make_hits_numpy_matches_make_hits(tmp_path: Path, no_discard: bool) -> None:
    maker = orvane.HitMaker(write(tmp_path, False, False))
    rows = random_feature_rows(np.random.default_rng(5), 3000)
    expected = orvane.hit_list_to_numpy(
        maker.make_hits(orvane.numpy_to_hit_features_list(rows), no_discard)
    )
    for threads in THREADS:
        actual = maker.make_hits_numpy(rows, no_discard=no_discard, threads=threads)
        assert_same_rows(actual, expected)
    assert len(actual) == len(rows) if no_discard else 0 < len(actual) < len(rows)


def test_both_kinds_numbered_as_one_list(tmp_path: Path) -> None:
    """Tarvo triggers at positions 0..n-1 and multi-PMT triggers after them give the ids of
    one mixed list in that order."""
    path = write(tmp_path, False, False)
    rng = np.random.default_rng(3)
    data = random_tarvo(rng, 50)
    pmt = random_multipmt(rng, 30)
    reco = orvane.ChargeReconstruction(path)
    expected = orvane.hit_list_to_numpy(reco.reconstruct(data.objects() + multipmt_objects(pmt)))
    # NumPy's promotion would drop the padding of the row type: keep it with dtype=.
    joined = np.concatenate(
        [
            reco.reconstruct_tarvo_numpy(data.rows, data.samples, data.offsets),
            reco.reconstruct_multipmt_numpy(pmt, first_trigger=50),
        ],
        dtype=orvane.hit_dtype,
    )
    assert_same_rows(joined, expected)
    run = orvane.RunInfo.simulation_run().run_number
    assert (joined["id"].astype(np.uint64) >> np.uint64(32) == run).all()


@pytest.mark.parametrize("chunk", [1, 13, 128, 500], ids=lambda c: f"chunk-{c}")
def test_chunks_with_their_first_position_give_the_ids_of_one_call(
    tmp_path: Path, chunk: int
) -> None:
    path = write(tmp_path, True, True)
    data = random_tarvo(np.random.default_rng(9), 500, short_dropped=True)
    reco = orvane.ChargeReconstruction(path)
    extractor = orvane.FeatureExtractor(path)
    whole = reco.reconstruct_tarvo_numpy(data.rows, data.samples, data.offsets)
    assert_same_rows(whole, orvane.hit_list_to_numpy(reco.reconstruct(data.objects())))
    hits, features = [], []
    for first in range(0, len(data.rows), chunk):
        rows = data.rows[first : first + chunk]
        offsets = data.offsets[first : first + len(rows) + 1]  # offsets[0] is not 0
        hits.append(reco.reconstruct_tarvo_numpy(rows, data.samples, offsets, first))
        features.append(extractor.extract_tarvo_numpy(rows, data.samples, offsets, first))
    assert_same_rows(np.concatenate(hits, dtype=orvane.hit_dtype), whole)
    assert_same_rows(
        np.concatenate(features, dtype=orvane.hit_features_dtype),
        extractor.extract_tarvo_numpy(data.rows, data.samples, data.offsets),
    )


tarvo_trigger = st.tuples(
    st.integers(-(2**31), 2**31 - 1),
    st.integers(0, 2**32 - 1),
    st.integers(0, 2**32 - 1),
    # A baseline that is not a finite number is refused by the columnar calls alone.
    st.floats(width=32, allow_nan=False, allow_infinity=False),
    # Now and then a waveform too short for the edge search: the call fails at the first one.
    st.lists(st.integers(0, 65535), min_size=1, max_size=40),
)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    triggers=st.lists(tarvo_trigger, max_size=12),
    drops=st.sampled_from(DROPS),
    first=st.integers(0, 2**28 - 13),
    threads=st.sampled_from(THREADS[1:]),
)
def test_property_any_triggers_give_the_object_paths_hits(
    tmp_path_factory: pytest.TempPathFactory,
    triggers: list[tuple[int, int, int, float, list[int]]],
    drops: tuple[bool, bool],
    first: int,
    threads: int,
) -> None:
    """Any threads give one thread's rows, or its error (the first failing row's); one thread
    gives the object path's rows, or its error with the row added."""
    path = write(tmp_path_factory.getbasetemp(), *drops)
    rows = np.zeros(len(triggers), orvane.tarvo_trigger_dtype)
    objects = []
    for i, (channel, seconds, ticks, baseline, waveform) in enumerate(triggers):
        rows[i] = (channel, seconds, ticks, baseline, 0.0)
        t = orvane.TarvoTrigger()
        t.channel, t.trigger_time_s, t.trigger_time_ticks = channel, seconds, ticks
        t.baseline = baseline
        t.waveform = waveform
        objects.append(t)
    samples = np.array([s for t in triggers for s in t[4]], np.uint16)
    offsets = np.concatenate([[0], np.cumsum([len(t[4]) for t in triggers])]).astype(np.int64)
    reco = orvane.ChargeReconstruction(path)
    extractor = orvane.FeatureExtractor(path)
    # The object path numbers from 0; shifting its ids by `first` positions gives the ids a
    # call with first_trigger = first must give.
    shift = np.int64(first << 4)
    calls: list[tuple[Callable[..., np.ndarray], Callable[[], np.ndarray]]] = [
        (
            reco.reconstruct_tarvo_numpy,
            lambda: orvane.hit_list_to_numpy(reco.reconstruct(objects, RUN)),
        ),
        (
            extractor.extract_tarvo_numpy,
            lambda: orvane.hit_features_list_to_numpy(extractor.extract_features(objects, RUN)),
        ),
    ]
    for columnar, object_path in calls:
        try:
            expected = object_path()
        except ValueError as error:
            with pytest.raises(ValueError) as one:
                columnar(rows, samples, offsets, first, run_info=RUN)
            assert str(one.value).startswith(str(error))
            with pytest.raises(ValueError) as many:
                columnar(rows, samples, offsets, first, run_info=RUN, threads=threads)
            assert str(many.value) == str(one.value)
            continue
        expected["id"] += shift
        assert_same_rows(columnar(rows, samples, offsets, first, run_info=RUN), expected)
        assert_same_rows(
            columnar(rows, samples, offsets, first, run_info=RUN, threads=threads), expected
        )


# --- Layouts ---------------------------------------------------------------------------------


def strided_layouts(data: TarvoData) -> dict[str, tuple[np.ndarray, np.ndarray, np.ndarray | None]]:
    """Views of `data` (fixed-length waveforms) that NumPy hands over without copying."""
    n = len(data.rows)
    block = data.block()
    wide = np.zeros((n, block.shape[1] + 5), np.uint16)
    wide[:, 3 : 3 + block.shape[1]] = block
    fortran = np.asfortranarray(block)
    spread = np.zeros(2 * len(data.samples), np.uint16)
    spread[::2] = data.samples
    wider_rows = np.zeros(n, [("pad", "u1"), ("row", orvane.tarvo_trigger_dtype)])
    wider_rows["row"] = data.rows
    misaligned = np.zeros(2 * len(data.samples) + 1, np.uint8)
    misaligned_samples = misaligned[1:].view(np.uint16)
    misaligned_samples[:] = data.samples
    return {
        "column-slice": (data.rows, wide[:, 3 : 3 + block.shape[1]], None),
        "fortran-order": (data.rows, fortran, None),
        "every-other-sample": (data.rows, spread[::2], data.offsets),
        "rows-inside-wider-records": (wider_rows["row"], block, None),
        "misaligned-samples": (data.rows, misaligned_samples, data.offsets),
        "int64-offsets-view": (data.rows, data.samples, np.stack([data.offsets] * 2, 1)[:, 1]),
    }


LAYOUTS = [
    "column-slice",
    "fortran-order",
    "every-other-sample",
    "rows-inside-wider-records",
    "misaligned-samples",
    "int64-offsets-view",
]


@pytest.mark.parametrize("layout", LAYOUTS)
def test_non_contiguous_inputs_are_read_correctly(tmp_path: Path, layout: str) -> None:
    data = random_tarvo(np.random.default_rng(21), 200, lengths=(32, 32))
    reco = orvane.ChargeReconstruction(write(tmp_path, True, False))
    expected = orvane.hit_list_to_numpy(reco.reconstruct(data.objects()))
    triggers, waveforms, offsets = strided_layouts(data)[layout]
    given = [a for a in (triggers, waveforms, offsets) if a is not None]
    assert not all(a.flags.c_contiguous and a.flags.aligned for a in given)
    assert_same_rows(reco.reconstruct_tarvo_numpy(triggers, waveforms, offsets), expected)


def test_every_other_trigger(tmp_path: Path) -> None:
    data = random_tarvo(np.random.default_rng(4), 200, lengths=(16, 16))
    reco = orvane.ChargeReconstruction(write(tmp_path, False, False))
    block = data.block()
    objects = data.objects()[::2]
    expected = orvane.hit_list_to_numpy(reco.reconstruct(objects))
    assert_same_rows(reco.reconstruct_tarvo_numpy(data.rows[::2], block[::2]), expected)


def test_conversions_numpy_can_do_are_done(tmp_path: Path) -> None:
    """Rows given as tuples or with other field types and samples as int64 lists."""
    data = random_tarvo(np.random.default_rng(8), 20, lengths=(8, 8))
    reco = orvane.ChargeReconstruction(write(tmp_path, False, False))
    expected = reco.reconstruct_tarvo_numpy(data.rows, data.block())
    as_tuples = [tuple(row) for row in data.rows.tolist()]
    other_types = data.rows.astype(
        [
            ("channel", ">i8"),
            ("trigger_time_s", "u8"),
            ("trigger_time_ticks", "i8"),
            ("baseline", "f8"),
            ("intsum", "f4"),
        ]
    )
    assert_same_rows(reco.reconstruct_tarvo_numpy(as_tuples, data.block().tolist()), expected)
    assert_same_rows(reco.reconstruct_tarvo_numpy(other_types, data.block().astype(int)), expected)


def test_empty_input_gives_empty_rows(tmp_path: Path) -> None:
    path = write(tmp_path, False, False)
    reco = orvane.ChargeReconstruction(path)
    rows = np.zeros(0, orvane.tarvo_trigger_dtype)
    assert reco.reconstruct_tarvo_numpy(rows, np.zeros((0, 5), np.uint16)).dtype == orvane.hit_dtype
    assert len(reco.reconstruct_tarvo_numpy(rows, np.zeros(0, np.uint16), [0])) == 0
    features = orvane.FeatureExtractor(path).extract_multipmt_numpy(
        np.zeros(0, orvane.multipmt_trigger_dtype)
    )
    assert features.dtype == orvane.hit_features_dtype and len(features) == 0


def test_trigger_row_types() -> None:
    tarvo = orvane.tarvo_trigger_dtype
    assert tarvo.names == ("channel", "trigger_time_s", "trigger_time_ticks", "baseline", "intsum")
    assert [tarvo.fields[n][1] for n in tarvo.names] == [0, 4, 8, 12, 16]
    assert tarvo.itemsize == 20
    pmt = orvane.multipmt_trigger_dtype
    assert pmt.names == ("time", "channel", "time_over_threshold", "adc_sample")
    assert [pmt.fields[n][1] for n in pmt.names] == [0, 8, 16, 24]
    assert [pmt.fields[n][0] for n in pmt.names] == [np.dtype(t) for t in ("f8", "i4", "f8", "u2")]
    assert pmt.itemsize == 32


# --- Input errors ----------------------------------------------------------------------------


def good_input() -> dict[str, object]:
    rows = np.zeros(3, orvane.tarvo_trigger_dtype)
    return {
        "triggers": rows,
        "waveforms": np.arange(12, dtype=np.uint16),
        "offsets": np.array([0, 4, 8, 12]),
    }


def wide_rows(field: str, value: float) -> np.ndarray:
    """The good input's three trigger rows in wider field types (int64, float64), with `value`
    in row 1 of `field`."""
    floats = ("baseline", "intsum", field) if isinstance(value, float) else ("baseline", "intsum")
    names = orvane.tarvo_trigger_dtype.names
    rows = np.zeros(3, [(name, "f8" if name in floats else "i8") for name in names])
    rows[field][1] = value
    return rows


HUGE = 2**40  # rows of a broadcast input, far beyond the trigger limit

BAD_INPUTS: list[tuple[str, dict[str, object], type[Exception], str]] = [
    (
        "plain-float-triggers",
        {"triggers": np.zeros(3)},
        TypeError,
        r"triggers must be an array of tarvo_trigger_dtype rows .* got dtype float64",
    ),
    (
        "foreign-fields",
        {"triggers": np.zeros(3, [("a", "i4"), ("b", "f8")])},
        TypeError,
        "triggers must be an array of tarvo_trigger_dtype rows",
    ),
    ("not-convertible", {"triggers": [("x",)]}, TypeError, "triggers cannot be converted"),
    (
        "two-dimensional-triggers",
        {"triggers": np.zeros((3, 1), orvane.tarvo_trigger_dtype)},
        ValueError,
        r"triggers must be a one-dimensional array of rows, got shape \(3, 1\)",
    ),
    (
        "float-samples",
        {"waveforms": np.zeros(12)},
        TypeError,
        r"waveforms must be an array of integers \(uint16\), got dtype float64",
    ),
    (
        "negative-sample",
        {"waveforms": np.array([-1] + [0] * 11)},
        ValueError,
        r"waveforms holds values from -1 to 0, outside the range of uint16 \(0 to 65535\)",
    ),
    ("sample-too-large", {"waveforms": np.full(12, 70000)}, ValueError, "outside the range"),
    (
        "flat-samples-without-offsets",
        {"offsets": None},
        ValueError,
        (
            r"waveforms must be a two-dimensional array \(triggers, samples\) when offsets is None, "
            r"got shape \(12,\)"
        ),
    ),
    (
        "block-with-offsets",
        {"waveforms": np.zeros((3, 4), np.uint16)},
        ValueError,
        "waveforms must be a one-dimensional array of samples when offsets are given",
    ),
    (
        "block-rows-differ",
        {"waveforms": np.zeros((2, 4), np.uint16), "offsets": None},
        ValueError,
        "waveforms has 2 rows but triggers has 3 rows",
    ),
    (
        "float-offsets",
        {"offsets": np.array([0.0, 4, 8, 12])},
        TypeError,
        r"offsets must be an array of integers \(int64\)",
    ),
    (
        "too-few-offsets",
        {"offsets": np.array([0, 4, 8])},
        ValueError,
        "offsets has 3 entries but triggers has 3 rows",
    ),
    (
        "decreasing-offsets",
        {"offsets": np.array([0, 8, 4, 12])},
        ValueError,
        r"offsets must not decrease, but offsets\[2\] = 4 is below offsets\[1\] = 8",
    ),
    (
        "offset-past-the-samples",
        {"offsets": np.array([0, 4, 8, 13])},
        ValueError,
        r"offsets\[3\] = 13 lies outside \[0, 12\]",
    ),
    (
        "huge-unsigned-offset",
        {"offsets": np.array([0, 4, 8, 2**64 - 1], np.uint64)},
        ValueError,
        "offsets holds values from 0 to 18446744073709551615, outside the range of int64",
    ),
    ("positions-past-the-id", {"first_trigger": 2**28 - 2}, ValueError, "28-bit trigger index"),
    (
        "broadcast-past-the-id",
        {
            "triggers": np.broadcast_to(np.zeros(1, orvane.tarvo_trigger_dtype), (HUGE,)),
            "waveforms": np.broadcast_to(np.zeros(4, np.uint16), (HUGE, 4)),
            "offsets": None,
        },
        ValueError,
        "28-bit trigger index",
    ),
    (
        "wide-channel-past-int32",
        {"triggers": wide_rows("channel", 2**32 + 7)},
        ValueError,
        r"triggers field channel holds 4294967303 in row 1, outside the range of int32",
    ),
    (
        "wide-seconds-past-uint32",
        {"triggers": wide_rows("trigger_time_s", 2**32 + 3)},
        ValueError,
        r"field trigger_time_s holds 4294967299 in row 1, outside the range of uint32",
    ),
    (
        "fractional-ticks",
        {"triggers": wide_rows("trigger_time_ticks", 2.5)},
        ValueError,
        "field trigger_time_ticks holds 2.5 in row 1, not an integer within the range of uint32",
    ),
    ("nan-seconds", {"triggers": wide_rows("trigger_time_s", np.nan)}, ValueError, "holds nan"),
    (
        "baseline-past-float32",
        {"triggers": wide_rows("baseline", 1e300)},
        ValueError,
        "field baseline holds 1e[+]300 in row 1, too large for float32",
    ),
    (
        "nan-baseline",
        {"triggers": wide_rows("baseline", np.nan).astype(orvane.tarvo_trigger_dtype)},
        ValueError,
        "triggers field baseline holds nan in row 1, not a finite number",
    ),
    (
        "fraction-in-tuples",
        {"triggers": [(0, 0, 0, 0.0, 0.0), (0, 2.5, 0, 0.0, 0.0), (0, 0, 0, 0.0, 0.0)]},
        ValueError,
        "field trigger_time_s holds 2.5 in row 1",
    ),
    ("negative-threads", {"threads": -1}, ValueError, "threads must be 1 to 1024, or 0 for"),
    ("too-many-threads", {"threads": 2**61}, ValueError, "threads must be 1 to 1024"),
    ("negative-first-trigger", {"first_trigger": -1}, TypeError, "incompatible function"),
]


@pytest.mark.parametrize(
    ("change", "error", "message"),
    [case[1:] for case in BAD_INPUTS],
    ids=[case[0] for case in BAD_INPUTS],
)
@pytest.mark.parametrize("method", ["extract", "reconstruct"])
def test_bad_input_is_refused_with_a_clear_error(
    tmp_path: Path, method: str, change: dict[str, object], error: type[Exception], message: str
) -> None:
    path = write(tmp_path, False, False)
    call: Callable[..., np.ndarray] = (
        orvane.FeatureExtractor(path).extract_tarvo_numpy
        if method == "extract"
        else orvane.ChargeReconstruction(path).reconstruct_tarvo_numpy
    )
    arguments = good_input()
    call(**arguments)  # the unchanged input is fine
    arguments.update(change)
    before = {
        k: v.tobytes()
        for k, v in arguments.items()
        if isinstance(v, np.ndarray) and v.nbytes < 2**20  # not the broadcast ones
    }
    with pytest.raises(error, match=message):
        call(**arguments)
    for key, value in before.items():  # the inputs are left as they were
        assert arguments[key].tobytes() == value


@pytest.mark.parametrize("drop_integral", [False, True], ids=["no-drop", "drop-integral"])
def test_short_waveform_fails_as_the_object_path_does(tmp_path: Path, drop_integral: bool) -> None:
    path = write(tmp_path, False, drop_integral)
    rows = np.zeros(3, orvane.tarvo_trigger_dtype)
    rows["baseline"] = [0.5, 0.5, 0.5]
    samples = np.array([0, 5, 9, 9, 9, 1, 2, 3, 4], np.uint16)
    offsets = np.array([0, 4, 6, 9])
    extractor = orvane.FeatureExtractor(path)
    message = "Waveform must have at least 3 samples to calculate the differential maximum."
    with pytest.raises(ValueError, match=message) as info:
        orvane.ChargeReconstruction(path).reconstruct_tarvo_numpy(rows, samples, offsets, 10)
    assert str(info.value) == f"{message} Trigger row 1 (trigger position 11) has 2 samples."
    assert isinstance(info.value.__cause__, ValueError)
    assert str(info.value.__cause__) == message
    # The object path fails the same way.
    objects = TarvoData(rows, samples, offsets).objects()
    with pytest.raises(ValueError, match=message):
        extractor.extract_features(objects)
    # Below its baseline, the short waveform is dropped first under drop_bad_integral.
    rows["baseline"][1] = 100.0
    if drop_integral:
        assert len(extractor.extract_tarvo_numpy(rows, samples, offsets)) == 2
    else:
        with pytest.raises(ValueError, match=message):
            extractor.extract_tarvo_numpy(rows, samples, offsets)


def test_multipmt_and_feature_rows_are_checked(tmp_path: Path) -> None:
    path = write(tmp_path, False, False)
    with pytest.raises(TypeError, match="triggers must be an array of multipmt_trigger_dtype"):
        orvane.ChargeReconstruction(path).reconstruct_multipmt_numpy(
            np.zeros(2, orvane.tarvo_trigger_dtype)
        )
    with pytest.raises(ValueError, match="one-dimensional"):
        orvane.FeatureExtractor(path).extract_multipmt_numpy(
            np.zeros((2, 2), orvane.multipmt_trigger_dtype)
        )
    wide = np.zeros(2, [(name, "f8") for name in orvane.multipmt_trigger_dtype.names])
    wide["adc_sample"][1] = 70000.0
    with pytest.raises(ValueError, match="field adc_sample holds 70000.0 in row 1, not an int"):
        orvane.FeatureExtractor(path).extract_multipmt_numpy(wide)
    with pytest.raises(TypeError, match="features must be an array of hit_features_dtype"):
        orvane.HitMaker(path).make_hits_numpy(np.zeros(2, orvane.hit_dtype))


# --- Threads and the interpreter lock --------------------------------------------------------


def test_two_threads_on_one_reconstruction_give_the_results_of_one(tmp_path: Path) -> None:
    reco = orvane.ChargeReconstruction(write(tmp_path, True, False))
    chunks = [random_tarvo(np.random.default_rng(100 + i), 2000) for i in range(8)]
    expected = [
        reco.reconstruct_tarvo_numpy(c.rows, c.samples, c.offsets, 2000 * i)
        for i, c in enumerate(chunks)
    ]
    results: dict[int, np.ndarray] = {}

    def work(indices: range) -> None:
        for _ in range(5):
            for i in indices:
                c = chunks[i]
                results[i] = reco.reconstruct_tarvo_numpy(c.rows, c.samples, c.offsets, 2000 * i)
                assert_same_rows(results[i], expected[i])

    threads = [threading.Thread(target=work, args=(r,)) for r in (range(0, 8, 2), range(1, 8, 2))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i in range(8):
        assert_same_rows(results[i], expected[i])


def test_the_lock_is_released_while_the_library_works(tmp_path: Path) -> None:
    """While one thread reconstructs, another keeps running Python code: the longest pause the
    second one sees is far below the duration of the call."""
    reco = orvane.ChargeReconstruction(write(tmp_path, False, False))
    data = random_tarvo(np.random.default_rng(1), 2000, lengths=(64, 64))
    rows = np.tile(data.rows, 500)
    block = np.tile(data.block(), (500, 1))
    durations: list[float] = []

    def work() -> None:
        for _ in range(4):
            start = time.perf_counter()
            reco.reconstruct_tarvo_numpy(rows, block)
            durations.append(time.perf_counter() - start)

    worker = threading.Thread(target=work)
    longest = 0.0
    worker.start()
    last = time.perf_counter()
    while worker.is_alive():
        now = time.perf_counter()
        longest = max(longest, now - last)
        last = now
    worker.join()
    assert min(durations) > 0.02
    assert longest < 0.5 * min(durations), (longest, durations)


@pytest.mark.parametrize("threads", [1, 2])
def test_ctrl_c_stops_a_long_call_promptly(tmp_path: Path, threads: int) -> None:
    """SIGINT sent while a call of a minute or more runs (a broadcast input of flat waveforms,
    all dropped) ends it with KeyboardInterrupt within seconds."""
    # Python's own handler, even where the test run was started with SIGINT ignored.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    reco = orvane.ChargeReconstruction(write(tmp_path, True, False))
    n = 2**26
    rows = np.broadcast_to(np.zeros(1, orvane.tarvo_trigger_dtype), (n,))
    waveforms = np.broadcast_to(np.full(4096, 5, np.uint16), (n, 4096))
    calling = threading.Event()

    def interrupt() -> None:
        calling.wait()
        time.sleep(0.2)  # the call has begun by now
        os.kill(os.getpid(), signal.SIGINT)

    sender = threading.Thread(target=interrupt)
    sender.start()
    start = time.perf_counter()
    try:
        with pytest.raises(KeyboardInterrupt):
            calling.set()
            reco.reconstruct_tarvo_numpy(rows, waveforms, threads=threads)
    finally:
        elapsed = time.perf_counter() - start
        sender.join()
        signal.signal(signal.SIGINT, previous)
    assert elapsed < 20.0


class Boom(Exception):
    pass


def test_python_callable_reconstructors_are_called_with_the_lock_held(tmp_path: Path) -> None:
    maker = orvane.HitMaker(write(tmp_path, False, False))
    seen: list[int] = []

    def shift_time(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        seen.append(features.channel)
        hit.update_time(hit.time + 1.0, 1e-12)
        return hit

    maker.add_reconstructor_from_callable(shift_time)
    rows = random_feature_rows(np.random.default_rng(6), 300)
    expected = orvane.hit_list_to_numpy(maker.make_hits(orvane.numpy_to_hit_features_list(rows)))
    calls = len(seen)
    assert_same_rows(maker.make_hits_numpy(rows), expected)
    assert len(seen) == 2 * calls > 0
    # More threads are refused quietly: one thread calls the callable, in row order.
    assert_same_rows(maker.make_hits_numpy(rows, threads=4), expected)
    assert seen[2 * calls :] == seen[:calls]

    def boom(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        raise Boom("from the callable")

    maker.add_reconstructor_from_callable(boom)
    with pytest.raises(Boom, match="from the callable"):
        maker.make_hits_numpy(rows)


def test_a_callable_adding_reconstructors_during_the_call_is_safe(tmp_path: Path) -> None:
    """The batch call works on the reconstructors present when it starts, in every chunk."""
    path = write(tmp_path, False, False)
    maker = orvane.HitMaker(path)

    def boom(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        raise Boom("added during the call")

    def grow(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        maker.add_reconstructor_from_callable(boom)
        return hit

    maker.add_reconstructor_from_callable(grow)
    plain = orvane.HitMaker(path)
    plain.add_reconstructor_from_callable(lambda features, hit: hit)
    rows = random_feature_rows(np.random.default_rng(2), 20_000)  # several chunks
    expected = plain.make_hits_numpy(rows)
    assert len(expected) > 0
    assert_same_rows(maker.make_hits_numpy(rows), expected)
