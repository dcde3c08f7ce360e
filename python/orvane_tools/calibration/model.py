"""The photo-electron response of one channel: what its charge spectrum looks like.

A trigger holds n photo-electrons; its charge (in the units of the feature, e.g. LSB * samples)
is Gaussian about ``pedestal + n * gain`` with a width ``sqrt(noise^2 + n * spe_sigma^2)``:
``noise`` is the spread of the pedestal (baseline noise summed over the window) and
``spe_sigma`` the spread of a single photo-electron's charge.

Two forms of the weights of the terms:

``pedestal`` (triggered light, the pedestal in view)
    n is Poisson distributed with mean ``occupancy``; the expected count in a bin is
    ``total * sum_n Poisson(n; occupancy) * integral of Gauss_n over the bin``, n = 0 up to
    where the terms vanish.  ``total`` counts every trigger, also those outside the bins fitted,
    so the model is normalised over any fit range.
``dark`` (self-triggered dark counts, no pedestal)
    the pedestal is 0, and n = 1, 2, 3, ... carry free weights ``w1, w2, ...`` (the number of
    pulses of n photo-electrons): optical cross talk makes them non-Poissonian.

Bin integrals use Simpson's rule on each bin's edges and middle; bins are kept at most about
half the narrowest peak's width wide, where the rule is exact to well below a part in 10^4.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

MODES = ("pedestal", "dark")
#: Terms beyond this many photo-electrons are never summed (the spectrum has long ended).
MAX_TERMS = 60
#: Free weights of the dark-count model at most (n = 1 .. this).
MAX_DARK_TERMS = 6

_INV_SQRT_2PI = 1.0 / math.sqrt(2.0 * math.pi)


@dataclass(frozen=True)
class ResponseModel:
    """The model of one spectrum: its mode and the photo-electron counts it sums.

    ``n`` holds the photo-electron count of every term (0..N for ``pedestal``, 1..N for
    ``dark``); :meth:`parameters` names the fit's parameters in order.
    """

    mode: str
    n: np.ndarray

    @classmethod
    def for_range(
        cls, mode: str, high: float, pedestal: float, gain: float, occupancy: float = 1.0
    ) -> ResponseModel:
        """The model whose terms cover every peak up to ``high`` (and the Poisson tail of a
        generous ``occupancy``)."""
        if mode not in MODES:
            raise ValueError(f"unknown mode {mode!r}; choose one of {', '.join(MODES)}")
        if mode == "dark":
            # Free weights only for peaks inside the range: one beyond it would be fitted to
            # the few values at the range's end.
            inside = max(math.floor((high - pedestal) / gain), 1)
            return cls(mode, np.arange(1, min(inside, MAX_DARK_TERMS) + 1))
        reach = max(math.ceil((high - pedestal) / gain) + 2, 2)
        mu = max(occupancy, 0.05) * 2.0
        tail = math.ceil(mu + 8.0 * math.sqrt(mu) + 4.0)
        return cls(mode, np.arange(0, min(reach, tail, MAX_TERMS) + 1))

    def parameters(self) -> tuple[str, ...]:
        """Names of the parameters, in the order the functions below take them."""
        shape = ("pedestal", "noise", "gain", "spe_sigma")
        if self.mode == "pedestal":
            return ("total", *shape, "occupancy")
        return (*shape, *(f"w{k}" for k in self.n))

    def weights(self, values: dict[str, float] | np.ndarray) -> np.ndarray:
        """Expected number of triggers in each term (over the whole real line)."""
        p = self._as_dict(values)
        if self.mode == "pedestal":
            return p["total"] * _poisson(self.n, p["occupancy"])
        return np.array([p[f"w{k}"] for k in self.n], dtype=np.float64)

    def peaks(self, values: dict[str, float] | np.ndarray) -> tuple[np.ndarray, np.ndarray]:
        """Mean and width of each term's Gaussian."""
        p = self._as_dict(values)
        mean = p["pedestal"] + self.n * p["gain"]
        width = np.sqrt(p["noise"] ** 2 + self.n * p["spe_sigma"] ** 2)
        return mean, width

    def component_counts(
        self, edges: np.ndarray, values: dict[str, float] | np.ndarray
    ) -> np.ndarray:
        """Expected counts of every term in every bin: shape (terms, bins)."""
        mean, width = self.peaks(values)
        return _bin_integrals(edges, mean, width) * self.weights(values)[:, np.newaxis]

    def counts(self, edges: np.ndarray, values: dict[str, float] | np.ndarray) -> np.ndarray:
        """Expected counts in every bin."""
        mean, width = self.peaks(values)
        return self.weights(values) @ _bin_integrals(edges, mean, width)

    def density(self, x: np.ndarray, values: dict[str, float] | np.ndarray) -> np.ndarray:
        """Expected counts per unit of the feature at ``x``, each term: shape (terms, len(x))."""
        mean, width = self.peaks(values)
        return (
            _gauss(np.asarray(x, dtype=np.float64), mean, width)
            * self.weights(values)[:, np.newaxis]
        )

    def scaled_cdf(self, edges: np.ndarray, *values: float) -> np.ndarray:
        """Expected counts below each edge, from the first: the form a binned extended
        likelihood takes (only differences matter)."""
        counts = self.counts(edges, np.asarray(values, dtype=np.float64))
        out = np.empty(len(edges))
        out[0] = 0.0
        np.cumsum(counts, out=out[1:])
        return out

    def _as_dict(self, values: dict[str, float] | np.ndarray) -> dict[str, float]:
        if isinstance(values, dict):
            return values
        return dict(zip(self.parameters(), values))


_LOG_FACTORIAL = np.array([math.lgamma(k + 1.0) for k in range(MAX_TERMS + 1)])


def _poisson(n: np.ndarray, mu: float) -> np.ndarray:
    if not mu > 0:
        return (n == 0).astype(np.float64)
    return np.exp(n * math.log(mu) - mu - _LOG_FACTORIAL[n])


def _gauss(x: np.ndarray, mean: np.ndarray, width: np.ndarray) -> np.ndarray:
    z = (x[np.newaxis, :] - mean[:, np.newaxis]) / width[:, np.newaxis]
    return np.exp(-0.5 * z * z) * (_INV_SQRT_2PI / width[:, np.newaxis])


def _bin_integrals(edges: np.ndarray, mean: np.ndarray, width: np.ndarray) -> np.ndarray:
    """Integral of each unit Gaussian over each bin (Simpson's rule): shape (terms, bins)."""
    middle = 0.5 * (edges[1:] + edges[:-1])
    at_edges = _gauss(edges, mean, width)
    at_middle = _gauss(middle, mean, width)
    return (at_edges[:, :-1] + 4.0 * at_middle + at_edges[:, 1:]) * (np.diff(edges) / 6.0)


__all__ = ["MAX_DARK_TERMS", "MAX_TERMS", "MODES", "ResponseModel"]
