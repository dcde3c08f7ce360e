"""Figures of a calibration: each channel's spectrum with the fitted response and its terms."""

from __future__ import annotations

import os
from pathlib import Path
from typing import TYPE_CHECKING, Any

import numpy as np

from .common import Page, save_png, small_multiples

if TYPE_CHECKING:
    from ..calibration.driver import CalibrationResult
    from ..calibration.fit import ChannelFit

#: Channels per page of small multiples.
PANELS_PER_FIGURE = 64
#: Terms drawn one by one (the rest only in the sum).
DRAWN_TERMS = 6


def draw_spectrum(
    ax: Any,
    fit: ChannelFit,
    *,
    feature: str = "waveform_integral",
    log: bool = False,
    legend: bool = False,
    detail: bool = True,
) -> None:
    """Draw one channel's fitted histogram, the fitted model and each photo-electron term.

    Without a fit (a failed channel) the histogram and the reason are drawn.
    """
    edges, counts = fit.edges, fit.counts
    if len(counts):
        ax.stairs(counts, edges, color="0.35", lw=0.9, label="data")
    if fit.ok:
        model = fit.model
        x = np.linspace(edges[0], edges[-1], 600)
        widths = np.diff(edges)
        scale = float(np.median(widths))  # counts per bin of the median width
        terms = model.density(x, fit.values) * scale
        ax.plot(x, terms.sum(axis=0), color="C3", lw=1.3, label="fit")
        for k, term in zip(model.n[:DRAWN_TERMS], terms[:DRAWN_TERMS]):
            label = "pedestal" if k == 0 else f"{k} PE"
            ax.plot(x, term, lw=0.8, ls="--", label=label)
        if detail:
            g, dg = fit.gain, fit.gain_uncertainty
            text = f"gain {g:.4g} ± {dg:.2g}\nχ²/ndf {fit.reduced_chi2:.2f}"
            ax.text(
                0.97, 0.95, text, transform=ax.transAxes, ha="right", va="top", fontsize="small"
            )
    elif detail:
        ax.text(
            0.5,
            0.5,
            f"not calibrated:\n{fit.reason}",
            transform=ax.transAxes,
            ha="center",
            va="center",
            fontsize="small",
            color="C3",
            wrap=True,
        )
    if log:
        ax.set_yscale("log")
        top = max(float(counts.max()) if len(counts) else 1.0, 1.0)
        ax.set_ylim(0.5, 2.0 * top)
    else:
        ax.set_ylim(bottom=0)
    if len(edges):
        ax.set_xlim(edges[0], edges[-1])
    ax.set_xlabel(feature)
    ax.set_ylabel("entries per bin")
    if legend:
        ax.legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.0, 1.0))


TITLE = "orvane calibrate: spectra and fits"


def check_page(page_path: Path, overwrite: bool) -> None:
    """Refuse (FileExistsError) to replace ``page_path`` without ``overwrite``, or a page that
    is not a calibration report's with it."""
    if not page_path.exists():
        return
    if not overwrite:
        raise FileExistsError(f"{page_path} exists; pass --overwrite to replace it")
    try:
        with open(page_path, encoding="utf-8", errors="replace") as stream:
            own = f"<title>{TITLE}</title>" in stream.read(4096)
    except OSError:
        own = False
    if not own:
        raise FileExistsError(
            f"{page_path} is not the page of a calibration report; write the report into "
            "another folder (--overwrite replaces only such a page)"
        )


def write_report(
    directory: str | os.PathLike, result: CalibrationResult, *, overwrite: bool = False
) -> Path:
    """Write a page of every channel's spectrum and fit into ``directory`` (``index.html``
    and one PNG of small multiples per 64 channels); returns the page."""
    out = Path(directory)
    page_path = out / "index.html"
    check_page(page_path, overwrite)
    out.mkdir(parents=True, exist_ok=True)
    feature = str(result.options.get("feature", "waveform_integral"))
    fits = result.fits
    page = Page(TITLE)
    page.heading("Calibration: each channel's spectrum and its fit", level=1)
    page.facts(
        [
            ("options", " ".join(f"{k}={v}" for k, v in result.options.items() if v is not None)),
            ("channels", len(fits)),
            ("calibrated", result.plan.calibrated),
            ("output", result.output or "-"),
        ]
    )
    if result.failed:
        page.heading("Channels without new numbers")
        page.table(["channel", "reason"], result.failed, text_columns=[1])
    page.heading("Fits")
    page.paragraph(
        "Data (grey), the fitted response (red) and its photo-electron terms (dashed), on a "
        "logarithmic scale; the bins are those fitted."
    )
    for first in range(0, len(fits), PANELS_PER_FIGURE):
        group = fits[first : first + PANELS_PER_FIGURE]
        figure, axes = small_multiples(
            len(group), ncols=6, titles=[f"channel {fit.channel}" for fit in group]
        )
        for ax, fit in zip(axes, group):
            draw_spectrum(ax, fit, feature=feature, log=True)
            ax.set_xlabel("")
        name = f"spectra_{first // PANELS_PER_FIGURE:03d}.png"
        save_png(figure, out / name)
        last = group[-1].channel
        page.image(name, f"spectra of channels {group[0].channel} to {last}")
    header = [
        "channel",
        "entries",
        "gain",
        "± gain",
        "pedestal",
        "noise",
        "spe width",
        "occupancy",
        "χ²/ndf",
        "status",
    ]
    rows: list[list[object]] = []
    for fit in fits:
        v = fit.values
        if fit.ok:
            rows.append(
                [
                    fit.channel,
                    fit.entries,
                    f"{fit.gain:.5g}",
                    f"{fit.gain_uncertainty:.2g}",
                    f"{v['pedestal']:.4g}",
                    f"{v['noise']:.4g}",
                    f"{v['spe_sigma'] / fit.gain:.3f}",
                    f"{v['occupancy']:.4f}" if "occupancy" in v else "-",
                    f"{fit.reduced_chi2:.2f}",
                    "calibrated",
                ]
            )
        else:
            rows.append([fit.channel, fit.entries, *(["-"] * 7), fit.reason])
    page.heading("Numbers")
    page.table(header, rows, text_columns=[9], sortable=True)
    return page.write(page_path)


__all__ = ["draw_spectrum", "write_report"]
