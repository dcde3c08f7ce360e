"""Fits of each channel's spectrum with the photo-electron response (iminuit).

Each fit is an extended binned likelihood (``iminuit.cost.ExtendedBinnedNLL``) of the model of
:mod:`.model` over a range of the channel's histogram, merged from the fine bins into bins
about half the narrowest peak wide.  Its starting values come from the histogram:

``pedestal`` mode
    the pedestal is the lowest clear peak of the smoothed histogram and its noise the width
    of its lower half; the occupancy follows from the share of triggers in the pedestal (twice
    those below its centre): ``-ln P(0)``; the gain and the single photo-electron width from
    the spectrum's mean and variance above the pedestal's lower tail (mean = pedestal +
    occupancy * gain, variance = noise^2 + occupancy * (gain^2 + spe_sigma^2)).  The fit runs
    from 5 noise widths below the pedestal to where 99.9 % of the channel's values lie.
``dark`` mode
    the gain is the highest peak (single photo-electrons dominate dark counts), its width the
    upper half's; the fit starts at the peak less its width, or where the histogram's lower
    flank has fallen to half the peak if that is higher (the pulse finder's threshold has cut
    there), so that the threshold's soft edge stays out of the fit.  The pedestal is fixed at
    0.

``fit_range`` and ``gain`` override the range and the starting gain.
"""

from __future__ import annotations

import math
import os
import warnings
from collections.abc import Callable, Sequence
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass, field
from multiprocessing import get_context

import numpy as np

from .histograms import Spectra
from .model import ResponseModel

#: A channel with fewer values than this is not fitted.
DEFAULT_MIN_ENTRIES = 1000
#: Fitted bins at most and at least.
MAX_FIT_BINS = 400
MIN_FIT_BINS = 40
#: Below this many channels, fitting in other processes costs more than it saves.
PARALLEL_MIN_CHANNELS = 96

#: fit_status of a channel calibrated by the fit, and of those that were not.
STATUS_CALIBRATED = 0
STATUS_TOO_FEW_ENTRIES = 1
STATUS_FIT_FAILED = 2
STATUS_NO_ENTRIES = 3


@dataclass(frozen=True)
class FitOptions:
    """How to fit: the mode, an optional fit range and starting gain (in the feature's units),
    the fewest values a channel needs."""

    mode: str = "pedestal"
    fit_range: tuple[float, float] | None = None
    gain: float | None = None
    min_entries: int = DEFAULT_MIN_ENTRIES


@dataclass
class ChannelFit:
    """The fit of one channel's spectrum (``status`` 0) or why there is none."""

    channel: int
    entries: int
    status: int
    reason: str = ""
    mode: str = "pedestal"
    n: np.ndarray = field(default_factory=lambda: np.zeros(0, dtype=np.int64))
    values: dict[str, float] = field(default_factory=dict)
    errors: dict[str, float] = field(default_factory=dict)
    #: Covariance of the free parameters, by name pair.
    covariance: dict[tuple[str, str], float] = field(default_factory=dict)
    start: dict[str, float] = field(default_factory=dict)
    edges: np.ndarray = field(default_factory=lambda: np.zeros(0))
    counts: np.ndarray = field(default_factory=lambda: np.zeros(0))
    reduced_chi2: float = math.nan
    calls: int = 0

    @property
    def ok(self) -> bool:
        return self.status == STATUS_CALIBRATED

    @property
    def model(self) -> ResponseModel:
        return ResponseModel(self.mode, self.n)

    def cov(self, a: str, b: str) -> float:
        """Covariance of two parameters (0 for a fixed one)."""
        return self.covariance.get((a, b), 0.0)

    @property
    def gain(self) -> float:
        return self.values.get("gain", math.nan)

    @property
    def gain_uncertainty(self) -> float:
        return self.errors.get("gain", math.nan)

    def line(self) -> tuple[float, float, float, float, float]:
        """Slope 1/gain and intercept -pedestal/gain of the charge line, the uncertainties of
        both (from the fit's covariance) and their covariance."""
        g, p = self.values["gain"], self.values["pedestal"]
        slope, intercept = 1.0 / g, -p / g
        # Jacobian of (slope, intercept) by (pedestal, gain).
        jac = np.array([[0.0, -1.0 / g**2], [-1.0 / g, p / g**2]])
        names = ("pedestal", "gain")
        cov = np.array([[self.cov(a, b) for b in names] for a in names])
        out = jac @ cov @ jac.T
        return slope, intercept, math.sqrt(out[0, 0]), math.sqrt(out[1, 1]), float(out[0, 1])


def _smooth(counts: np.ndarray, sigma_bins: float) -> np.ndarray:
    half = max(int(3 * sigma_bins), 1)
    kernel = np.exp(-0.5 * (np.arange(-half, half + 1) / max(sigma_bins, 1e-9)) ** 2)
    return np.convolve(counts, kernel / kernel.sum(), mode="same")


def _local_maxima(y: np.ndarray, floor: float) -> np.ndarray:
    inside = (y[1:-1] >= y[:-2]) & (y[1:-1] > y[2:]) & (y[1:-1] >= floor)
    return np.flatnonzero(inside) + 1


def _half_crossing(y: np.ndarray, peak: int, step: int) -> int:
    """First index from ``peak`` in direction ``step`` where ``y`` falls below half the peak."""
    half = 0.5 * y[peak]
    i = peak
    while 0 < i < len(y) - 1 and y[i] > half:
        i += step
    return i


def _quantile_x(edges: np.ndarray, counts: np.ndarray, q: float) -> float:
    cum = np.cumsum(counts)
    i = int(np.searchsorted(cum, q * cum[-1]))
    return float(edges[min(i + 1, len(edges) - 1)])


def _spread_bins(counts: np.ndarray) -> float:
    """A smoothing width, in bins, of about a 200th of the bulk of the histogram."""
    cum = np.cumsum(counts)
    lo, hi = np.searchsorted(cum, [0.02 * cum[-1], 0.98 * cum[-1]])
    return max((hi - lo) / 200.0, 1.0)


def _peaks(
    edges: np.ndarray, counts: np.ndarray
) -> tuple[np.ndarray, float, np.ndarray, np.ndarray]:
    """Bin centres, bin width, the smoothed histogram and the bins of its peaks (above 5 % of
    the highest), the starting point of both modes' starting values."""
    x = 0.5 * (edges[1:] + edges[:-1])
    smooth = _smooth(counts.astype(np.float64), _spread_bins(counts))
    return x, float(edges[1] - edges[0]), smooth, _local_maxima(smooth, 0.05 * smooth.max())


def _pedestal_start(
    edges: np.ndarray, counts: np.ndarray, options: FitOptions
) -> tuple[dict[str, float], tuple[float, float]] | str:
    x, width, smooth, peaks = _peaks(edges, counts)
    if len(peaks) == 0:
        return "no pedestal peak in the histogram"
    ped_i = int(peaks[0])
    low_i = _half_crossing(smooth, ped_i, -1)
    pedestal = float(x[ped_i])
    noise = max((pedestal - x[low_i]) / 1.1774, width)
    total = float(counts.sum())
    below = float(counts[:ped_i].sum()) + 0.5 * counts[ped_i]
    p0 = min(2.0 * below / total, 1.0)
    occupancy = -math.log(p0) if p0 > 0 else 5.0
    if occupancy < 0.01:
        return "no photo-electron signal beside the pedestal (occupancy below 1 %)"
    keep = x >= pedestal - 5.0 * noise
    weights = counts[keep].astype(np.float64)
    mean = float(np.average(x[keep], weights=weights))
    variance = float(np.average((x[keep] - mean) ** 2, weights=weights))
    gain = options.gain if options.gain is not None else (mean - pedestal) / occupancy
    if not gain > 0:
        return "no photo-electron signal above the pedestal"
    spe2 = (variance - noise**2) / occupancy - gain**2
    spe_sigma = min(max(math.sqrt(max(spe2, 0.0)), 0.1 * gain), 0.8 * gain)
    if options.fit_range is not None:
        fit_range = options.fit_range
    else:
        fit_range = (pedestal - 5.0 * noise, _quantile_x(edges, counts, 0.999))
    start = {
        "total": total,
        "pedestal": pedestal,
        "noise": noise,
        "gain": float(gain),
        "spe_sigma": spe_sigma,
        "occupancy": occupancy,
    }
    return start, fit_range


def _dark_start(
    edges: np.ndarray, counts: np.ndarray, options: FitOptions
) -> tuple[dict[str, float], tuple[float, float]] | str:
    x, width, smooth, peaks = _peaks(edges, counts)
    if len(peaks) == 0:
        return "no single photo-electron peak in the histogram"
    if options.gain is not None:
        peak_i = int(np.clip(np.searchsorted(x, options.gain), 1, len(x) - 2))
    else:
        peak_i = int(peaks[np.argmax(smooth[peaks])])
    gain = float(x[peak_i]) if options.gain is None else options.gain
    if not gain > 0:
        return "the single photo-electron peak lies at or below 0"
    high_i = _half_crossing(smooth, peak_i, +1)
    low_i = _half_crossing(smooth, peak_i, -1)
    sigma = max((x[high_i] - x[peak_i]) / 1.1774, 2 * width)
    threshold = max(x[peak_i] - sigma, x[low_i])
    if options.fit_range is not None:
        fit_range = options.fit_range
    else:
        fit_range = (float(threshold), _quantile_x(edges, counts, 0.999))
    start = {"pedestal": 0.0, "noise": 0.5 * sigma, "gain": gain, "spe_sigma": 0.85 * sigma}
    above = x >= fit_range[0]
    for k in range(1, 8):
        lo, hi = (k - 0.5) * gain, (k + 0.5) * gain
        share = float(counts[above & (x >= lo) & (x < hi)].sum())
        start[f"w{k}"] = max(share / 0.84 if k == 1 else share, 1.0)
    return start, fit_range


def _fit_bins(
    edges: np.ndarray, counts: np.ndarray, fit_range: tuple[float, float], narrowest: float
) -> tuple[np.ndarray, np.ndarray]:
    """The fine bins inside ``fit_range`` merged into bins about half ``narrowest`` wide."""
    lo_i = int(np.clip(np.searchsorted(edges, fit_range[0], side="right") - 1, 0, len(counts)))
    hi_i = int(np.clip(np.searchsorted(edges, fit_range[1], side="left"), lo_i, len(counts)))
    fine = edges[1] - edges[0]
    span = hi_i - lo_i
    target = min(max(0.5 * narrowest, span * fine / MAX_FIT_BINS), span * fine / MIN_FIT_BINS)
    factor = max(round(target / fine), 1)
    groups = span // factor
    hi_i = lo_i + groups * factor
    merged = counts[lo_i:hi_i].reshape(groups, factor).sum(axis=1)
    return edges[lo_i : hi_i + 1 : factor].copy(), merged


def fit_spectrum(
    channel: int,
    edges: np.ndarray,
    counts: np.ndarray,
    entries: int,
    options: FitOptions = FitOptions(),
) -> ChannelFit:
    """Fit one channel's histogram (fine ``edges`` and ``counts``; ``entries`` counts also the
    values outside the bins)."""
    from iminuit import Minuit
    from iminuit.cost import ExtendedBinnedNLL

    mode = options.mode
    result = ChannelFit(channel=channel, entries=int(entries), status=STATUS_FIT_FAILED, mode=mode)
    if entries < options.min_entries:
        result.status = STATUS_TOO_FEW_ENTRIES if entries else STATUS_NO_ENTRIES
        result.reason = f"too few entries ({entries}, need {options.min_entries})"
        return result
    found = (_dark_start if mode == "dark" else _pedestal_start)(edges, counts, options)
    if isinstance(found, str):
        result.reason = found
        return result
    start, fit_range = found
    result.start = dict(start)
    if not fit_range[0] < fit_range[1]:
        result.reason = f"empty fit range [{fit_range[0]:g}, {fit_range[1]:g})"
        return result
    narrowest = (
        start["noise"] if mode == "pedestal" else math.hypot(start["noise"], start["spe_sigma"])
    )
    fit_edges, fit_counts = _fit_bins(edges, counts, fit_range, narrowest)
    result.edges, result.counts = fit_edges, fit_counts
    if len(fit_counts) < 8 or fit_counts.sum() < 0.5 * options.min_entries:
        result.reason = (
            f"too few entries in the fit range [{fit_range[0]:g}, {fit_range[1]:g}) "
            f"({int(fit_counts.sum())})"
        )
        return result
    model = ResponseModel.for_range(
        mode, float(fit_edges[-1]), start["pedestal"], start["gain"], start.get("occupancy", 1)
    )
    result.n = model.n
    names = model.parameters()
    cost = ExtendedBinnedNLL(fit_counts, fit_edges, model.scaled_cdf, name=names)
    values = {name: start.get(name, 0.0) for name in names}
    gain = start["gain"]
    last = None
    for fixed_noise in (False, True) if mode == "dark" else (False,):
        m = Minuit(cost, **values)
        m.strategy = 0
        m.limits["gain"] = (0.2 * gain, 5.0 * gain)
        m.limits["noise"] = (0.0, 2.0 * gain)
        m.limits["spe_sigma"] = (0.01 * gain, 2.0 * gain)
        if mode == "pedestal":
            m.limits["total"] = (0.0, None)
            m.limits["occupancy"] = (1e-4, 100.0)
            m.limits["pedestal"] = (fit_range[0], fit_range[1])
        else:
            m.fixed["pedestal"] = True
            for name in names[4:]:
                m.limits[name] = (0.0, None)
            if fixed_noise:
                m.values["noise"] = 0.0
                m.fixed["noise"] = True
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # iminuit warns of a failed Hesse; checked below
            # The quick strategy to the minimum, then the covariance from Hesse; the careful
            # strategy only when that covariance is not accurate.
            m.migrad()
            if m.valid:
                m.hesse()
            if m.valid and not m.accurate:
                m.strategy = 2
                m.migrad()
                m.hesse()
        last = m
        if m.valid and m.accurate:
            break
    assert last is not None
    m = last
    result.calls = int(m.nfcn)
    result.values = {name: float(m.values[name]) for name in names}
    result.errors = {name: float(m.errors[name]) for name in names}
    if not m.valid:
        result.reason = "the fit did not converge"
        return result
    if not m.accurate:
        result.reason = "the fit's covariance is not accurate"
        return result
    for name in ("gain", "spe_sigma"):
        low, high = m.limits[name]
        if min(m.values[name] - low, high - m.values[name]) < 1e-3 * gain:
            result.reason = f"{name} at the limit of its range"
            return result
    free = [name for name in names if not m.fixed[name]]
    result.covariance = {(a, b): float(m.covariance[a, b]) for a in free for b in free}
    ndof = len(fit_counts) - len(free)
    result.reduced_chi2 = float(m.fval) / ndof if ndof > 0 else math.nan
    result.status = STATUS_CALIBRATED
    return result


def _fit_row(args: tuple) -> ChannelFit:
    return fit_spectrum(*args)


def fit_spectra(
    spectra: Spectra,
    options: FitOptions = FitOptions(),
    *,
    jobs: int | None = None,
    on_progress: Callable[[int], None] | None = None,
) -> list[ChannelFit]:
    """Fit every channel of ``spectra``; ``jobs`` processes (None: as many as pay, up to the
    cores this process may use; 1: in this process)."""
    entries = spectra.entries
    work = [
        (int(c), spectra.edges, spectra.counts[i], int(entries[i]), options)
        for i, c in enumerate(spectra.channels)
    ]
    if jobs is None:
        cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else 1
        jobs = min(cores, len(work) // PARALLEL_MIN_CHANNELS) if cores > 1 else 1
    jobs = max(int(jobs), 1)
    if jobs == 1 or len(work) < 2:
        fits = []
        for item in work:
            fits.append(_fit_row(item))
            if on_progress is not None:
                on_progress(1)
        return fits
    fits = []
    with ProcessPoolExecutor(max_workers=jobs, mp_context=get_context("spawn")) as pool:
        for fit in pool.map(_fit_row, work, chunksize=max(len(work) // (8 * jobs), 1)):
            fits.append(fit)
            if on_progress is not None:
                on_progress(1)
    return fits


def channels_of(fits: Sequence[ChannelFit]) -> np.ndarray:
    """The channel numbers of ``fits``."""
    return np.array([f.channel for f in fits], dtype=np.int64)


__all__ = [
    "DEFAULT_MIN_ENTRIES",
    "STATUS_CALIBRATED",
    "STATUS_FIT_FAILED",
    "STATUS_NO_ENTRIES",
    "STATUS_TOO_FEW_ENTRIES",
    "ChannelFit",
    "FitOptions",
    "fit_spectra",
    "fit_spectrum",
]
