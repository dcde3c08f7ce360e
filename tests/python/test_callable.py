"""Reconstructors written in Python: HitMaker.add_reconstructor_from_callable."""

from __future__ import annotations

import gc
import math
import weakref
from collections.abc import Callable

import pytest

import orvane
from builders import make_features


def _maker(*callables: Callable[..., object]) -> orvane.HitMaker:
    maker = orvane.HitMaker()
    for callable_ in callables:
        maker.add_reconstructor_from_callable(callable_)
    return maker


def _measure(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
    hit.update_time(features.trigger_time, 1e-9)
    hit.update_charge(2.0, 0.5)
    return hit


class UserError(Exception):
    """An exception class only the test knows."""


def _raise(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
    raise UserError("from the callable")


class Subhit(orvane.Hit):
    """A Python subclass of Hit; accepted as a result."""


@pytest.mark.parametrize(
    ("callable_", "error", "message"),
    [
        (_raise, UserError, "^from the callable$"),
        (lambda f, h: None, RuntimeError, "^$"),
        (lambda f, h: 1, RuntimeError, r"^Unable to cast Python instance of type <class 'int'>"),
        (lambda f, h: f, RuntimeError, r"^Unable to cast Python instance of type "),
        (lambda f: f, TypeError, "argument"),
        (lambda f, h, x: h, TypeError, "argument"),
    ],
    ids=["raises", "returns-None", "returns-int", "returns-features", "one-arg", "three-args"],
)
def test_failures_reach_the_caller_of_make_hits(
    callable_: Callable[..., object], error: type[Exception], message: str
) -> None:
    maker = _maker(callable_)
    with pytest.raises(error, match=message):
        maker.make_hits([make_features(trigger_time=1.0)])
    # No partial result was kept; the maker stays usable.
    assert len(maker.make_hits([])) == 0


@pytest.mark.parametrize("value", [5, None, "name"], ids=str)
def test_non_callable_is_refused(value: object) -> None:
    maker = orvane.HitMaker()
    with pytest.raises(TypeError):
        maker.add_reconstructor_from_callable(value)
    assert len(maker.make_hits([make_features()], no_discard=True)) == 1


def test_returning_the_hit_unchanged() -> None:
    maker = _maker(lambda features, hit: hit)
    assert len(maker.make_hits([make_features(channel=3, id_=7)])) == 0
    (hit,) = maker.make_hits([make_features(channel=3, id_=7)], no_discard=True)
    assert (hit.channel, hit.id, hit.time, hit.charge) == (3, 7, 0.0, 0.0)
    assert math.isinf(hit.time_uncertainty)


def test_updates_on_the_received_hit_make_it_valid() -> None:
    (hit,) = _maker(_measure).make_hits([make_features(channel=3, id_=7, trigger_time=4.5)])
    assert (hit.channel, hit.id, hit.time, hit.charge) == (3, 7, 4.5, 2.0)
    assert hit.is_valid()


def test_returned_hit_replaces_everything() -> None:
    def replace(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        hit.update_time(1.0, 1.0)  # changes to the copy it received do not count
        return orvane.Hit()

    maker = _maker(_measure, replace)
    assert len(maker.make_hits([make_features(trigger_time=1.0)])) == 0
    (hit,) = maker.make_hits([make_features(trigger_time=1.0)], no_discard=True)
    assert (hit.channel, hit.id, hit.time_uncertainty) == (-1, 0, math.inf)


def test_returned_values_win_over_smaller_uncertainties() -> None:
    def worse(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        return Subhit(11, 12, 5.0, 6.0, 100.0, 200.0)

    (hit,) = _maker(_measure, worse).make_hits([make_features(trigger_time=1.0)])
    assert (hit.channel, hit.id, hit.time, hit.charge) == (11, 12, 5.0, 6.0)
    assert (hit.time_uncertainty, hit.charge_uncertainty) == (100.0, 200.0)


def test_callable_gets_copies_in_order_and_input_is_untouched() -> None:
    seen: list[tuple[int, int, float]] = []

    def record(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        seen.append((features.channel, hit.channel, hit.time))
        features.channel = 99
        return hit

    records = orvane.VectorHitFeatures(
        [make_features(channel=1, trigger_time=1.0), make_features(channel=2, trigger_time=1.0)]
    )
    _maker(_measure, record, record).make_hits(records)
    assert [s[:2] for s in seen] == [(1, 1), (1, 1), (2, 2), (2, 2)]
    assert [f.channel for f in records] == [1, 2]


@pytest.mark.parametrize(
    "features",
    [make_features(id_=None), make_features(channel=None)],
    ids=["without-id", "without-channel"],
)
def test_incomplete_records_are_never_passed(features: orvane.HitFeatures) -> None:
    calls: list[object] = []
    maker = _maker(lambda f, h: calls.append(f) or h)
    assert len(maker.make_hits([features], no_discard=True)) == 1
    assert calls == []


def test_same_callable_added_twice_runs_twice() -> None:
    calls: list[int] = []

    def count(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        calls.append(1)
        return hit

    _maker(count, count).make_hits([make_features()])
    assert len(calls) == 2


def test_callable_objects_and_bound_methods_are_accepted() -> None:
    class Shift:
        def __init__(self) -> None:
            self.calls = 0

        def __call__(self, features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
            self.calls += 1
            return _measure(features, hit)

        def method(self, features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
            return hit

    shift = Shift()
    hits = _maker(shift, shift.method).make_hits([make_features(trigger_time=1.0)] * 3)
    assert len(hits) == 3 and shift.calls == 3


def test_maker_keeps_the_callable_alive() -> None:
    class Reco:
        def __call__(self, features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
            return _measure(features, hit)

    reco = Reco()
    alive = weakref.ref(reco)
    maker = _maker(reco)
    del reco
    gc.collect()
    assert alive() is not None
    assert len(maker.make_hits([make_features(trigger_time=1.0)])) == 1
    del maker
    gc.collect()
    assert alive() is None


def test_callable_after_settings_reconstructors(settings_file) -> None:
    seen: list[float] = []

    def look(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        seen.append(hit.time)
        return hit

    maker = orvane.HitMaker(settings_file)
    maker.add_reconstructor_from_callable(callable=look)
    hits = maker.make_hits([make_features(trigger_time=2.5, adc_sample=4.0)])
    assert seen == [2.5]
    assert [(h.time, h.charge) for h in hits] == [(2.5, 2.0)]


def test_a_callable_adding_reconstructors_while_running_is_safe() -> None:
    maker = orvane.HitMaker()
    calls: list[int] = []

    def grow(features: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        calls.append(len(calls))
        # Enough appends to force the reconstructor list to reallocate mid-record.
        for _ in range(64):
            maker.add_reconstructor_from_callable(lambda f, h: h)
        return _measure(features, hit)

    maker.add_reconstructor_from_callable(grow)
    hits = maker.make_hits([make_features(channel=1, id_=2, trigger_time=3.0)])
    assert len(hits) == 1 and hits[0].time == 3.0
    assert calls == [0]  # the reconstructors added during the record did not act on it


def test_a_callable_changing_the_list_being_made_is_safe() -> None:
    # The list is the caller's, shared with the callable: growing it moves its storage (a list
    # this large is given back to the system at once) while make_hits works through it.
    features = orvane.numpy_to_hit_features_list(
        orvane.hit_features_list_to_numpy([make_features(channel=1, id_=i) for i in range(40_000)])
    )

    scribble: list[bytearray] = []

    def grow_once(f: orvane.HitFeatures, hit: orvane.Hit) -> orvane.Hit:
        if len(features) == 40_000:
            features.extend(features)
            # Storage of that size, written over: what freed storage would now hold.
            scribble.append(bytearray(b"\xff" * (56 * 40_000)))
        return hit

    hits = _maker(grow_once).make_hits(features, no_discard=True)
    assert [h.id for h in hits] == list(range(40_000))
