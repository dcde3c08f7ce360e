"""The demo's figure: the reconstructed charge spectra of the two trigger kinds."""

from __future__ import annotations

import os

import numpy as np

from .._atomic import atomic_output
from .._dtypes import trigger_positions
from ..files.triggerfile import TriggerData

__all__ = ["plot_charge_spectrum", "spectrum_bin_edges"]


def spectrum_bin_edges(values: np.ndarray, low: float, high: float, width: float) -> np.ndarray:
    """Bin edges about ``width`` apart over [low, high) for a histogram of ``values``.

    Charges from an ADC sample take few distinct values; equal bins would hold one or two of
    them in turn and show a comb that is not in the data.  For such values every edge lies
    halfway between two neighbouring values, so each bin holds whole values.
    """
    inside = values[(values >= low) & (values < high)]
    distinct = np.unique(inside)
    if len(distinct) < 2 or len(distinct) > len(inside) // 10:
        return np.arange(low, high + width / 2, width)
    edges = [low]
    for middle in (distinct[1:] + distinct[:-1]) / 2:
        if middle - edges[-1] >= width and high - middle >= width:
            edges.append(float(middle))
    edges.append(high)
    return np.asarray(edges)


def plot_charge_spectrum(path: str | os.PathLike, hits: np.ndarray, data: TriggerData) -> bool:
    """Write the reconstructed charge spectra as a PNG; False when matplotlib is missing."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    low, high, width = -0.5, 6.0, 0.05
    is_tarvo = trigger_positions(hits["id"]) < data.n_tarvo
    spectra = [
        ("waveform triggers", hits["charge"][is_tarvo], "C0"),
        ("multi-PMT triggers", hits["charge"][~is_tarvo], "C1"),
    ]
    if data.truth is not None:
        true = np.concatenate([data.truth.tarvo_charge, data.truth.multipmt_charge])
        pulse = np.concatenate([data.truth.tarvo_npe, data.truth.multipmt_npe]) > 0
        spectra.append(("true charge (triggers with a pulse)", true[pulse], "grey"))
    figure, axes = plt.subplots(figsize=(8, 5), dpi=100)
    for label, charges, color in spectra:
        edges = spectrum_bin_edges(charges, low, high, width)
        counts, _ = np.histogram(charges, bins=edges)
        style = "--" if color == "grey" else "-"
        axes.stairs(counts / np.diff(edges), edges, label=label, ls=style, lw=1.5, color=color)
    for npe in (1, 2, 3):
        axes.axvline(npe, color="black", lw=0.5, ls=":")
    axes.set_xlim(low, high)
    axes.set_xlabel("charge [PE]")
    axes.set_ylabel("hits per PE")
    axes.set_title("orvane demo: reconstructed charge (the single photo-electron peak at 1 PE)")
    axes.legend()
    figure.tight_layout()
    with atomic_output(path) as tmp, open(tmp, "wb") as stream:
        figure.savefig(stream, format="png")
    plt.close(figure)
    return True
