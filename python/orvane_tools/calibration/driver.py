"""Calibration of trigger files: extract, histogram, fit, write the channel table."""

from __future__ import annotations

import contextlib
import datetime
import hashlib
import json
import math
import os
import socket
import tempfile
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from .._atomic import check_writable, same_file
from .._errors import UserError
from .._extension import check_extension_dtypes, load_extension, run_info_object
from ..files.hitfile import sha256_file
from ..files.settings import SettingsSource, load_settings
from ..files.triggerfile import TriggerData, TriggerFileError, TriggerFileReader
from ..progress import ProgressBar
from ..run.chunks import MemorySource, TriggerSource
from .fit import DEFAULT_MIN_ENTRIES, ChannelFit, FitOptions, fit_spectra
from .histograms import Spectra, SpectrumFiller
from .model import MODES
from .table import OldTable, TablePlan, plan_table, read_old_table, write_table

#: Features that can be calibrated, and the trigger kind that carries each.
FEATURES = {
    "waveform_integral": "tarvo",
    "rising_edge_time": "tarvo",
    "adc_sample": "multipmt",
    "time_over_threshold": "multipmt",
}
DEFAULT_FEATURE = "waveform_integral"
DEFAULT_CHUNK = 65536


@dataclass
class CalibrationResult:
    """What a calibration found and wrote."""

    spectra: Spectra
    fits: list[ChannelFit]
    plan: TablePlan
    output: Path | None = None
    report: Path | None = None
    #: Seconds spent extracting and histogramming, and fitting.
    fill_seconds: float = 0.0
    fit_seconds: float = 0.0
    options: dict[str, object] = field(default_factory=dict)

    @property
    def calibrated(self) -> list[ChannelFit]:
        return [fit for fit in self.fits if fit.ok]

    @property
    def failed(self) -> list[tuple[int, str]]:
        """(channel, reason) of every channel without new numbers."""
        return self.plan.failed


def extraction_settings(settings: SettingsSource, directory: Path) -> Path:
    """A settings file in ``directory`` holding the ``extractors`` section of ``settings``
    (a path, or the file read already) with every ``drop_*`` option off (tables named by
    absolute path)."""
    loaded = load_settings(settings)
    try:
        options = loaded.summary()["extractors"]
    except RuntimeError as exc:
        raise UserError(f"cannot read the settings file {loaded.file}") from exc
    if "channels.table" in options:
        options["channels.table"] = os.path.abspath(options["channels.table"])
    sections: dict[str, dict[str, str]] = {}
    top: dict[str, str] = {}
    for key, value in options.items():
        section, _, name = key.partition(".")
        if not name:
            top[section] = value
            continue
        if name.startswith("drop_"):
            value = "false"
        sections.setdefault(section, {})[name] = value
    lines = ["extractors:"]
    lines += [f"  {key}: {json.dumps(value)}" for key, value in top.items()]
    for section, values in sections.items():
        lines.append(f"  {section}:")
        lines += [f"    {key}: {json.dumps(value)}" for key, value in values.items()]
    out = directory / "extraction.yaml"
    out.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return out


def _chunks(source: str | os.PathLike | TriggerData, kind: str, chunk: int) -> Iterator[tuple]:
    """(trigger arrays of one chunk, run information row) of a trigger file or of data held in
    memory: ``(rows, samples, offsets)`` of waveform triggers or ``(rows,)`` of multi-PMT ones.
    Both are read as the run reads them (:mod:`..run.chunks` trigger sources)."""
    with contextlib.ExitStack() as stack:
        reader: TriggerSource = (
            MemorySource(source)
            if isinstance(source, TriggerData)
            else stack.enter_context(TriggerFileReader(source))
        )
        run_info = reader.run_info[0]
        n = reader.n_tarvo if kind == "tarvo" else reader.n_multipmt
        for lo in range(0, n, chunk):
            hi = min(lo + chunk, n)
            if kind == "tarvo":
                yield reader.tarvo_chunk(lo, hi), run_info
            else:
                yield (reader.multipmt_chunk(lo, hi),), run_info


def fill_spectra(
    settings: SettingsSource,
    inputs: Sequence[str | os.PathLike | TriggerData],
    *,
    feature: str = DEFAULT_FEATURE,
    value_range: tuple[float, float] | None = None,
    chunk: int = DEFAULT_CHUNK,
    threads: int = 1,
    on_progress: Callable[[int], None] | None = None,
) -> Spectra:
    """Histogram ``feature`` of every channel of ``inputs`` (trigger files or data held in
    memory), extracted with the ``extractors`` section of ``settings`` (drop options off),
    ``chunk`` triggers at a time."""
    if feature not in FEATURES:
        raise UserError(f"cannot calibrate {feature!r}; choose one of {', '.join(FEATURES)}")
    orvane = load_extension()
    check_extension_dtypes(orvane)
    loaded = load_settings(settings)
    filler = SpectrumFiller(feature, value_range=value_range)
    kind = FEATURES[feature]
    with tempfile.TemporaryDirectory(prefix="orvane-calibrate-") as raw:
        try:
            extractor = orvane.FeatureExtractor(str(extraction_settings(loaded, Path(raw))))
        except (RuntimeError, ValueError) as exc:
            raise UserError(f"the settings file {loaded.file} cannot be used") from exc
    for source in inputs:
        name = "the trigger data" if isinstance(source, TriggerData) else source
        try:
            for arrays, row in _chunks(source, kind, chunk):
                run_info = run_info_object(orvane, row)
                if kind == "tarvo":
                    rows, samples, offsets = arrays
                    records = extractor.extract_tarvo_numpy(
                        rows, samples, offsets=offsets, run_info=run_info, threads=threads
                    )
                else:
                    records = extractor.extract_multipmt_numpy(
                        arrays[0], run_info=run_info, threads=threads
                    )
                filler.fill(records["channel"], records[feature])
                if on_progress is not None:
                    on_progress(len(arrays[0]))
        except (OSError, TriggerFileError) as exc:
            raise UserError(f"cannot read the trigger file {name}") from exc
        except (RuntimeError, ValueError) as exc:
            raise UserError(f"cannot extract the features of {name}") from exc
    return filler.result()


def _triggers(inputs: Sequence[str | os.PathLike], kind: str) -> int:
    total = 0
    for path in inputs:
        try:
            with TriggerFileReader(path) as reader:
                total += reader.n_tarvo if kind == "tarvo" else reader.n_multipmt
        except (OSError, TriggerFileError) as exc:
            raise UserError(f"cannot read the trigger file {path}") from exc
    return total


def provenance_comment(
    settings: SettingsSource,
    inputs: Sequence[str | os.PathLike],
    options: dict[str, object],
    old: OldTable | None,
    command_line: Sequence[str] | None,
    plan: TablePlan,
) -> str:
    """The ``#`` lines at the top of the table: what made it, from what."""
    from .. import __version__

    loaded = load_settings(settings)
    now = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
    lines = [
        (
            f"Channel table calibrated by orvane calibrate (orvane {__version__}), {now}, "
            f"on {socket.gethostname()}."
        ),
        f"settings: {loaded.file} (sha256 {hashlib.sha256(loaded.text).hexdigest()})",
    ]
    lines += [f"input: {path} (sha256 {sha256_file(path)})" for path in inputs]
    if old is not None:
        lines.append(
            f"table: {old.path} (sha256 {sha256_file(old.path)}); its rows and columns kept"
        )
    lines.append("options: " + " ".join(f"{k}={v}" for k, v in options.items() if v is not None))
    if command_line:
        lines.append("command: " + " ".join(command_line))
    prefix = options["columns"]
    lines += [
        (
            f"{prefix}_slope = 1/gain, {prefix}_intercept = -pedestal/gain: {options['feature']} "
            "to photo-electrons."
        ),
        (
            f"{prefix}_slope_uncertainty, {prefix}_covariance: the fit's (calibration); "
            f"{prefix}_intercept_uncertainty: a hit's noise (noise/gain) with the fit's in "
            "quadrature."
        ),
        (
            f"gain, gain_uncertainty, pedestal in units of {options['feature']}; spe_width relative "
            "to the gain; occupancy in PE per trigger."
        ),
        (
            "fit_status: 0 calibrated; 1 too few entries, 2 fit failed, 3 no entries (numbers kept "
            "from the table)."
        ),
        f"calibrated {plan.calibrated} channels; without new numbers {len(plan.failed)}"
        + (": " + ", ".join(str(c) for c, _ in plan.failed[:50]) if plan.failed else ""),
    ]
    return "\n".join(lines)


def _check_output(
    output: Path, inputs: Sequence[str | os.PathLike], settings: str | os.PathLike, overwrite: bool
) -> None:
    try:
        check_writable(output)
    except OSError as exc:
        raise UserError(f"cannot write the channel table {output}") from exc
    for source in [settings, *inputs]:
        if same_file(output, source):
            raise UserError(f"refusing to write {output}: it is the input {source}")
    if os.path.lexists(output) and not overwrite:
        raise UserError(f"{output} exists; pass --overwrite to replace it")
    if os.path.lexists(output):
        try:
            load_extension().ChannelTable(str(output))
        except (RuntimeError, ValueError, OSError) as exc:
            raise UserError(
                f"refusing to overwrite {output}: it is not a channel table (even with "
                "--overwrite, only a channel table is replaced)"
            ) from exc


def calibrate(
    settings: str | os.PathLike,
    inputs: Sequence[str | os.PathLike],
    output: str | os.PathLike | None = None,
    *,
    feature: str = DEFAULT_FEATURE,
    mode: str = "pedestal",
    columns: str = "charge",
    table: str | os.PathLike | None = None,
    pmt_type: int | None = None,
    fit_range: tuple[float, float] | None = None,
    gain: float | None = None,
    min_entries: int = DEFAULT_MIN_ENTRIES,
    jobs: int | None = None,
    threads: int = 1,
    chunk: int = DEFAULT_CHUNK,
    report: str | os.PathLike | None = None,
    overwrite: bool = False,
    command_line: Sequence[str] | None = None,
    progress: bool | None = None,
) -> CalibrationResult:
    """Calibrate every channel of the trigger files ``inputs`` from its own spectrum.

    Extracts ``feature`` with the ``extractors`` section of ``settings`` (drop options off),
    fits each channel's histogram with the photo-electron response (``mode`` ``pedestal`` or
    ``dark``) and writes the channel table ``output`` (when given): ``channel``, ``pmt_type``
    (from ``table``, whose other rows and columns are kept, or ``pmt_type`` for every
    channel), the five ``columns``-prefixed line columns and the fit's columns
    (:mod:`orvane_tools.calibration.table`), with the provenance in ``#`` lines.  ``report``
    names a folder for a page of every channel's spectrum with its fit.

    Raises
    ------
    UserError
        Bad arguments or unreadable files, or no channel calibrated (nothing is written).
    """
    try:
        import iminuit  # noqa: F401
    except ImportError as exc:
        raise UserError("calibration needs iminuit (pip install 'orvane[calibrate]')") from exc
    if mode not in MODES:
        raise UserError(f"unknown mode {mode!r}; choose one of {', '.join(MODES)}")
    if feature not in FEATURES:
        raise UserError(f"cannot calibrate {feature!r}; choose one of {', '.join(FEATURES)}")
    if not columns or "," in columns or columns in ("channel", "pmt_type"):
        raise UserError(f"invalid column prefix {columns!r}")
    if not inputs:
        raise UserError("no trigger file given")
    if table is None and pmt_type is None and output is not None:
        raise UserError(
            "give the PMT type of the channels: --table OLD.csv (their rows) or --pmt-type N"
        )
    if fit_range is not None and not fit_range[0] < fit_range[1]:
        raise UserError(f"the fit range must be LOW < HIGH, got {fit_range[0]} {fit_range[1]}")
    if gain is not None and not (gain > 0 and math.isfinite(gain)):
        raise UserError(f"the starting gain must be positive, got {gain}")
    if output is not None:
        _check_output(Path(output), inputs, settings, overwrite)
    if report is not None:
        try:
            import matplotlib  # noqa: F401
        except ImportError as exc:
            raise UserError("--report needs matplotlib (pip install 'orvane[plot]')") from exc
        from ..plots.spe import check_page

        try:
            check_page(Path(report) / "index.html", overwrite)
        except FileExistsError as exc:
            raise UserError(str(exc)) from None
        if Path(report).exists() and not Path(report).is_dir():
            raise UserError(f"the report folder {report} is a file")
    for path in inputs:
        if not os.path.isfile(path):
            raise UserError(f"the trigger file {path} does not exist")
    if not os.path.isfile(settings):
        raise UserError(f"the settings file {settings} does not exist")
    # Read once: the extraction and the table's provenance come from these bytes.
    loaded = load_settings(settings)
    old = None
    if table is not None:
        try:
            old = read_old_table(table)
        except (OSError, RuntimeError, ValueError) as exc:
            raise UserError(f"cannot read the channel table {table}") from exc
    options: dict[str, object] = {
        "feature": feature,
        "mode": mode,
        "columns": columns,
        "range": "auto" if fit_range is None else f"{fit_range[0]!r},{fit_range[1]!r}",
        "gain": "auto" if gain is None else repr(gain),
        "min_entries": min_entries,
        "pmt_type": pmt_type,
    }
    import time

    show = progress
    total = _triggers(inputs, FEATURES[feature])
    start = time.perf_counter()
    with ProgressBar(total, "histogramming", enabled=show, unit="trigger") as bar:
        spectra = fill_spectra(
            loaded,
            inputs,
            feature=feature,
            value_range=None,
            chunk=chunk,
            threads=threads,
            on_progress=bar.update,
        )
    fill_seconds = time.perf_counter() - start
    fit_options = FitOptions(mode=mode, fit_range=fit_range, gain=gain, min_entries=min_entries)
    start = time.perf_counter()
    with ProgressBar(len(spectra.channels), "fitting", enabled=show, unit="channel") as bar:
        fits = fit_spectra(spectra, fit_options, jobs=jobs, on_progress=bar.update)
    fit_seconds = time.perf_counter() - start
    plan = plan_table(fits, columns, old=old, pmt_type=pmt_type)
    result = CalibrationResult(
        spectra=spectra,
        fits=fits,
        plan=plan,
        fill_seconds=fill_seconds,
        fit_seconds=fit_seconds,
        options=options,
    )
    if output is not None and plan.calibrated:
        comment = provenance_comment(loaded, inputs, options, old, command_line, plan)
        try:
            write_table(output, plan, comment)
        except OSError as exc:
            raise UserError(f"cannot write the channel table {output}") from exc
        result.output = Path(output)
    if report is not None:
        from ..plots.spe import write_report

        result.report = write_report(report, result, overwrite=overwrite)
    if plan.calibrated == 0:
        reasons = "; ".join(f"channel {c}: {r}" for c, r in plan.failed[:5])
        more = f" (and {len(plan.failed) - 5} more)" if len(plan.failed) > 5 else ""
        found = "no channel in the trigger files" if not fits else reasons + more
        raise UserError(f"no channel was calibrated: {found}")
    return result


def format_summary(result: CalibrationResult) -> str:
    """Lines for the terminal: what was calibrated, and every channel that was not, why."""
    good = result.calibrated
    lines = [
        (
            f"calibrated {result.plan.calibrated} of {len(result.fits)} channels "
            f"({result.fill_seconds:.1f} s histogramming, {result.fit_seconds:.1f} s fitting)"
        )
    ]
    if good:
        gains = np.array([fit.gain for fit in good])
        rel = np.array([fit.gain_uncertainty / fit.gain for fit in good])
        chi2 = np.array([fit.reduced_chi2 for fit in good])
        lines.append(
            f"gain {np.min(gains):.4g} to {np.max(gains):.4g} (median {np.median(gains):.4g}), "
            f"uncertainty median {100 * np.median(rel):.2f} %, reduced chi2 median "
            f"{np.median(chi2):.2f} (max {np.max(chi2):.2f})"
        )
    for channel, reason in result.failed:
        lines.append(f"channel {channel}: not calibrated: {reason}")
    if result.output is not None:
        lines.append(f"channel table written to {result.output}")
    if result.report is not None:
        lines.append(f"report written to {result.report}")
    return "\n".join(lines)


__all__ = [
    "DEFAULT_FEATURE",
    "FEATURES",
    "CalibrationResult",
    "calibrate",
    "extraction_settings",
    "fill_spectra",
    "format_summary",
]
