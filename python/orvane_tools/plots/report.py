"""The run report: a static web page of per-channel diagnostics, with warnings first.

:func:`write_report` (also ``orvane_tools.report`` and ``orvane report``) reads hit files (and
optionally the trigger files they were made from) a chunk at a time, and writes into a folder
``index.html``, its PNG images and ``summary.json`` (the same numbers, machine-readable).  The
page needs no server and no network.  docs/report.md describes every section, warning and
threshold.
"""

from __future__ import annotations

import json
import math
import os
import time
from collections.abc import Callable, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from .._atomic import atomic_output
from .._errors import UserError
from ..files.provenance import add_drops, drops_from_provenance
from ..files.triggerfile import TriggerFileError, TriggerFileReader
from ..run.chunks import ChannelCounts, channel_counts
from .report_inputs import (
    HitStream,
    find_hit_files,
    hit_channels,
    hit_chunks,
    hit_file_provenance,
    read_channel_table,
    settings_summary,
    sha256_of,
)
from .report_stats import (
    CHARGE_EDGES,
    MAX_RECORDS_PER_TRIGGER,
    RunStats,
    Sampler,
)

SUMMARY_FORMAT = "orvane-report/1"
#: Warning kinds, in the order the page lists them.
WARNING_KINDS = (
    "no-hits",
    "polarity",
    "baseline",
    "saturation",
    "truncated",
    "dropped",
    "calibration",
)
#: Calibration columns a channel table made by ``orvane calibrate`` holds.
CALIBRATION_COLUMNS = ("gain", "pedestal", "spe_width", "occupancy", "fit_status")
#: Causes of dropped records that point to a fault of the setup: a channel without a row in the
#: channel table.  ``drop_bad_edge`` and ``drop_bad_integral`` also (rightly) drop triggers of
#: noise alone, and the waveforms with more than 16 pulses have a warning of their own
#: (``truncated``), so those counts are shown but do not make ``dropped``.
FAULT_CAUSES = ("unknown_channel",)

ADVICE = {
    "no-hits": "check that the channel is connected and powered, that its triggers are not all "
    "dropped (see 'dropped'), and that the settings' thresholds and polarity suit it",
    "polarity": "the pulses go the other way from what the samples around the quiet level "
    "suggest: check the polarity option of the import (--negative-pulses) or the cabling",
    "baseline": "the stored baseline misses the waveform's quiet level: take the baseline from "
    "more samples or from a quiet part of the record (orvane import --baseline-samples), or "
    "look for a drifting or ringing baseline in the waveform plots",
    "saturation": "samples reach the digitizer's range or have a flat top: lower the gain or "
    "the high voltage, or leave these waveforms out of the calibration",
    "truncated": "waveforms held more pulses than a trigger can record (16): raise the pulse "
    "finder's threshold or hysteresis, or shorten the record",
    "dropped": "many triggers or records were dropped: see the causes in the run summary; "
    "check drop_bad_edge / drop_bad_integral and the channel table",
    "calibration": "the charge calibration does not fit these channels: add them to the "
    "channel table, or calibrate the detector (orvane calibrate) and use the new table",
}


@dataclass
class ReportOptions:
    """Thresholds of the warnings and what the report draws (see docs/report.md)."""

    #: A sample this many noise widths above or below the quiet level counts for ``polarity``.
    polarity_sigma: float = 5.0
    #: Samples beyond ``polarity_sigma`` needed (above or below) before polarity is judged.
    polarity_min_samples: int = 50
    #: ... and the samples below must outnumber those above by this factor.
    polarity_ratio: float = 2.0
    #: Stored baseline farther than this many noise widths from the quiet level: off.
    baseline_sigma: float = 3.0
    #: Fraction of a channel's waveforms with an off baseline that gives a warning.
    baseline_fraction: float = 0.10
    #: Fraction of a channel's waveforms touching the range or with a flat top.
    saturation_fraction: float = 0.01
    #: Fraction of a channel's triggers that held the most records a trigger can have.
    truncated_fraction: float = 0.0
    #: Fraction of a channel's triggers or records dropped.
    dropped_fraction: float = 0.10
    #: Allowed distance of the single photo-electron peak from 1 PE.
    spe_tolerance: float = 0.2
    #: Hits above 0.3 PE a channel needs before its peak is judged.
    spe_min_hits: int = 1000
    #: The digitizer's largest sample (None: only 0 and 65535 count as the range's limits).
    adc_max: int | None = None
    #: Waveforms drawn per channel: the first ones, and a seeded random sample.
    waveforms_first: int = 2
    waveforms_random: int = 2
    seed: int = 1
    #: Fraction of the waveforms whose samples are analysed (quiet level, noise, polarity,
    #: saturation), a seeded random choice; runs of up to ``analyse_all_below`` waveforms are
    #: analysed whole.
    waveform_fraction: float = 0.25
    analyse_all_below: int = 200_000
    #: Triggers read at a time.
    chunk_size: int = 32768

    def thresholds(self) -> dict[str, Any]:
        return {k: v for k, v in asdict(self).items() if k != "chunk_size"}


@dataclass
class ChannelWarning:
    """One warning about one channel (or the run, ``channel`` None)."""

    kind: str
    channel: int | None
    message: str


@dataclass
class Report:
    """What :func:`write_report` wrote and found."""

    folder: Path
    summary: dict[str, Any]
    seconds_pass: float = 0.0
    seconds_draw: float = 0.0
    warnings: list[dict[str, Any]] = field(default_factory=list)

    @property
    def index(self) -> Path:
        return self.folder / "index.html"


# Inputs ---------------------------------------------------------------------------------------


def _match_triggers(
    hit_files: Sequence[Path], provenances: Sequence[dict | None], triggers: Sequence[Path]
) -> tuple[list[Path | None], list[tuple[Path, Path, str]]]:
    """The trigger file each hit file was made from (by the path its provenance records, else
    by file name), and the checks to make: ``(trigger file, hit file, recorded SHA-256)``."""
    remaining = list(triggers)
    matched: list[Path | None] = []
    checks: list[tuple[Path, Path, str]] = []
    for path, provenance in zip(hit_files, provenances):
        recorded = ((provenance or {}).get("inputs") or [{}])[0]
        found = None
        for candidate in remaining:
            same_path = recorded.get("path") and (
                Path(recorded["path"]).resolve() == candidate.resolve()
            )
            if same_path or (
                recorded.get("path") and Path(recorded["path"]).name == candidate.name
            ):
                found = candidate
                break
        if found is None and len(hit_files) == 1 and len(remaining) == 1:
            found = remaining[0]
        if found is not None:
            remaining.remove(found)
            if recorded.get("sha256"):
                checks.append((found, path, recorded["sha256"]))
        matched.append(found)
    if remaining:
        raise UserError(
            "no hit file was made from "
            + ", ".join(str(p) for p in remaining)
            + " (the hit files' provenance names other trigger files)"
        )
    return matched, checks


def _check_hashes(checks: list[tuple[Path, Path, str]], digests: list[Any]) -> None:
    for (trigger, hit, expected), digest in zip(checks, digests):
        if digest.result() != expected:
            raise UserError(
                f"the trigger file {trigger} is not the one {hit} was made from (its SHA-256 "
                "differs from the one the hit file's provenance records)"
            )


def _gather(
    hit_files: Sequence[Path],
    trigger_files: Sequence[Path | None],
    stats: RunStats,
    chunk_size: int,
    progress: Callable[[int], None],
) -> None:
    for hit_path, trigger_path in zip(hit_files, trigger_files):
        stats.hit_files += 1
        if trigger_path is None:
            for hits in hit_chunks(hit_path):
                stats.add_hits(hits, whole_triggers=False)
                progress(len(hits))
            stats.flush_hits()
            continue
        stream = HitStream(hit_path)
        try:
            with TriggerFileReader(trigger_path) as reader:
                run_info = reader.run_info
                period = getattr(reader, "sample_period_ns", None)
                if isinstance(period, (int, float)):
                    stats.sample_period = float(period) * 1e-9
                if stats.adc_max is None and "adc_bits" in getattr(reader, "members", {}):
                    # The recording's range: its largest sample is a limit too.
                    stats.adc_max = (1 << int(reader.whole("adc_bits"))) - 1
                n = reader.n_tarvo
                for lo in range(0, n, chunk_size):
                    hi = min(lo + chunk_size, n)
                    rows, samples, offsets = reader.tarvo_chunk(lo, hi)
                    stats.add_tarvo(rows, samples, offsets, lo, stream.until(hi), run_info)
                    progress(hi - lo)
                m = reader.n_multipmt
                for lo in range(0, m, chunk_size):
                    hi = min(lo + chunk_size, m)
                    rows = reader.multipmt_chunk(lo, hi)
                    stats.add_multipmt(rows, n + lo, stream.until(n + hi))
                    progress(hi - lo)
        except TriggerFileError:
            raise
        except OSError as exc:
            raise UserError(f"cannot read the trigger file {trigger_path}") from exc
        left = stream.rest()
        if len(left):
            raise UserError(
                f"{hit_path} holds hits of triggers beyond those of {trigger_path}: it was not "
                "made from that trigger file"
            )


# Numbers per channel ---------------------------------------------------------------------------


def _histogram_quantile(counts: np.ndarray, edges: np.ndarray, q: float) -> float:
    total = counts.sum()
    if total <= 0:
        return math.nan
    cumulative = np.cumsum(counts)
    i = int(np.searchsorted(cumulative, q * total))
    i = min(i, len(counts) - 1)
    before = cumulative[i] - counts[i]
    inside = (q * total - before) / counts[i] if counts[i] else 0.5
    return float(edges[i] + inside * (edges[i + 1] - edges[i]))


def spe_peak(counts: np.ndarray, edges: np.ndarray = CHARGE_EDGES) -> tuple[float, int]:
    """The single photo-electron peak of a charge spectrum, and the hits above 0.3 PE.

    The spectrum above 0.3 PE is summed into 0.1 PE bins and smoothed over five; its first
    local maximum holding at least half the highest point is the start of a mean shift: the
    mean of the charges within 0.35 PE of the estimate, repeated until it settles.
    """
    linear = int(np.searchsorted(edges, 20.0))
    start = int(np.searchsorted(edges, 0.3 - 1e-9))
    part = counts[start:linear]
    used = int(part.sum() + counts[linear:].sum())
    group = 5
    coarse = part[: len(part) // group * group].reshape(-1, group).sum(axis=1).astype(float)
    if coarse.sum() <= 0:
        # Everything lies beyond the linear bins: report where the bulk of the charge is.
        peak = _histogram_quantile(counts[linear:], edges[linear:], 0.5) if used else math.nan
        return peak, used
    smooth = np.convolve(coarse, np.ones(5) / 5, mode="same")
    top = smooth.max()
    padded = np.r_[-1.0, smooth, -1.0]
    local = (smooth >= padded[:-2]) & (smooth >= padded[2:]) & (smooth >= 0.5 * top)
    i = int(np.flatnonzero(local)[0])
    x = float(edges[start + i * group] + 0.05)
    mids = (edges[:linear] + edges[1 : linear + 1]) / 2
    fine = counts[:linear].astype(float)
    for _ in range(50):
        near = np.abs(mids - x) < 0.35
        weight = fine[near].sum()
        if weight <= 0:
            break
        moved = float((fine[near] * mids[near]).sum() / weight)
        if abs(moved - x) < 1e-4:
            x = moved
            break
        x = moved
    return x, used


def _drops_by_channel(provenances: Sequence[dict | None]) -> dict[int, dict[str, int]] | None:
    """Dropped triggers or records per channel and cause, summed over the hit files, from the
    provenance's ``drops`` (None when no file records them)."""
    total: dict[int, dict[str, int]] = {}
    recorded = False
    for provenance in provenances:
        drops = drops_from_provenance((provenance or {}).get("drops"))
        if drops is not None:
            recorded = True
            add_drops(total, drops)
    return total if recorded else None


def _fault_drops(causes: dict[str, int] | None) -> int:
    """The drops among ``causes`` that point to a fault (:data:`FAULT_CAUSES`)."""
    return sum((causes or {}).get(cause, 0) for cause in FAULT_CAUSES)


def _table_of(provenances: Sequence[dict | None]) -> tuple[Path | None, dict | None, str]:
    """The channel table the settings name, its columns (None when unreadable) and a note."""
    for provenance in provenances:
        for table in (provenance or {}).get("tables") or []:
            if table.get("key") == "extractors.channels.table" or str(
                table.get("key", "")
            ).endswith(".table"):
                path = Path(table["path"])
                if not path.exists():
                    return path, None, f"the channel table {path} is not there any more"
                note = ""
                if table.get("sha256") and sha256_of(path) != table["sha256"]:
                    note = f"{path} has changed since the run (its SHA-256 differs)"
                try:
                    return path, read_channel_table(path), note
                except (OSError, ValueError) as exc:
                    return path, None, f"the channel table {path} cannot be read: {exc}"
    return None, None, ""


def _extractor(summary: dict | None) -> dict[str, str]:
    return dict((summary or {}).get("extractors") or {})


def _float(value: float) -> float | None:
    return None if value is None or not math.isfinite(value) else float(value)


def _channel_numbers(stats: RunStats, options: ReportOptions, s: int) -> dict[str, Any]:
    c = stats.counters
    triggers = int(c["triggers"][s]) if stats.with_triggers else None
    hits = int(c["hits"][s])
    analysed = int(c["analysed"][s])
    charge = c["charge"][s]
    median = _histogram_quantile(charge, CHARGE_EDGES, 0.5)
    peak, peak_hits = spe_peak(charge)
    duration = _duration(stats)
    kind = "unknown"
    if stats.with_triggers:
        if c["tarvo_triggers"][s]:
            kind = "waveform"
        elif c["multipmt_triggers"][s]:
            kind = "multi-PMT"
    numbers: dict[str, Any] = {
        "channel": stats.channels.numbers[s],
        "kind": kind,
        "triggers": triggers,
        "hits": hits,
        "pulses_per_trigger": _float(hits / triggers) if triggers else None,
        "hit_rate_hz": _float(hits / duration) if duration else None,
        "trigger_rate_hz": _float(triggers / duration) if duration and triggers else None,
        "triggers_without_hit": int(c["without_hit"][s]) if stats.with_triggers else None,
        # Estimated for all the channel's waveforms from those analysed.
        "pulses_without_hit": (
            round(c["pulse_without_hit"][s] * c["tarvo_triggers"][s] / analysed)
            if analysed
            else None
        ),
        "triggers_at_record_limit": int(c["full_triggers"][s]),
        "median_charge": _float(median),
        "spe_peak": _float(peak),
        "charge_below_range": int(c["charge_under"][s]),
        "charge_above_range": int(c["charge_over"][s]),
        "waveforms_analysed": analysed,
    }
    if analysed:
        mean_baseline = c["baseline_sum"][s] / analysed
        numbers.update(
            baseline_mean=_float(mean_baseline),
            quiet_level_mean=_float(c["quiet_sum"][s] / analysed),
            noise_rms=_float(math.sqrt(c["noise_sq"][s] / analysed)),
            baseline_off=int(c["baseline_off"][s]),
            samples_above=int(c["above"][s]),
            samples_below=int(c["below"][s]),
            saturated_waveforms=int(c["saturated"][s]),
            flat_top_waveforms=int(c["flat_top"][s]),
        )
    numbers["_peak_hits"] = peak_hits
    return numbers


def _duration(stats: RunStats) -> float | None:
    profile = stats.trigger_profile if stats.with_triggers else stats.hit_profile
    if profile.t0 is None or profile.t_max is None:
        return None
    span = profile.t_max - profile.t0
    return span if span > 0 else None


def _percent(part: float, whole: float) -> str:
    return f"{100.0 * part / whole:.1f} %"


def find_warnings(
    channels: list[dict[str, Any]],
    options: ReportOptions,
    *,
    table: dict | None,
    table_named: bool,
    single_record_extractor: bool,
) -> list[ChannelWarning]:
    """The warnings the numbers of each channel give (see docs/report.md for each kind)."""
    found: list[ChannelWarning] = []
    known = set(table["channel"].tolist()) if table is not None and "channel" in table else None
    for ch in channels:
        number = ch["channel"]

        def warn(kind: str, message: str, number: int = number) -> None:
            found.append(ChannelWarning(kind, number, message))

        triggers = ch["triggers"]
        if triggers and ch["hits"] == 0:
            warn("no-hits", f"channel {number}: {triggers} triggers and no hit")
        above, below = ch.get("samples_above", 0), ch.get("samples_below", 0)
        if (
            max(above, below) >= options.polarity_min_samples
            and below > options.polarity_ratio * above
        ):
            warn(
                "polarity",
                f"channel {number}: {below} samples lie more than {options.polarity_sigma:g} "
                f"noise widths below the quiet level and {above} above: its pulses go down",
            )
        analysed = ch["waveforms_analysed"]
        if analysed:
            off = ch["baseline_off"]
            if off > options.baseline_fraction * analysed:
                warn(
                    "baseline",
                    f"channel {number}: the stored baseline differs from the quiet level by "
                    f"more than {options.baseline_sigma:g} noise widths in {off} of {analysed} "
                    f"waveforms ({_percent(off, analysed)}; mean stored baseline "
                    f"{ch['baseline_mean']:.1f}, mean quiet level {ch['quiet_level_mean']:.1f} "
                    "LSB)",
                )
            clipped = ch.get("_clipped", 0)
            if clipped > options.saturation_fraction * analysed:
                warn(
                    "saturation",
                    f"channel {number}: {clipped} of {analysed} waveforms "
                    f"({_percent(clipped, analysed)}) touch the range limits "
                    f"({ch['saturated_waveforms']}) or have a flat top "
                    f"({ch['flat_top_waveforms']})",
                )
        full = ch["triggers_at_record_limit"]
        base = triggers or ch.get("_hit_triggers") or 0
        if full and full > options.truncated_fraction * base:
            warn(
                "truncated",
                f"channel {number}: {full} triggers made {MAX_RECORDS_PER_TRIGGER} hits, the most "
                "a trigger can record: their waveforms probably held more pulses",
            )
        # The recorded drops that point to a fault; with the single-record extractor also the
        # waveform triggers that hold a pulse and made no hit (a trigger of noise alone is
        # rightly dropped for its edge or integral and makes none); multi-PMT triggers always
        # hold one.
        causes = ch.get("dropped")
        dropped = _fault_drops(causes)
        if single_record_extractor and triggers:
            estimate = (ch.get("pulses_without_hit") or 0) + (
                ch["triggers_without_hit"] if ch["kind"] == "multi-PMT" else 0
            )
            dropped = max(dropped, estimate)
        if triggers and dropped and dropped > options.dropped_fraction * triggers:
            recorded = ", ".join(f"{k}: {v}" for k, v in sorted((causes or {}).items()) if v)
            if dropped == _fault_drops(causes):
                detail = recorded
            else:
                detail = "triggers holding a pulse that made no hit; " + (
                    f"recorded drops {recorded}" if recorded else "causes not recorded"
                )
            warn(
                "dropped",
                f"channel {number}: {dropped} of {triggers} triggers dropped "
                f"({_percent(dropped, triggers)}; {detail})",
            )
        if table_named:
            if known is not None and number not in known:
                warn("calibration", f"channel {number} is missing from the channel table")
            peak = ch["spe_peak"]
            if (
                ch["_peak_hits"] >= options.spe_min_hits
                and peak is not None
                and abs(peak - 1.0) > options.spe_tolerance
            ):
                warn(
                    "calibration",
                    f"channel {number}: the single photo-electron peak lies at {peak:.3g} PE, "
                    f"outside 1 +- {options.spe_tolerance:g} PE",
                )
    return found


def _group(warnings: list[ChannelWarning]) -> list[dict[str, Any]]:
    grouped = []
    for kind in WARNING_KINDS:
        these = [w for w in warnings if w.kind == kind]
        if not these:
            continue
        channels = sorted({w.channel for w in these if w.channel is not None})
        grouped.append(
            {
                "kind": kind,
                "channels": channels,
                "message": f"{kind}: {len(channels)} channel"
                + ("s" if len(channels) != 1 else "")
                + f" ({', '.join(map(str, channels))})",
                "details": [w.message for w in these],
                "advice": ADVICE[kind],
            }
        )
    return grouped


# The whole report ------------------------------------------------------------------------------


def gather(
    hits: Sequence[str | os.PathLike],
    triggers: Sequence[str | os.PathLike] = (),
    options: ReportOptions | None = None,
    progress: Callable[[int, str], Callable[[int], None]] | None = None,
) -> tuple[RunStats, dict[str, Any]]:
    """One pass over the inputs: the statistics and the summary (without drawing anything)."""
    options = options or ReportOptions()
    hit_files = find_hit_files(hits)
    provenances = [hit_file_provenance(p) for p in hit_files]
    trigger_paths = [Path(t) for t in triggers]
    for path in trigger_paths:
        if not path.is_file():
            raise UserError(f"the trigger file {path} does not exist")
    matched, checks = _match_triggers(hit_files, provenances, trigger_paths)
    stats = RunStats(
        sigma=options.polarity_sigma,
        baseline_sigma=options.baseline_sigma,
        adc_max=options.adc_max,
        sampler=Sampler(options.waveforms_first, options.waveforms_random, options.seed),
    )
    if any(m is not None for m in matched):
        total = 0
        for trigger_path in matched:
            if trigger_path is not None:
                with TriggerFileReader(trigger_path) as reader:
                    total += reader.n_tarvo + reader.n_multipmt
        unit = "triggers"
    else:
        total = sum(int((p or {}).get("hits") or 0) for p in provenances)
        unit = "hits"
    step = (progress or (lambda total, unit: lambda n: None))(total, unit)
    if any(m is None for m in matched) and any(m is not None for m in matched):
        raise UserError(
            "trigger files were given for some hit files only: give the trigger file of every "
            "hit file, or none"
        )
    n_tarvo = 0
    for trigger_path in matched:
        if trigger_path is not None:
            with TriggerFileReader(trigger_path) as reader:
                n_tarvo += reader.n_tarvo
    if n_tarvo > options.analyse_all_below:
        stats.analyse_fraction = max(options.waveform_fraction, options.analyse_all_below / n_tarvo)
    # The hashes are computed beside the pass (hashlib releases the interpreter lock) and
    # checked before any number is shown.
    with ThreadPoolExecutor(max_workers=1) as pool:
        digests = [pool.submit(sha256_of, trigger) for trigger, _, _ in checks]
        try:
            _gather(hit_files, matched, stats, options.chunk_size, step)
        except (UserError, TriggerFileError, ValueError, IndexError):
            _check_hashes(checks, digests)  # the more telling reason, when it is the cause
            raise
        except BaseException:
            for digest in digests:
                digest.cancel()
            raise
        _check_hashes(checks, digests)
    summary = summarise(stats, options, hit_files, matched, provenances)
    return stats, summary


def summarise(
    stats: RunStats,
    options: ReportOptions,
    hit_files: Sequence[Path],
    trigger_files: Sequence[Path | None],
    provenances: Sequence[dict | None],
) -> dict[str, Any]:
    """The content of ``summary.json``."""
    settings = settings_summary(next((p for p in provenances if p), {}) or {})
    extractor = _extractor(settings)
    waveform_extractor = extractor.get("waveform", "Tarvo")
    table_path, table, table_note = _table_of(provenances)
    drops = _drops_by_channel(provenances)
    channels = []
    order = np.argsort(stats.channels.numbers, kind="stable")
    for s in order.tolist():
        ch = _channel_numbers(stats, options, s)
        ch["_clipped"] = int(stats.counters["clipped"][s])
        ch["_hit_triggers"] = int(stats.counters["hit_triggers"][s])
        if drops is not None:
            causes = drops.get(ch["channel"], {})
            ch["dropped"] = causes
            ch["dropped_total"] = int(sum(causes.values()))
        else:
            ch["dropped"] = None
        channels.append(ch)
    if drops is not None:  # channels that only appear among the drops
        seen = {ch["channel"] for ch in channels}
        for number in sorted(set(drops) - seen):
            causes = drops[number]
            channels.append(
                {
                    "channel": number,
                    "kind": "unknown",
                    "triggers": int(sum(causes.values())),
                    "hits": 0,
                    "dropped": causes,
                    "dropped_total": int(sum(causes.values())),
                    "waveforms_analysed": 0,
                    "triggers_at_record_limit": 0,
                    "triggers_without_hit": int(sum(causes.values())),
                    "spe_peak": None,
                    "median_charge": None,
                    "_peak_hits": 0,
                }
            )
    warnings = find_warnings(
        channels,
        options,
        table=table,
        table_named=table_path is not None,
        single_record_extractor=waveform_extractor == "Tarvo",
    )
    by_channel: dict[int, list[dict[str, str]]] = {}
    for w in warnings:
        if w.channel is not None:
            by_channel.setdefault(w.channel, []).append({"kind": w.kind, "message": w.message})
    for ch in channels:
        ch["warnings"] = by_channel.get(ch["channel"], [])
        for key in [k for k in ch if k.startswith("_")]:
            del ch[key]
    calibration: dict[str, Any] | None = None
    if table is not None and all(c in table for c in CALIBRATION_COLUMNS):
        calibration = {
            "table": str(table_path),
            "channels": [
                {
                    name: (
                        table[name][i].item()
                        if hasattr(table[name][i], "item")
                        else str(table[name][i])
                    )
                    for name in ("channel", *CALIBRATION_COLUMNS)
                }
                for i in range(len(table["channel"]))
            ],
        }
        for row in calibration["channels"]:  # a code, read as a number like every column
            status = row["fit_status"]
            if isinstance(status, float) and status.is_integer():
                row["fit_status"] = int(status)
    first = next((p for p in provenances if p), None) or {}
    runs = sorted(
        {int((p or {}).get("run_info", {}).get("run_number", -1)) for p in provenances} - {-1}
    )
    counts = {
        "hit_files": len(hit_files),
        "trigger_files": sum(1 for t in trigger_files if t is not None),
        "triggers": {
            "tarvo": sum(
                int(((p or {}).get("triggers") or {}).get("tarvo", 0)) for p in provenances
            ),
            "multipmt": sum(
                int(((p or {}).get("triggers") or {}).get("multipmt", 0)) for p in provenances
            ),
        },
        "hits": stats.total_hits,
        "dropped": (
            None
            if drops is None
            else {
                cause: sum(d.get(cause, 0) for d in drops.values())
                for cause in sorted({c for d in drops.values() for c in d})
            }
        ),
        "triggers_at_record_limit": int(stats.counters["full_triggers"].sum()),
    }
    duration = _duration(stats)
    return {
        "format": SUMMARY_FORMAT,
        "run": {
            "run_numbers": runs,
            "orvane_version": first.get("orvane_version"),
            "settings": {
                k: (first.get("settings") or {}).get(k) for k in ("path", "sha256", "text")
            },
            "waveform_extractor": waveform_extractor,
            "extractor_options": extractor,
            "tables": first.get("tables") or [],
            "channel_table": None if table_path is None else str(table_path),
            "channel_table_note": table_note,
            "inputs": [
                {
                    "hit_file": str(h),
                    "trigger_file": None if t is None else str(t),
                    "recorded_inputs": (p or {}).get("inputs") or [],
                    "provenance": p is not None,
                }
                for h, t, p in zip(hit_files, trigger_files, provenances)
            ],
            "counts": counts,
            "duration_s": _float(duration) if duration else None,
            "trigger_rate_hz": (
                _float(stats.total_triggers / duration)
                if duration and stats.with_triggers
                else None
            ),
            "hit_rate_hz": _float(stats.total_hits / duration) if duration else None,
            "with_waveforms": stats.with_triggers,
        },
        "thresholds": options.thresholds(),
        "warnings": _group(warnings),
        "channels": channels,
        "calibration": calibration,
    }


def write_report(
    hits: Sequence[str | os.PathLike] | str | os.PathLike,
    output: str | os.PathLike,
    *,
    triggers: Sequence[str | os.PathLike] | str | os.PathLike = (),
    options: ReportOptions | None = None,
    progress: Callable[[int, str], Callable[[int], None]] | None = None,
) -> Report:
    """Write the report of a run into the folder ``output`` (created when missing).

    Parameters
    ----------
    hits:
        Hit files (``.parquet``, ``.npy``, ``.csv``), or folders of them: the run.
    output:
        The folder that receives ``index.html``, its images and ``summary.json``.
    triggers:
        The trigger files the hits were made from (optional): they add what only the waveforms
        show (quiet level, noise, polarity, saturation, the waveforms themselves).
    options:
        Thresholds and drawing choices (:class:`ReportOptions`).
    progress:
        Called once with the total and its unit (``"triggers"`` or ``"hits"``); returns the
        function called with each chunk's count.

    Returns
    -------
    Report
        The folder, the summary (as in ``summary.json``), the warnings and the times spent.

    Raises
    ------
    UserError
        An input cannot be read, the trigger files do not belong to the hit files, or the
        folder cannot be written; the message names the file.
    """
    from .report_page import draw_and_write

    if isinstance(hits, (str, os.PathLike)):
        hits = [hits]
    if isinstance(triggers, (str, os.PathLike)):
        triggers = [triggers]
    options = options or ReportOptions()
    folder = Path(output)
    if folder.exists() and not folder.is_dir():
        raise UserError(f"cannot write the report into {folder}: it is a file")
    start = time.perf_counter()
    stats, summary = gather(hits, triggers, options, progress)
    middle = time.perf_counter()
    try:
        folder.mkdir(parents=True, exist_ok=True)
        draw_and_write(folder, stats, summary, options)
        with atomic_output(folder / "summary.json") as tmp:
            tmp.write_text(json.dumps(summary, indent=1, sort_keys=True) + "\n", encoding="utf-8")
    except OSError as exc:
        raise UserError(f"cannot write the report into {folder}") from exc
    end = time.perf_counter()
    return Report(folder, summary, middle - start, end - middle, summary["warnings"])


def reconstruction_warnings(
    pairs: Sequence[tuple[Path, Path]],
    options: ReportOptions | None = None,
    counted: Sequence[ChannelCounts | None] | None = None,
) -> list[str]:
    """The warnings a reconstruction can give without the waveforms, for its trigger files and
    the hit files made from them (``(trigger file, hit file)`` pairs): channels with triggers and
    no hit, and channels with more than ``dropped_fraction`` of their triggers dropped when the
    provenance records the drops.  Reads the trigger rows' and the hits' channel numbers only,
    of the pairs whose counts the run did not keep (``counted``, one entry per pair or None).
    """
    options = options or ReportOptions()
    triggers: dict[int, int] = {}
    hits: set[int] = set()
    provenances = []
    for i, (trigger_path, hit_path) in enumerate(pairs):
        provenances.append(hit_file_provenance(hit_path))
        known = counted[i] if counted is not None else None
        if known is not None:
            for number, count in known.triggers.items():
                triggers[number] = triggers.get(number, 0) + count
            hits |= known.hits
            continue
        with TriggerFileReader(trigger_path) as reader:
            for key, n in (
                ("tarvo_triggers", reader.n_tarvo),
                ("multipmt_triggers", reader.n_multipmt),
            ):
                for lo in range(0, n, 1 << 20):
                    channels = reader.rows(key, lo, min(lo + (1 << 20), n))["channel"]
                    for number, count in channel_counts(channels).items():
                        triggers[number] = triggers.get(number, 0) + count
        for channels in hit_channels(hit_path):
            hits.update(channel_counts(channels))
    messages = []
    silent = sorted(set(triggers) - hits)
    if silent:
        messages.append(
            f"no-hits: {len(silent)} channel{'s' if len(silent) != 1 else ''} with triggers and "
            f"no hit: {', '.join(map(str, silent))}"
        )
    drops = _drops_by_channel(provenances) or {}
    heavy = [
        f"{number} ({_fault_drops(causes)} of {triggers[number]})"
        for number, causes in sorted(drops.items())
        if triggers.get(number)
        and _fault_drops(causes) > options.dropped_fraction * triggers[number]
    ]
    if heavy:
        messages.append(
            f"dropped: more than {100 * options.dropped_fraction:g} % of the triggers dropped on "
            f"channel{'s' if len(heavy) != 1 else ''} {', '.join(heavy)}"
        )
    return messages


#: Files of a report, which ``overwrite`` replaces.
REPORT_FILES = ("index.html", "summary.json", "*.png")


def _holds_report(folder: Path) -> bool:
    """Whether ``folder``'s ``summary.json`` or ``index.html`` is a run report's: its
    summary's format, or (a report stopped before its summary) the page's title."""
    try:
        summary = json.loads((folder / "summary.json").read_text(encoding="utf-8"))
        if isinstance(summary, dict) and summary.get("format") == SUMMARY_FORMAT:
            return True
    except (OSError, UnicodeDecodeError, ValueError):
        pass
    try:
        with open(folder / "index.html", encoding="utf-8", errors="replace") as stream:
            return "<title>orvane run report" in stream.read(4096)
    except OSError:
        return False


def refuse_foreign_folder(folder: Path) -> bool:
    """Refuse ``folder`` for a report when it is a file, or holds an ``index.html`` or
    ``summary.json`` that is not a report's; return whether it holds a report."""
    if folder.exists() and not folder.is_dir():
        raise UserError(f"cannot write the report into {folder}: it is a file")
    if not (folder / "index.html").exists() and not (folder / "summary.json").exists():
        return False
    if not _holds_report(folder):
        raise UserError(
            f"{folder} holds an index.html or summary.json that is not a run report's; "
            "write the report into another folder"
        )
    return True


def prepare_folder(folder: Path, overwrite: bool) -> None:
    """Refuse to write over a report in ``folder`` unless ``overwrite``; with it, remove the
    report's files (nothing else in the folder).  An ``index.html`` or ``summary.json`` that
    is not a report's is never replaced."""
    if not refuse_foreign_folder(folder):
        return
    if not overwrite:
        raise UserError(f"{folder} holds a report already; pass --overwrite to replace it")
    for pattern in REPORT_FILES:
        for path in folder.glob(pattern):
            path.unlink()


def format_warnings(warnings: list[dict[str, Any]]) -> str:
    """Warnings as lines of text, for a terminal."""
    lines = []
    for w in warnings:
        lines.append(f"warning: {w['message']}")
        lines += [f"  {d}" for d in w["details"]]
        lines.append(f"  what to do: {w['advice']}")
    return "\n".join(lines)


__all__ = [
    "ADVICE",
    "CALIBRATION_COLUMNS",
    "WARNING_KINDS",
    "Report",
    "ReportOptions",
    "find_warnings",
    "format_warnings",
    "gather",
    "prepare_folder",
    "reconstruction_warnings",
    "refuse_foreign_folder",
    "spe_peak",
    "write_report",
]
