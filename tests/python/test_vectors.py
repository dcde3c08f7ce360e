"""The opaque list types VectorHit, VectorHitFeatures and VectorUInt16."""

from __future__ import annotations

from collections.abc import Callable, Iterable

import pytest

import orvane
from builders import make_features


class TestVectorUInt16:
    def test_repr(self) -> None:
        assert repr(orvane.VectorUInt16([1, 2])) == "VectorUInt16[1, 2]"
        assert repr(orvane.VectorUInt16()) == "VectorUInt16[]"
        assert repr(orvane.VectorUInt16([65535])) == "VectorUInt16[65535]"

    def test_equality_count_remove_contains(self) -> None:
        v = orvane.VectorUInt16([1, 2, 2])
        assert v == orvane.VectorUInt16([1, 2, 2])
        assert v != orvane.VectorUInt16([1, 2])
        assert v.count(2) == 2
        assert 1 in v and 3 not in v
        v.remove(2)
        assert list(v) == [1, 2]
        with pytest.raises(ValueError):
            v.remove(9)

    def test_list_operations(self) -> None:
        v = orvane.VectorUInt16()
        assert not v
        v.extend([3, 4])
        v.insert(0, 1)
        v.append(5)
        assert list(v) == [1, 3, 4, 5]
        assert v.pop() == 5 and v.pop(0) == 1
        v[0:2] = orvane.VectorUInt16([7, 8])
        del v[0]
        assert list(v) == [8] and len(v) == 1 and bool(v)
        assert list(orvane.VectorUInt16(v)) == [8]
        v.clear()
        assert len(v) == 0

    def test_rejects_out_of_range_samples(self) -> None:
        # The iterable constructor reports a bad item with pybind11's cast error (RuntimeError).
        with pytest.raises((TypeError, RuntimeError)):
            orvane.VectorUInt16([65536])
        v = orvane.VectorUInt16([1])
        with pytest.raises(TypeError):
            v.append(-1)
        with pytest.raises(IndexError):
            v[1]


class TestVectorHit:
    def test_equality_is_identity(self) -> None:
        a = orvane.VectorHit([orvane.Hit()])
        b = orvane.VectorHit([orvane.Hit()])
        assert a != b
        assert a == a  # noqa: PLR0124 - identity equality is what is tested
        assert not hasattr(orvane.VectorHit, "count")

    def test_elements_are_views_into_the_vector(self) -> None:
        hits = orvane.VectorHit([orvane.Hit(), orvane.Hit()])
        element = hits[1]
        assert element.update_time(1.0, 0.5)
        assert hits[1].time == 1.0
        del hits
        assert element.time == 1.0  # the view keeps the vector alive

    def test_feature_elements_are_views_into_the_vector(self) -> None:
        features = orvane.VectorHitFeatures([orvane.HitFeatures()])
        features[0].channel = 5
        assert features[0].has_channel() and features[0].channel == 5

    def test_slices_are_copies(self) -> None:
        hits = orvane.VectorHit([orvane.Hit()])
        part = hits[:]
        part[0].set_channel(9)
        assert hits[0].channel == -1

    def test_appended_records_are_copied(self) -> None:
        hit = orvane.Hit()
        hits = orvane.VectorHit()
        hits.append(hit)
        hit.set_channel(4)
        assert hits[0].channel == -1

    def test_rejects_foreign_items(self) -> None:
        with pytest.raises((TypeError, RuntimeError)):
            orvane.VectorHit([orvane.HitFeatures()])
        hits = orvane.VectorHit()
        with pytest.raises(TypeError):
            hits.append(orvane.HitFeatures())
        # As an argument, a list with a foreign item is not convertible at all.
        with pytest.raises(TypeError):
            orvane.hit_list_to_numpy([orvane.Hit(), orvane.HitFeatures()])


def _generator(items: Iterable[object]) -> Iterable[object]:
    yield from items


@pytest.mark.parametrize(
    "wrap",
    [list, tuple, _generator, orvane.VectorHitFeatures],
    ids=["list", "tuple", "generator", "vector"],
)
def test_vector_arguments_accept_any_iterable(wrap: Callable[[list], Iterable[object]]) -> None:
    records = [make_features(channel=1, id_=2), make_features(channel=3, id_=4)]
    array = orvane.hit_features_list_to_numpy(wrap(records))
    assert list(array["channel"]) == [1, 3]
    # Conversion copies: the records passed in are unchanged and not shared.
    assert records[0].channel == 1


def test_vector_argument_rejects_a_non_iterable() -> None:
    with pytest.raises(TypeError):
        orvane.hit_list_to_numpy(5)


def _hits(channels: Iterable[int]) -> orvane.VectorHit:
    return orvane.numpy_to_hit_list(
        orvane.hit_list_to_numpy([orvane.Hit(c, 0, 0.0, 0.0, 1.0, 1.0) for c in channels])
    )


def _features(channels: Iterable[int]) -> orvane.VectorHitFeatures:
    return orvane.numpy_to_hit_features_list(
        orvane.hit_features_list_to_numpy([make_features(channel=c) for c in channels])
    )


def _iterate_while_growing(v: orvane.VectorHit) -> None:
    for item in v:
        if len(v) < 12:
            v.append(item)


def _reverse_in_place(v: orvane.VectorHit) -> None:
    v[::-1] = v


_MORE = 1000  # enough new items to make the list reallocate
_SAME = [0, 1, 2, 3, 4, 5]
# Operations on a list of six records with channels 0..5: where each element's view (taken
# before) is afterwards (its new index, or None once removed), and the channels of the list.
_MOVES = {
    "append": (lambda v: v.append(v[0]), _SAME, _SAME + [0]),
    "extend": (lambda v: v.extend([v[1]] * _MORE), _SAME, _SAME + [1] * _MORE),
    "extend-self": (lambda v: v.extend(v), _SAME, _SAME * 2),
    "insert": (lambda v: v.insert(0, v[5]), [1, 2, 3, 4, 5, 6], [5] + _SAME),
    "pop": (lambda v: v.pop(), [0, 1, 2, 3, 4, None], [0, 1, 2, 3, 4]),
    "pop-index": (lambda v: v.pop(1), [0, None, 1, 2, 3, 4], [0, 2, 3, 4, 5]),
    "del-index": (lambda v: v.__delitem__(-2), [0, 1, 2, 3, None, 4], [0, 1, 2, 3, 5]),
    "del-slice": (
        lambda v: v.__delitem__(slice(None, None, 2)),
        [None, 0, None, 1, None, 2],
        [1, 3, 5],
    ),
    "del-slice-back": (
        lambda v: v.__delitem__(slice(4, None, -3)),
        [0, None, 1, 2, None, 3],
        [0, 2, 3, 5],
    ),
    "clear": (lambda v: v.clear(), [None] * 6, []),
    "slice-assign-self": (_reverse_in_place, _SAME, [5, 4, 3, 2, 1, 0]),
    "iterate-growing": (_iterate_while_growing, _SAME, _SAME * 2),
}


@pytest.mark.parametrize("kind", ["hits", "features"])
@pytest.mark.parametrize("operation", list(_MOVES), ids=list(_MOVES))
def test_element_views_survive_list_operations(kind: str, operation: str) -> None:
    # A view taken by index follows its element when the list grows, shrinks or reallocates,
    # and keeps its last value (detached from the list) once its element is removed; it never
    # reads or writes storage the list has freed.
    make, get, put = {
        "hits": (_hits, lambda r: r.channel, lambda r, c: r.set_channel(c)),
        "features": (_features, lambda r: r.channel, lambda r, c: setattr(r, "channel", c)),
    }[kind]
    change, moves, channels = _MOVES[operation]
    v = make(range(6))
    views = [v[i] for i in range(6)]
    change(v)
    assert [get(r) for r in v] == channels
    for old, (view, new) in enumerate(zip(views, moves)):
        if new is None:
            assert get(view) == old
            put(view, 100 + old)
            assert 100 + old not in [get(r) for r in v]
        else:
            assert v[new] is view
            put(view, 100 + old)
            assert get(v[new]) == 100 + old
    # Storage the list reuses is not shared with a removed element's view.
    v.append(make([50])[0])
    assert get(v[len(v) - 1]) == 50
    assert [get(view) for view in views] == [100 + old for old in range(6)]
