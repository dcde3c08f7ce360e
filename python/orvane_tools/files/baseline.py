"""Baselines of waveforms from their first samples.

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
"""

from __future__ import annotations

import numpy as np

from .triggerfile import TriggerData

#: Samples at the start of each waveform the baseline is estimated from.
DEFAULT_BASELINE_SAMPLES = 16
#: How they are combined: "median" or "mean".
DEFAULT_BASELINE_METHOD = "median"
BASELINE_METHODS = ("median", "mean")

_BLOCK = 65536


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
    if method not in BASELINE_METHODS:
        raise ValueError(f"unknown baseline method {method!r}: expected median or mean")
    offsets = np.asarray(offsets, dtype=np.int64)
    starts = offsets[:-1]
    used = np.minimum(np.diff(offsets), n)
    result = np.zeros(len(starts), dtype=np.float32)
    combine = np.median if method == "median" else np.mean
    # Waveforms of one run mostly share one length: one vectorised step per distinct count.
    for count in np.unique(used):
        if count == 0:
            continue
        chosen = np.flatnonzero(used == count)
        for lo in range(0, len(chosen), _BLOCK):  # bounds the memory of the gathered samples
            rows = chosen[lo : lo + _BLOCK]
            index = starts[rows, np.newaxis] + np.arange(count)
            result[rows] = combine(samples[index].astype(np.float64), axis=1)
    return result


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
]
