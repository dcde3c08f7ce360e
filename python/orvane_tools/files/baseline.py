"""Baselines of waveforms: from their first samples, a window of samples, or robustly.

Real digitizers record no baseline with a waveform; the extractors need one (the integral and
the thresholds are taken above it).  Each waveform's baseline is estimated from the samples
ahead of its trigger: by default the median of its first 16 samples (64 ns at 4 ns a sample).

Why these defaults: the first samples of a digitizer record lie ahead of the trigger (the
pre-trigger part of the record), so they normally hold baseline and noise alone.  The median
is used because a stray pulse or spike among them (pile-up from an earlier pulse) moves a mean
by its whole charge divided by the sample count, but moves the median by little as long as it
covers fewer than half of the samples.  16 samples keep the estimate's noise at about a third
of the noise of one sample, while fitting into the pre-trigger part of usual records; make it
longer (``--baseline-samples``) when the records have a longer pre-trigger part and shorter
when the trigger sits earlier.  Waveforms shorter than the count use all their samples; an
empty waveform gets the baseline 0.

A baseline that wanders (slow drifts of the digitizer's offset, pick-up) is not the level of
the first samples.  The ``robust`` method of :func:`window_baseline` takes the level of the
quiet samples of the whole record instead: the mean of the samples within 3 noise widths of
it, iterated from the median, which leaves out the pulses however many samples they cover,
as long as the quiet ones are the most.
"""

from __future__ import annotations

import numpy as np

from .triggerfile import TriggerData

#: Samples at the start of each waveform the baseline is estimated from.
DEFAULT_BASELINE_SAMPLES = 16
#: How they are combined: "median" or "mean"; "robust" for wandering baselines (below).
DEFAULT_BASELINE_METHOD = "median"
BASELINE_METHODS = ("median", "mean", "robust")
#: The robust method keeps the samples within this many noise widths of its level.
ROBUST_NOISE_WIDTHS = 3.0
ROBUST_ITERATIONS = 5

#: Samples gathered at a time (16 MiB as float64).
_BLOCK_SAMPLES = 1 << 21


def _robust(block: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Level and RMS of the quiet samples of each row: an iterated mean within 3 noise widths.

    It starts from the median and 1.4826 x the median absolute deviation (the noise's standard
    deviation, untouched by pulses covering less than half the samples), then takes the mean
    and RMS of the samples within ``ROBUST_NOISE_WIDTHS`` widths of the level, five times.
    """
    level = np.median(block, axis=1, keepdims=True)
    width = np.maximum(1.4826 * np.median(np.abs(block - level), axis=1, keepdims=True), 0.5)
    for _ in range(ROBUST_ITERATIONS):
        near = np.abs(block - level) <= ROBUST_NOISE_WIDTHS * width
        count = np.maximum(near.sum(axis=1, keepdims=True), 1)
        level = np.where(near, block, 0.0).sum(axis=1, keepdims=True) / count
        rms = np.sqrt(np.where(near, (block - level) ** 2, 0.0).sum(axis=1, keepdims=True) / count)
        width = np.maximum(rms, 0.5)
    return level[:, 0], rms[:, 0]


def window_baseline(
    samples: np.ndarray,
    offsets: np.ndarray,
    start: int | None = 0,
    stop: int | None = DEFAULT_BASELINE_SAMPLES,
    method: str = DEFAULT_BASELINE_METHOD,
) -> tuple[np.ndarray, np.ndarray]:
    """Baseline and baseline noise of each waveform from its samples ``start:stop``, as float32.

    ``start`` and ``stop`` select samples as a Python slice does (negative values count from
    the waveform's end, None is its start or end; a waveform shorter than ``stop`` uses what it
    has).  ``method``: ``"median"`` or ``"mean"`` of those samples, or ``"robust"``: the mean of
    the samples within 3 noise widths of the level, iterated from the median (pulses and
    spikes are left out whatever their number, as long as the quiet samples are the most).
    The noise is the RMS of the samples used about the baseline.  An empty waveform gets 0 and 0.

    Raises
    ------
    ValueError
        ``method`` is not known, or the window selects no sample of a non-empty waveform.
    """
    if method not in BASELINE_METHODS:
        raise ValueError(
            f"unknown baseline method {method!r}: expected {', '.join(BASELINE_METHODS)}"
        )
    offsets = np.asarray(offsets, dtype=np.int64)
    starts = offsets[:-1]
    lengths = np.diff(offsets)
    level = np.zeros(len(starts), dtype=np.float32)
    noise = np.zeros(len(starts), dtype=np.float32)
    # Waveforms of one run mostly share one length: one vectorised step per distinct length.
    for length in np.unique(lengths):
        if length == 0:
            continue
        lo, hi, _ = slice(start, stop).indices(int(length))
        if hi <= lo:
            raise ValueError(
                f"the baseline window {'' if start is None else start}:"
                f"{'' if stop is None else stop} selects no sample of a waveform of "
                f"{length} samples"
            )
        chosen = np.flatnonzero(lengths == length)
        step = max(1, _BLOCK_SAMPLES // (hi - lo))  # bounds the memory of gathered samples
        for first in range(0, len(chosen), step):
            rows = chosen[first : first + step]
            index = starts[rows, np.newaxis] + np.arange(lo, hi)
            block = samples[index].astype(np.float64)
            if method == "robust":
                value, rms = _robust(block)
            else:
                combine = np.median if method == "median" else np.mean
                value = combine(block, axis=1)
                rms = np.sqrt(np.mean((block - value[:, np.newaxis]) ** 2, axis=1))
            level[rows] = value
            noise[rows] = rms
    return level, noise


def first_samples_baseline(
    samples: np.ndarray,
    offsets: np.ndarray,
    n: int = DEFAULT_BASELINE_SAMPLES,
    method: str = DEFAULT_BASELINE_METHOD,
) -> np.ndarray:
    """Baseline of each waveform from its first ``n`` samples, as float32.

    ``samples`` holds the waveforms back to back, waveform i being
    ``samples[offsets[i]:offsets[i + 1]]`` (the layout of trigger files).  ``method`` is
    ``"median"`` or ``"mean"``.

    Raises
    ------
    ValueError
        ``n`` is below 1 or ``method`` is not known.
    """
    if n < 1:
        raise ValueError(f"the baseline needs at least 1 sample, got {n}")
    if method not in ("median", "mean"):
        raise ValueError(f"unknown baseline method {method!r}: expected median or mean")
    return window_baseline(samples, offsets, 0, n, method)[0]


def set_baseline_from_samples(
    data: TriggerData, n: int = DEFAULT_BASELINE_SAMPLES, method: str = DEFAULT_BASELINE_METHOD
) -> None:
    """Set the ``baseline`` of every waveform trigger of ``data`` from its first ``n`` samples.

    The trigger rows are changed in place; see :func:`first_samples_baseline`.
    """
    data.tarvo_triggers["baseline"] = first_samples_baseline(
        data.tarvo_samples, data.tarvo_offsets, n, method
    )


__all__ = [
    "BASELINE_METHODS",
    "DEFAULT_BASELINE_METHOD",
    "DEFAULT_BASELINE_SAMPLES",
    "first_samples_baseline",
    "set_baseline_from_samples",
    "window_baseline",
]
