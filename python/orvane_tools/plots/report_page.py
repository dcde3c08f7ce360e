"""Drawing the run report: its figures (small multiples, one panel per channel) and its page."""

from __future__ import annotations

import math
from pathlib import Path
from typing import Any

import numpy as np

from .common import Page, save_png, small_multiples
from .report_stats import CHARGE_EDGES, DT_EDGES, NEXT_EDGES, KeptWaveform, RunStats

NCOLS = 8
PANEL = (2.3, 1.7)


def _label(ch: dict[str, Any]) -> str:
    return f"ch {ch['channel']}" + (" (!)" if ch["warnings"] else "")


def _pin_axis_labels(ax) -> None:
    """Fix where the panel's axis labels go: they are empty (a figure's labels are shared), and
    placing them clear of the tick labels would measure every tick label once more."""
    ax.xaxis.set_label_coords(0.5, 0.0)
    ax.yaxis.set_label_coords(0.0, 0.5)


def _clear_panel(ax) -> None:
    """Take a panel back to how it was made: no artists, linear scales, limits 0 to 1 that
    the next data rescale.  Its axes and ticks stay: they take longer to make than to draw."""
    for artist in [*ax.lines, *ax.patches, *ax.texts, *ax.collections]:
        artist.remove()
    if ax.get_legend() is not None:
        ax.get_legend().remove()
    ax.relim()
    ax.set_xscale("linear")  # new locators and formatters, as a new panel has
    ax.set_yscale("linear")
    ax.set_xlim(0.0, 1.0, auto=True)
    ax.set_ylim(0.0, 1.0, auto=True)


class _Figures:
    """The report's figures, each kept to draw the next image with the same panels into.

    Making a panel (its axes and their ticks) takes longer than drawing on it: the figures of
    one panel per channel share one grid, and every channel's waveforms one figure, cleared
    between images.
    """

    def __init__(self) -> None:
        self._kept: dict[tuple[Any, ...], tuple[Any, list[Any]]] = {}

    def _get(self, key: tuple[Any, ...], make):
        if key in self._kept:
            fig, axes = self._kept[key]
            for ax in axes:
                _clear_panel(ax)
        else:
            fig, axes = self._kept[key] = make()
        return fig, axes

    def grid(self, channels: list[dict[str, Any]]):
        """One panel per channel, titled by it (in orange when it has a warning)."""

        def make():
            fig, axes = small_multiples(
                len(channels), ncols=min(NCOLS, len(channels)), panel_size=PANEL
            )
            for ax, ch in zip(axes, channels):
                # Where matplotlib puts a title with nothing above the axes; left to place it
                # itself, it measures the tick labels once more to keep it clear of an offset
                # text, which never reaches a title this short.
                ax.set_title(_label(ch), fontsize="medium", y=1.0)
                _pin_axis_labels(ax)
                ax.tick_params(labelsize=6)
                if ch["warnings"]:
                    ax.title.set_color("#b35c00")
            return fig, axes

        fig, axes = self._get(("grid", *map(_label, channels)), make)
        for ax in axes:
            ax.locator_params(axis="x", nbins=4)  # fewer labels draw faster
        return fig, axes

    def waveforms(self, n: int):
        """``n`` waveform panels, four a row."""

        def make():
            fig, axes = small_multiples(n, ncols=4, panel_size=(3.4, 2.2))
            for ax in axes:
                _pin_axis_labels(ax)
                ax.tick_params(labelsize=6)
            return fig, axes

        return self._get(("waveforms", n), make)


def _log_y(ax) -> None:
    """A logarithmic y axis without minor ticks (they cost more to draw than the data)."""
    from matplotlib.ticker import NullLocator

    ax.set_yscale("log")
    ax.yaxis.set_minor_locator(NullLocator())


def _display_range(counts: np.ndarray, edges: np.ndarray, lo_q: float, hi_q: float):
    total = counts.sum()
    if total <= 0:
        return None
    cumulative = np.cumsum(counts) / total
    lo = edges[int(np.searchsorted(cumulative, lo_q))]
    hi = edges[min(int(np.searchsorted(cumulative, hi_q)) + 1, len(edges) - 1)]
    return lo, hi


def _charge_figure(
    figures: _Figures,
    stats: RunStats,
    rows: list[int],
    channels: list[dict[str, Any]],
    path: Path,
) -> None:
    fig, axes = figures.grid(channels)
    linear = int(np.searchsorted(CHARGE_EDGES, 20.0))
    for ax, s, ch in zip(axes, rows, channels):
        counts = stats.counters["charge"][s]
        if counts.sum() == 0:
            ax.text(0.5, 0.5, "no hits", ha="center", va="center", transform=ax.transAxes)
            continue
        if counts[linear:].sum() > 0.05 * counts.sum():
            ax.stairs(counts, CHARGE_EDGES, color="C0")
            ax.set_xscale("symlog", linthresh=1.0)
        else:
            hi = _display_range(counts[:linear], CHARGE_EDGES[: linear + 1], 0.0, 0.995)[1]
            hi = max(3.0, float(hi))
            edges = CHARGE_EDGES[: linear + 1]
            # Fewer, wider bins for fewer hits: about sqrt(hits) of them, 20 to 120.
            target = min(max(math.sqrt(counts.sum()), 20), 120)
            group = max(1, round((hi + 0.5) / (edges[1] - edges[0]) / target))
            n = linear // group * group
            coarse = counts[:n].reshape(-1, group).sum(axis=1)
            ax.stairs(coarse, edges[: n + 1 : group], color="C0")
            ax.set_xlim(-0.5, hi)
        _log_y(ax)
        ax.axvline(1.0, color="black", lw=0.6, ls=":")
        if ch.get("spe_peak") is not None and math.isfinite(ch["spe_peak"]):
            ax.axvline(ch["spe_peak"], color="C3", lw=0.8)
    fig.supxlabel("charge [PE] (dotted: 1 PE, red: the peak found)", fontsize=8)
    fig.supylabel("hits per bin", fontsize=8)
    save_png(fig, path)


def _histogram_figure(
    figures: _Figures,
    counter: np.ndarray,
    edges: np.ndarray,
    rows: list[int],
    channels: list[dict[str, Any]],
    path: Path,
    xlabel: str,
    *,
    log: bool,
    empty: str,
) -> bool:
    if counter[rows].sum() == 0:
        return False
    fig, axes = figures.grid(channels)
    for ax, s in zip(axes, rows):
        counts = counter[s]
        if counts.sum() == 0:
            ax.text(0.5, 0.5, empty, ha="center", va="center", transform=ax.transAxes, fontsize=7)
            continue
        lo, hi = _display_range(counts, edges, 0.002, 0.998)
        lo, hi = lo - 8.0, hi + 8.0
        # About 60 bins over the range shown, of whole 4 ns samples (times come in ticks).
        base = edges[1] - edges[0]
        step = max(round(4.0 / base), int((hi - lo) / base / 60) // 2 * 2)
        # Only the bins shown: long paths clipped away still cost drawing time.
        first = max(int(np.searchsorted(edges, lo)) - step, 0)
        last = min(int(np.searchsorted(edges, hi)) + step, len(counts))
        n = (last - first) // step * step
        shown = counts[first : first + n].reshape(-1, step).sum(axis=1)
        ax.stairs(shown, edges[first : first + n + 1 : step], color="C0")
        ax.set_xlim(lo, hi)
        if log:
            _log_y(ax)
    fig.supxlabel(xlabel, fontsize=8)
    fig.supylabel("hits per bin", fontsize=8)
    save_png(fig, path)
    return True


def _profile_figure(
    figures: _Figures, stats: RunStats, rows, channels, path: Path, what: str
) -> bool:
    profile = stats.trigger_profile if what == "baseline" else stats.hit_profile
    if profile.t0 is None or profile.t_max is None:
        return False
    x = profile.centres()
    used = x <= (profile.t_max - profile.t0) + profile.width
    fig, axes = figures.grid(channels)
    sums = profile.sums
    for ax, s in zip(axes, rows):
        ax.ticklabel_format(axis="y", useOffset=False)
        if what == "baseline":
            n = sums["analysed"][s]
            ok = (n > 0) & used
            if not ok.any():
                ax.text(0.5, 0.5, "no waveforms", ha="center", va="center", transform=ax.transAxes)
                continue
            ax.plot(x[ok], sums["baseline"][s][ok] / n[ok], color="C0", lw=1, label="stored")
            ax.plot(x[ok], sums["quiet"][s][ok] / n[ok], color="C1", lw=1, ls="--", label="quiet")
        else:
            ax.plot(x[used], sums["hits"][s][used] / profile.width, color="C2", lw=1)
            ax.set_ylim(bottom=0)
    if what == "baseline":
        axes[0].legend(fontsize=6)
        fig.supylabel("baseline [LSB]", fontsize=8)
    else:
        fig.supylabel("hits per second", fontsize=8)
    fig.supxlabel(f"time since the first trigger [s] (bins of {profile.width:.3g} s)", fontsize=8)
    save_png(fig, path)
    return True


def _window(summary: dict[str, Any]) -> tuple[float | None, int, int]:
    options = summary["run"]["extractor_options"]
    if summary["run"]["waveform_extractor"] != "PulseFinder":
        return None, 0, 0

    def number(key: str, default: float) -> float:
        try:
            return float(options.get(f"PulseFinder.{key}", default))
        except ValueError:
            return default

    return (
        number("threshold", math.nan),
        int(number("samples_before", 3)),
        int(number("samples_after", 16)),
    )


def _waveform_figure(
    waveforms: list[KeptWaveform],
    summary: dict[str, Any],
    period: float,
    path: Path,
    figures: _Figures,
) -> None:
    threshold, before, after = _window(summary)
    fig, axes = figures.waveforms(len(waveforms))
    for ax, w in zip(axes, waveforms):
        t = np.arange(len(w.samples))
        ax.step(t, w.samples, where="mid", color="C0", lw=0.8)
        ax.axhline(w.baseline, color="C7", lw=0.8, label="baseline")
        if threshold is not None and math.isfinite(threshold):
            ax.axhline(w.baseline + threshold, color="C3", lw=0.7, ls="--", label="threshold")
        for k, (time, charge) in enumerate(zip(w.hit_times, w.hit_charges)):
            at = time / period
            if w.windows is not None and w.windows[k, 0] >= 0:
                # The pulse's own window, as the pulse finder recorded it.
                ax.axvspan(w.windows[k, 0] - 0.5, w.windows[k, 1] + 0.5, color="C1", alpha=0.15)
            elif threshold is not None:
                ax.axvspan(at - before, at + after, color="C1", alpha=0.15, lw=0)
            ax.axvline(at, color="C1", lw=0.9)
            ax.annotate(
                f"{charge:.2f} PE",
                (at, 1.0),
                xycoords=("data", "axes fraction"),
                xytext=(2, -2),  # beside the hit's line, below the frame
                textcoords="offset points",
                fontsize=6,
                va="top",
                color="C1",
            )
        ax.set_title(
            f"trigger {w.position} ({w.order}), {len(w.hit_times)} hit"
            + ("s" if len(w.hit_times) != 1 else ""),
            fontsize=7,
        )
        # Last, as it also scales the axes to all drawn, a hit's line past the samples too.
        ax.locator_params(nbins=4)
    axes[0].legend(fontsize=6, loc="lower right")
    fig.supxlabel(f"sample ({period * 1e9:g} ns each)", fontsize=8)
    fig.supylabel("LSB", fontsize=8)
    save_png(fig, path)


def _fmt(value: Any, digits: int = 3) -> str:
    if value is None:
        return "–"
    if isinstance(value, float):
        if not math.isfinite(value):
            return "–"
        return f"{value:.{digits}g}"
    return str(value)


def draw_and_write(folder: Path, stats: RunStats, summary: dict[str, Any], options) -> None:
    """Draw every figure into ``folder`` and write ``index.html`` there."""
    channels = summary["channels"]
    index = {n: i for i, n in enumerate(stats.channels.numbers)}
    drawn = [ch for ch in channels if ch["channel"] in index]
    rows = [index[ch["channel"]] for ch in drawn]
    run = summary["run"]
    figures = _Figures()
    page = Page(
        "orvane run report"
        + (f": run {', '.join(map(str, run['run_numbers']))}" if run["run_numbers"] else "")
    )
    page.heading(page.title, 1)
    page.nav(
        [
            ("warnings", "Warnings"),
            ("summary", "Run summary"),
            ("channels", "Channels"),
            ("plots", "Plots"),
            ("calibration", "Calibration"),
            ("waveforms", "Waveforms"),
        ]
    )

    # Warnings
    page.heading("Warnings", 2, "warnings")
    if not summary["warnings"]:
        page.raw('<div class="ok">No warning: every check passed.</div>')
    for w in summary["warnings"]:
        from .common import escape

        details = "".join(f"<li>{escape(d)}</li>" for d in w["details"])
        page.raw(
            f'<div class="warning" data-kind="{escape(w["kind"])}">'
            f'<span class="kind">{escape(w["kind"])}</span> on channel'
            f"{'s' if len(w['channels']) != 1 else ''} "
            f"{escape(', '.join(map(str, w['channels'])))}<ul>{details}</ul>"
            f"<div><b>What to do:</b> {escape(w['advice'])}</div></div>"
        )
    if not run["with_waveforms"]:
        page.paragraph(
            "No trigger files were given: the checks that need the waveforms (polarity, "
            "baseline, saturation) were not made, and there are no waveform plots.",
            "note",
        )

    # Run summary
    page.heading("Run summary", 2, "summary")
    counts = run["counts"]
    dropped = counts["dropped"]
    settings = run["settings"] or {}
    page.facts(
        [
            ("orvane version", run["orvane_version"] or "not recorded"),
            ("run number", ", ".join(map(str, run["run_numbers"])) or "not recorded"),
            ("settings", f"{settings.get('path')} (SHA-256 {settings.get('sha256')})"),
            ("waveform extractor", run["waveform_extractor"]),
            ("channel table", run["channel_table"] or "none named by the settings"),
            ("hit files", counts["hit_files"]),
            ("trigger files", counts["trigger_files"]),
            (
                "triggers",
                (
                    f"{counts['triggers']['tarvo']} waveform, "
                    f"{counts['triggers']['multipmt']} multi-PMT"
                ),
            ),
            ("hits", counts["hits"]),
            (
                "dropped",
                "not recorded"
                if dropped is None
                else (", ".join(f"{k}: {v}" for k, v in dropped.items()) or "none"),
            ),
            ("triggers with 16 hits", counts["triggers_at_record_limit"]),
            ("duration", _fmt(run["duration_s"]) + " s"),
            ("trigger rate", _fmt(run["trigger_rate_hz"]) + " Hz"),
            ("hit rate", _fmt(run["hit_rate_hz"]) + " Hz"),
        ]
    )
    if run["channel_table_note"]:
        page.paragraph(run["channel_table_note"], "note")
    inputs = [
        [
            i["hit_file"],
            i["trigger_file"] or "–",
            "; ".join(f"{r.get('path')} ({r.get('sha256')})" for r in i["recorded_inputs"])
            or "no provenance",
        ]
        for i in run["inputs"]
    ]
    page.table(
        ["hit file", "trigger file read", "made from (SHA-256)"], inputs, text_columns=(0, 1, 2)
    )
    if run["tables"]:
        page.table(
            ["table", "file", "SHA-256"],
            [[t.get("key"), t.get("path"), t.get("sha256")] for t in run["tables"]],
            text_columns=(0, 1, 2),
        )
    if settings.get("text"):
        from .common import escape

        page.raw(
            "<details><summary>settings file as recorded</summary>"
            f"<pre>{escape(settings['text'])}</pre></details>"
        )

    # Channel table
    page.heading("Channels", 2, "channels")
    header = [
        "channel",
        "kind",
        "triggers",
        "hits",
        "pulses / trigger",
        "hit rate [Hz]",
        "baseline [LSB]",
        "noise RMS [LSB]",
        "median charge [PE]",
        "1 PE peak [PE]",
        "dropped",
        "warnings",
    ]
    table_rows = []
    classes = []
    for ch in channels:
        table_rows.append(
            [
                ch["channel"],
                ch["kind"],
                _fmt(ch["triggers"]),
                ch["hits"],
                _fmt(ch.get("pulses_per_trigger")),
                _fmt(ch.get("hit_rate_hz")),
                _fmt(ch.get("baseline_mean"), 5),
                _fmt(ch.get("noise_rms")),
                _fmt(ch.get("median_charge")),
                _fmt(ch.get("spe_peak")),
                "not recorded" if ch.get("dropped") is None else _fmt(sum(ch["dropped"].values())),
                ", ".join(sorted({w["kind"] for w in ch["warnings"]})) or "–",
            ]
        )
        classes.append("warned" if ch["warnings"] else None)
    page.table(
        header,
        table_rows,
        text_columns=(1, 11),
        sortable=True,
        row_classes=classes,
        anchor="channel-table",
    )
    page.paragraph("Click a column's header to sort the table by it.", "note")

    # Plots
    page.heading("Plots", 2, "plots")
    if drawn:
        _charge_figure(figures, stats, rows, drawn, folder / "charge.png")
        page.image(
            "charge.png",
            "charge spectrum of each channel",
            "Charge spectrum of each channel (log scale); dotted line at 1 PE, red line at the "
            "single photo-electron peak found.",
        )
        c = stats.counters
        if _histogram_figure(
            figures,
            c["dt"],
            DT_EDGES,
            rows,
            drawn,
            folder / "hit_time.png",
            "hit time relative to the trigger [ns]",
            log=False,
            empty="no hits",
        ):
            page.image(
                "hit_time.png",
                "hit time relative to the trigger",
                "Hit time relative to its trigger's time.",
            )
        analysed = [(s, ch) for s, ch in zip(rows, drawn) if ch["waveforms_analysed"]]
        if analysed and _profile_figure(
            figures,
            stats,
            [s for s, _ in analysed],
            [ch for _, ch in analysed],
            folder / "baseline.png",
            "baseline",
        ):
            page.image(
                "baseline.png",
                "baseline over the run",
                "Mean stored baseline (solid) and quiet level (dashed) of the waveforms over the "
                "run, waveform channels only.",
            )
        if _profile_figure(figures, stats, rows, drawn, folder / "rate.png", "rate"):
            page.image("rate.png", "hit rate over the run", "Hits per second over the run.")
        if _histogram_figure(
            figures,
            c["next"],
            NEXT_EDGES,
            rows,
            drawn,
            folder / "next_pulse.png",
            "time to the next pulse in the same waveform [ns]",
            log=True,
            empty="one pulse a waveform",
        ):
            page.image(
                "next_pulse.png",
                "time to the next pulse in the same waveform",
                "Time from each pulse to the next one in the same waveform (after-pulses).",
            )
        else:
            page.paragraph(
                "No waveform held two pulses: there is no time-to-next-pulse plot.", "note"
            )
    else:
        page.paragraph("There are no hits or triggers to plot.", "note")

    # Calibration
    page.heading("Calibration", 2, "calibration")
    calibration = summary.get("calibration")
    if calibration is None:
        page.paragraph(
            "The channel table (if any) holds no fitted calibration (columns gain, pedestal, "
            "spe_width, occupancy, fit_status, written by orvane calibrate).",
            "note",
        )
    else:
        page.paragraph(f"Fitted calibration from {calibration['table']}.")
        page.table(
            ["channel", "gain", "pedestal", "spe width", "occupancy", "fit status"],
            [
                [
                    c["channel"],
                    _fmt(c["gain"], 4),
                    _fmt(c["pedestal"], 4),
                    _fmt(c["spe_width"], 3),
                    _fmt(c["occupancy"], 3),
                    c["fit_status"],
                ]
                for c in calibration["channels"]
            ],
            sortable=True,
        )
        page.paragraph(
            "The charge spectra above mark the single photo-electron peak each channel shows "
            "with this calibration (red) against 1 PE (dotted).",
            "note",
        )

    # Waveforms
    page.heading("Waveforms", 2, "waveforms")
    if not run["with_waveforms"]:
        page.paragraph("Give the trigger files (--triggers) to see waveforms.", "note")
    elif options.waveforms_first == options.waveforms_random == 0:
        page.paragraph("No waveform drawn (--waveforms 0 0).", "note")
    else:
        page.paragraph(
            f"For each channel the first {options.waveforms_first} waveforms and "
            f"{options.waveforms_random} drawn at random (seed {options.seed}): samples, stored "
            "baseline (grey), the threshold (red dashes, pulse finder only), each hit's time "
            "(orange line, with its charge) and its pulse window (shaded, pulse finder only).",
            "note",
        )
        links = []
        for ch in channels:
            waveforms = stats.sampler.waveforms(ch["channel"])
            if waveforms:
                links.append((f"wf-{ch['channel']}", str(ch["channel"])))
        page.nav(links)
        for ch in channels:
            waveforms = stats.sampler.waveforms(ch["channel"])
            if not waveforms:
                continue
            name = f"waveforms_{ch['channel']}.png"
            _waveform_figure(waveforms, summary, stats.sample_period, folder / name, figures)
            page.heading(f"Channel {ch['channel']}", 3, f"wf-{ch['channel']}")
            page.image(name, f"waveforms of channel {ch['channel']}")
    page.write(folder / "index.html")
