"""The numbers of a run report, gathered a chunk at a time.

:class:`RunStats` takes chunks of hits (and, when the trigger files are given, the chunks of
triggers those hits came from) and fills per-channel counters and histograms whose size does not
depend on the run's length: memory stays bounded however many triggers there are.

Waveform quantities (quiet level, noise, polarity, saturation) come from
:func:`analyse_waveforms`: a waveform's quiet level and noise are the median and 1.4826 times
the median absolute deviation of its samples outside pulses.  Pulses are found as samples more
than 5 noise widths from a first estimate over all samples, widened by a few samples on each
side; the estimate is then taken again over the remaining samples.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass, field

import numpy as np

from .report_inputs import HitChunk

#: Most records (hits) one trigger can make; a trigger with this many probably held more.
MAX_RECORDS_PER_TRIGGER = 16
#: Sampling period assumed when a trigger file records none [s].
DEFAULT_SAMPLE_PERIOD = 4e-9
#: MAD to the standard deviation of a normal distribution.
MAD_TO_SIGMA = 1.4826
#: Noise widths below this many LSB are taken as this (the ADC's step).
NOISE_FLOOR_LSB = 1.0
#: A first-pass pulse is widened by this many samples before and after it.
PULSE_MARGIN_BEFORE = 3
PULSE_MARGIN_AFTER = 8
#: Full-scale range limits of a 16-bit sample.
SAMPLE_LIMITS = (0, 65535)


def _edges_charge() -> np.ndarray:
    linear = np.arange(-2.0, 20.0 + 1e-9, 0.02)
    log = np.geomspace(20.0, 1e6, 201)[1:]
    return np.concatenate([linear, log])


#: Bin edges of the charge spectra [PE]: 0.02 PE from -2 to 20 PE, then 200 logarithmic bins to
#: 10^6 PE; charges beyond fall into under- and overflow counters.
CHARGE_EDGES = _edges_charge()
_CHARGE_STEP = 0.02
_CHARGE_LINEAR = int(np.searchsorted(CHARGE_EDGES, 20.0))
#: Hit time relative to its trigger [ns].
DT_EDGES = np.arange(-512.0, 16384.0 + 1, 2.0)
#: Time from a pulse to the next one in the same waveform [ns].
NEXT_EDGES = np.arange(0.0, 8192.0 + 1, 4.0)
#: Bins of the time profiles over the run (their width doubles as the run goes on).
PROFILE_BINS = 256
PROFILE_FIRST_WIDTH = 1e-3


class Channels:
    """Dense indices for channel numbers, in the order they are first seen."""

    def __init__(self) -> None:
        self.numbers: list[int] = []
        self._index: dict[int, int] = {}
        # Index by channel number, -1 for none yet, for channel numbers 0 to 2**16 - 1.
        self._table = np.full(0, -1, dtype=np.int64)

    def __len__(self) -> int:
        return len(self.numbers)

    def index(self, channels: np.ndarray) -> np.ndarray:
        if not len(channels):
            return np.zeros(0, dtype=np.int64)
        low, high = int(channels.min()), int(channels.max())
        if low >= 0 and high < len(self._table):
            found = self._table[channels]
            if found.min() >= 0:
                return found
        unique, inverse = np.unique(channels, return_inverse=True)
        mapped = np.empty(len(unique), dtype=np.int64)
        for i, number in enumerate(unique.tolist()):
            where = self._index.get(number)
            if where is None:
                where = self._index[number] = len(self.numbers)
                self.numbers.append(number)
            mapped[i] = where
        if low >= 0 and high < 1 << 16:
            if high >= len(self._table):
                grown = np.full(high + 1, -1, dtype=np.int64)
                grown[: len(self._table)] = self._table
                self._table = grown
            self._table[unique] = mapped
        return mapped[inverse.reshape(-1)]


class Counters:
    """Per-channel arrays that grow as channels appear: ``name -> (channels, *shape)``."""

    def __init__(self, shapes: dict[str, tuple[int, ...]], dtypes: dict[str, type]) -> None:
        self.shapes = shapes
        self.data: dict[str, np.ndarray] = {
            name: np.zeros((0, *shape), dtype=dtypes.get(name, np.int64))
            for name, shape in shapes.items()
        }

    def grow(self, n: int) -> None:
        for name, array in self.data.items():
            if len(array) < n:
                extra = np.zeros((n - len(array), *array.shape[1:]), dtype=array.dtype)
                self.data[name] = np.concatenate([array, extra])

    def add(self, name: str, index: np.ndarray, weights: np.ndarray | None = None) -> None:
        """Add ``weights`` (default 1) at channel ``index`` of a 1-d counter."""
        array = self.data[name]
        array += np.bincount(index, weights=weights, minlength=len(array)).astype(array.dtype)

    def histogram(self, name: str, index: np.ndarray, bins: np.ndarray) -> None:
        """Count ``(channel index, bin)`` pairs into a 2-d counter; bins outside are skipped."""
        array = self.data[name]
        width = array.shape[1]
        keep = (bins >= 0) & (bins < width)
        flat = index[keep] * width + bins[keep]
        array += np.bincount(flat, minlength=array.size).reshape(array.shape)

    def __getitem__(self, name: str) -> np.ndarray:
        return self.data[name]


class Profile:
    """Sums per channel over time bins of the run; the bins widen (merging pairs) as needed."""

    def __init__(self, names: Sequence[str]) -> None:
        self.t0: float | None = None
        self.t_max: float | None = None
        self.width = PROFILE_FIRST_WIDTH
        self.sums = Counters({n: (PROFILE_BINS,) for n in names}, {n: np.float64 for n in names})

    def add(self, index: np.ndarray, time: np.ndarray, values: dict[str, np.ndarray]) -> None:
        finite = np.isfinite(time)
        if not finite.all():
            index, time = index[finite], time[finite]
            values = {name: weights[finite] for name, weights in values.items()}
        if not len(time):
            return
        if self.t0 is None:
            self.t0 = float(np.min(time))
        top = float(np.max(time))
        self.t_max = top if self.t_max is None else max(self.t_max, top)
        offset = np.maximum(time - self.t0, 0.0)
        while float(np.max(offset)) >= self.width * PROFILE_BINS:
            for name, array in self.sums.data.items():
                merged = array.reshape(len(array), PROFILE_BINS // 2, 2).sum(axis=2)
                self.sums.data[name] = np.concatenate([merged, np.zeros_like(merged)], axis=1)
            self.width *= 2
        bins = np.minimum((offset / self.width).astype(np.int64), PROFILE_BINS - 1)
        for name, weights in values.items():
            array = self.sums.data[name]
            flat = index * PROFILE_BINS + bins
            array += np.bincount(flat, weights=weights, minlength=array.size).reshape(array.shape)

    def grow(self, n: int) -> None:
        self.sums.grow(n)

    def centres(self) -> np.ndarray:
        return (np.arange(PROFILE_BINS) + 0.5) * self.width


@dataclass
class WaveformQuantities:
    """Per-waveform results of :func:`analyse_waveforms`."""

    quiet: np.ndarray
    noise: np.ndarray
    above: np.ndarray
    below: np.ndarray
    saturated: np.ndarray
    flat_top: np.ndarray


def _median_sorted(values: np.ndarray, valid: np.ndarray) -> np.ndarray:
    """Median of each row of ``values`` (sorted, invalid entries sorted to the end)."""
    lo = np.maximum((valid - 1) // 2, 0)
    hi = np.maximum(valid // 2, 0)
    rows = np.arange(len(values))
    return (values[rows, lo].astype(np.float64) + values[rows, hi]) / 2.0


def _level_and_noise(w: np.ndarray, mask: np.ndarray | None) -> tuple[np.ndarray, np.ndarray]:
    """Median and 1.4826 x MAD of each row of ``w`` (int32), ``mask`` marking samples left out."""
    big = np.int32(1 << 30)
    n = w.shape[1]
    if mask is None:
        valid = np.full(len(w), n)
        level2 = _median_sorted(np.sort(w, axis=1), valid) * 2.0  # twice the median, exact
        deviation = np.abs(2 * w - level2.astype(np.int64)[:, None].astype(np.int32))
    else:
        valid = n - mask.sum(axis=1)
        level2 = _median_sorted(np.sort(np.where(mask, big, w), axis=1), valid) * 2.0
        deviation = np.abs(2 * w - level2.astype(np.int64)[:, None].astype(np.int32))
        deviation = np.where(mask, big, deviation)
    mad2 = _median_sorted(np.sort(deviation, axis=1), valid)
    return level2 / 2.0, MAD_TO_SIGMA * mad2 / 2.0


def _bounds(level: np.ndarray, margin: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Integer bounds: an integer sample lies more than ``margin`` above ``level`` exactly when
    it exceeds the first, below it when it is under the second."""
    return (
        np.floor(level + margin).astype(np.int32),
        np.ceil(level - margin).astype(np.int32),
    )


def _widen(mask: np.ndarray, before: int, after: int) -> np.ndarray:
    out = mask.copy()
    for k in range(1, before + 1):
        out[:, :-k] |= mask[:, k:]
    for k in range(1, after + 1):
        out[:, k:] |= mask[:, :-k]
    return out


def analyse_waveforms(
    samples: np.ndarray,
    offsets: np.ndarray,
    *,
    sigma: float = 5.0,
    adc_max: int | None = None,
    flat_top_samples: int = 4,
    flat_top_sigma: float = 10.0,
    select: np.ndarray | None = None,
) -> WaveformQuantities:
    """Quiet level, noise, samples beyond ``sigma`` noise widths above and below the quiet
    level, and whether each waveform touches the range limits or has a flat top (its highest or
    lowest sample held ``flat_top_samples`` times in a row, ``flat_top_sigma`` noise widths
    from the quiet level).  Only the waveforms ``select`` marks are looked at (default: all);
    the others get a NaN quiet level and noise."""
    offsets = np.asarray(offsets, dtype=np.int64)
    n = len(offsets) - 1
    out = WaveformQuantities(
        quiet=np.full(n, np.nan),
        noise=np.full(n, np.nan),
        above=np.zeros(n, dtype=np.int64),
        below=np.zeros(n, dtype=np.int64),
        saturated=np.zeros(n, dtype=bool),
        flat_top=np.zeros(n, dtype=bool),
    )
    lengths = np.diff(offsets)
    limits = {*SAMPLE_LIMITS, *([adc_max] if adc_max is not None else [])}
    chosen = np.ones(n, dtype=bool) if select is None else select
    uniform = n > 0 and offsets[0] == 0 and np.all(lengths == lengths[0])
    for length in np.unique(lengths):
        if length < 4:
            continue
        rows = np.flatnonzero((lengths == length) & chosen)
        if not len(rows):
            continue
        if uniform:  # one length: rows of a 2-d view, no index arithmetic
            w = samples[: n * length].reshape(n, length)[rows].astype(np.int32)
        else:
            w = samples[offsets[rows, None] + np.arange(length)].astype(np.int32)
        level, noise = _level_and_noise(w, None)
        width = np.maximum(noise, NOISE_FLOOR_LSB)
        # Integer bounds: comparing int32 samples with them needs no float array.
        high, low = _bounds(level, sigma * width)
        pulse = (w > high[:, None]) | (w < low[:, None])
        if pulse.any():
            pulse = _widen(pulse, PULSE_MARGIN_BEFORE, PULSE_MARGIN_AFTER)
            # Too few quiet samples left: keep the estimate over all samples.
            usable = (length - pulse.sum(axis=1)) >= max(4, length // 4)
            pulse &= usable[:, None]
            level2, noise2 = _level_and_noise(w, pulse)
            level = np.where(usable, level2, level)
            noise = np.where(usable, noise2, noise)
            width = np.maximum(noise, NOISE_FLOOR_LSB)
        high, low = _bounds(level, sigma * width)
        out.quiet[rows] = level
        out.noise[rows] = noise
        out.above[rows] = np.count_nonzero(w > high[:, None], axis=1)
        out.below[rows] = np.count_nonzero(w < low[:, None], axis=1)
        top, bottom = w.max(axis=1), w.min(axis=1)
        saturated = np.zeros(len(rows), dtype=bool)
        for limit in limits:
            saturated |= (top == limit) | (bottom == limit)
        if adc_max is not None:
            saturated |= top > adc_max
        out.saturated[rows] = saturated
        flat = np.zeros(len(rows), dtype=bool)
        k = flat_top_samples
        if length >= k:
            for extreme, sign in ((top, 1), (bottom, -1)):
                far = sign * (extreme - level) > flat_top_sigma * width
                if not far.any():
                    continue
                at = w == extreme[:, None]
                run = at[:, : length - k + 1].copy()
                for j in range(1, k):
                    run &= at[:, j : length - k + 1 + j]
                flat |= far & run.any(axis=1)
        out.flat_top[rows] = flat
    return out


@dataclass
class KeptWaveform:
    """A waveform kept for drawing, with the hits made from it."""

    channel: int
    position: int
    order: str  # "first" or "random"
    samples: np.ndarray
    baseline: float
    quiet: float
    noise: float
    hit_times: np.ndarray  # relative to the trigger [s]
    hit_charges: np.ndarray
    #: Each pulse's first and last sample, when the hit file carries them.
    windows: np.ndarray | None = None


@dataclass
class Sampler:
    """Keeps the first ``n_first`` waveforms of each channel and a seeded random sample of
    ``n_random`` more (the ``n_random`` smallest of one uniform key per waveform)."""

    n_first: int = 2
    n_random: int = 2
    seed: int = 1
    first: dict[int, list[KeptWaveform]] = field(default_factory=dict)
    random: dict[int, list[tuple[float, KeptWaveform]]] = field(default_factory=dict)

    def __post_init__(self) -> None:
        self._rng = np.random.default_rng(self.seed)

    def offer(self, channel: np.ndarray, make) -> None:
        """Offer a chunk's waveforms; ``make(i, order)`` builds the kept waveform of row i."""
        keys = self._rng.random(len(channel))
        # Channels whose lists are full only take keys below their largest kept one.
        full = [
            number
            for number, kept in self.random.items()
            if len(kept) >= self.n_random and len(self.first.get(number, [])) >= self.n_first
        ]
        candidates = np.arange(len(channel))
        if full:
            limit = max(self.random[number][-1][0] for number in full) if self.n_random else 0.0
            candidates = np.flatnonzero(~np.isin(channel, full) | (keys < limit))
        if not len(candidates):
            return
        order = candidates[np.lexsort((keys[candidates], channel[candidates]))]
        sorted_channels = channel[order]
        starts = np.flatnonzero(np.r_[True, sorted_channels[1:] != sorted_channels[:-1]])
        ends = np.r_[starts[1:], len(order)]
        for lo, hi in zip(starts.tolist(), ends.tolist()):
            number = int(sorted_channels[lo])
            first = self.first.setdefault(number, [])
            taken = set()
            if len(first) < self.n_first:
                rows = np.flatnonzero(channel == number)[: self.n_first - len(first)]
                for i in rows.tolist():
                    first.append(make(i, "first"))
                    taken.add(i)
            kept = self.random.setdefault(number, [])
            for i in order[lo:hi].tolist():
                if i in taken:
                    continue
                key = float(keys[i])
                if len(kept) >= self.n_random and (not kept or key >= kept[-1][0]):
                    break  # full: none of this channel's later keys is smaller
                kept.append((key, make(i, "random")))
                kept.sort(key=lambda item: item[0])
                del kept[self.n_random :]

    def waveforms(self, number: int) -> list[KeptWaveform]:
        return self.first.get(number, []) + [w for _, w in self.random.get(number, [])]


_HIT_COUNTERS = {
    "hits": (),
    "charge": (len(CHARGE_EDGES) - 1,),
    "charge_under": (),
    "charge_over": (),
    "dt": (len(DT_EDGES) - 1,),
    "next": (len(NEXT_EDGES) - 1,),
    "full_triggers": (),
    "hit_triggers": (),
}
_TRIGGER_COUNTERS = {
    "triggers": (),
    "tarvo_triggers": (),
    "multipmt_triggers": (),
    "without_hit": (),
    "pulse_without_hit": (),
    "analysed": (),
    "baseline_sum": (),
    "baseline_sq": (),
    "quiet_sum": (),
    "noise_sq": (),
    "baseline_off": (),
    "above": (),
    "below": (),
    "saturated": (),
    "flat_top": (),
    "clipped": (),
    "samples": (),
}
_FLOATS = {"baseline_sum", "baseline_sq", "quiet_sum", "noise_sq"}


class RunStats:
    """Per-channel counters and histograms of a run, filled a chunk at a time."""

    def __init__(
        self,
        *,
        sigma: float = 5.0,
        baseline_sigma: float = 3.0,
        adc_max: int | None = None,
        sampler: Sampler | None = None,
    ) -> None:
        self.channels = Channels()
        shapes = {**_HIT_COUNTERS, **_TRIGGER_COUNTERS}
        self.counters = Counters(shapes, {n: np.float64 for n in _FLOATS})
        self.hit_profile = Profile(["hits"])
        self.trigger_profile = Profile(["triggers", "baseline", "quiet", "analysed"])
        self.sigma = sigma
        self.baseline_sigma = baseline_sigma
        self.adc_max = adc_max
        self.sampler = sampler or Sampler()
        #: Fraction of the waveforms whose samples are analysed (a seeded random choice).
        self.analyse_fraction = 1.0
        self._choice = np.random.default_rng(self.sampler.seed + 1)
        self.sample_period = DEFAULT_SAMPLE_PERIOD
        self.with_triggers = False
        self.hit_files = 0
        self.total_hits = 0
        self.total_triggers = 0
        self._carry: HitChunk | None = None

    def _index(self, channels: np.ndarray) -> np.ndarray:
        index = self.channels.index(channels)
        n = len(self.channels)
        self.counters.grow(n)
        self.hit_profile.grow(n)
        self.trigger_profile.grow(n)
        return index

    # Hits ---------------------------------------------------------------------------------

    def add_hits(self, hits: HitChunk, *, whole_triggers: bool) -> None:
        """Count a chunk of hits.  Unless ``whole_triggers``, the hits of the chunk's last
        trigger are held back until the next chunk (or :meth:`flush_hits`), so that the hits of a
        trigger are counted together."""
        if self._carry is not None and len(self._carry):
            hits = HitChunk.join([self._carry, hits])
            self._carry = None
        if not whole_triggers and len(hits):
            last = hits.position[-1]
            cut = int(np.searchsorted(hits.position, last, side="left"))
            self._carry = hits.take(cut, len(hits))
            hits = hits.take(0, cut)
        self._count_hits(hits)

    def flush_hits(self) -> None:
        if self._carry is not None:
            carry, self._carry = self._carry, None
            self._count_hits(carry)

    def _count_hits(self, hits: HitChunk) -> None:
        if not len(hits):
            return
        c = self.counters
        index = self._index(hits.channel)
        self.total_hits += len(hits)
        c.add("hits", index)
        charge = hits.charge
        # Equal bins below 20 PE by arithmetic, the logarithmic ones by search.
        bins = np.floor((charge - CHARGE_EDGES[0]) / _CHARGE_STEP)
        bins = np.where(np.isfinite(bins), bins, -1).astype(np.int64)
        beyond = bins >= _CHARGE_LINEAR
        if beyond.any():
            bins[beyond] = np.searchsorted(CHARGE_EDGES, charge[beyond], side="right") - 1
        c.histogram("charge", index, bins)
        c.add("charge_under", index[charge < CHARGE_EDGES[0]])
        c.add("charge_over", index[~(charge < CHARGE_EDGES[-1]) & ~(charge < CHARGE_EDGES[0])])
        # Hits of one trigger are neighbours (rows are in trigger order).
        same = hits.position[1:] == hits.position[:-1]
        gap_ns = (hits.time[1:] - hits.time[:-1]) * 1e9
        use = same & (gap_ns >= 0)
        next_bins = np.floor((gap_ns[use] - NEXT_EDGES[0]) / (NEXT_EDGES[1] - NEXT_EDGES[0]))
        c.histogram("next", index[:-1][use], next_bins.astype(np.int64))
        starts = np.flatnonzero(np.r_[True, ~same])
        counts = np.diff(np.r_[starts, len(hits)])
        c.add("hit_triggers", index[starts])
        c.add("full_triggers", index[starts[counts >= MAX_RECORDS_PER_TRIGGER]])
        self.hit_profile.add(index, hits.time, {"hits": np.ones(len(hits))})

    # Triggers -----------------------------------------------------------------------------

    def add_tarvo(
        self,
        rows: np.ndarray,
        samples: np.ndarray,
        offsets: np.ndarray,
        first_position: int,
        hits: HitChunk,
        run_info: np.ndarray,
    ) -> None:
        """A chunk of waveform triggers (positions ``first_position`` on) and their hits."""
        self.with_triggers = True
        info = run_info[0]
        seconds = rows["trigger_time_s"].astype(np.float64) - float(info["time_offset_s"])
        trigger_time = (
            seconds
            + rows["trigger_time_ticks"] * DEFAULT_SAMPLE_PERIOD
            - float(info["time_offset_ns"]) * 1e-9
        )
        self._add_trigger_rows(rows["channel"], trigger_time, first_position, hits, "tarvo")
        index = self._index(rows["channel"].astype(np.int64))
        select = None
        if self.analyse_fraction < 1.0:
            select = self._choice.random(len(rows)) < self.analyse_fraction
        q = analyse_waveforms(
            samples, offsets, sigma=self.sigma, adc_max=self.adc_max, select=select
        )
        c = self.counters
        ok = np.isfinite(q.quiet)
        baseline = rows["baseline"].astype(np.float64)
        width = np.maximum(np.nan_to_num(q.noise), NOISE_FLOOR_LSB)
        off = ok & (np.abs(baseline - np.nan_to_num(q.quiet)) > self.baseline_sigma * width)
        c.add("analysed", index[ok])
        c.add("baseline_sum", index[ok], baseline[ok])
        c.add("baseline_sq", index[ok], baseline[ok] ** 2)
        c.add("quiet_sum", index[ok], q.quiet[ok])
        c.add("noise_sq", index[ok], q.noise[ok] ** 2)
        c.add("baseline_off", index[off])
        c.add("above", index, q.above)
        c.add("below", index, q.below)
        c.add("saturated", index[q.saturated])
        c.add("flat_top", index[q.flat_top])
        c.add("clipped", index[q.saturated | q.flat_top])
        with_hit = np.zeros(len(rows), dtype=bool)
        with_hit[hits.position - first_position] = True
        c.add("pulse_without_hit", index[ok & ~with_hit & ((q.above > 0) | (q.below > 0))])
        c.add("samples", index, np.diff(offsets).astype(np.float64))
        self.trigger_profile.add(
            index[ok],
            trigger_time[ok],
            {"baseline": baseline[ok], "quiet": q.quiet[ok], "analysed": np.ones(int(ok.sum()))},
        )
        hit_row = hits.position - first_position

        def make(i: int, order: str) -> KeptWaveform:
            lo, hi = np.searchsorted(hit_row, [i, i + 1])
            return KeptWaveform(
                channel=int(rows["channel"][i]),
                position=first_position + i,
                order=order,
                samples=samples[offsets[i] : offsets[i + 1]].copy(),
                baseline=float(baseline[i]),
                quiet=float(q.quiet[i]),
                noise=float(q.noise[i]),
                hit_times=hits.time[lo:hi] - trigger_time[i],
                hit_charges=hits.charge[lo:hi].copy(),
                windows=(
                    None
                    if hits.first_sample is None or hits.last_sample is None
                    else np.stack([hits.first_sample[lo:hi], hits.last_sample[lo:hi]], axis=1)
                ),
            )

        self.sampler.offer(rows["channel"], make)

    def add_multipmt(self, rows: np.ndarray, first_position: int, hits: HitChunk) -> None:
        """A chunk of multi-PMT triggers and their hits."""
        self.with_triggers = True
        self._add_trigger_rows(rows["channel"], rows["time"], first_position, hits, "multipmt")

    def _add_trigger_rows(
        self,
        channels: np.ndarray,
        trigger_time: np.ndarray,
        first_position: int,
        hits: HitChunk,
        kind: str,
    ) -> None:
        index = self._index(channels.astype(np.int64))
        c = self.counters
        self.total_triggers += len(channels)
        c.add("triggers", index)
        c.add(f"{kind}_triggers", index)
        with_hit = np.zeros(len(channels), dtype=bool)
        row = hits.position - first_position
        with_hit[row] = True
        c.add("without_hit", index[~with_hit])
        if len(hits):
            dt_ns = (hits.time - trigger_time[row]) * 1e9
            hit_index = self._index(hits.channel)
            width = DT_EDGES[1] - DT_EDGES[0]
            bins = np.floor((dt_ns - DT_EDGES[0]) / width)
            bins = np.where(np.isfinite(bins), bins, -1).astype(np.int64)
            c.histogram("dt", hit_index, bins)
        self.trigger_profile.add(index, trigger_time, {"triggers": np.ones(len(channels))})
        self._count_hits(hits)
