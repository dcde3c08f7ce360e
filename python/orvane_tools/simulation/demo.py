"""The demo: simulate a run, reconstruct it with the example settings, compare with the truth.

The run is simulated on the example detector (:func:`orvane_tools.channels.example_detector`),
whose waveform channels' gains spread by +-30 %; the example settings calibrate each channel
with its line from the example channel table.  With the example settings the waveform triggers
are also reconstructed once more with a table that gives every channel the nominal line, to
show what the per-channel calibration gains, and once with the table that ``orvane calibrate``
fits to the run's own spectra (no truth), to show that the data alone give the same charge.
"""

from __future__ import annotations

import dataclasses
import math
import os
import shutil
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, TextIO

import numpy as np

from .._atomic import check_writable
from .._dtypes import trigger_positions
from .._errors import UserError
from .._resources import example_settings
from ..files.channels import example_detector, write_simulated_channel_table
from ..files.settings import SettingsSource, require_valid_settings
from ..files.triggerfile import TriggerData
from ..plots.demo import plot_charge_spectrum
from ..progress import ProgressBar
from ..run.reconstruct import (
    ReconstructionResult,
    load_reconstruction,
    reconstruct_triggers,
    reconstruction_from,
)
from .simulate import SimulationConfig, simulate

DEFAULT_TRIGGERS = 200_000
DEFAULT_PLOT = "orvane-demo.png"
DEFAULT_REPORT = "orvane-demo-report"
KINDS = ("waveform", "multi-PMT")


@dataclass
class KindSummary:
    """How well one trigger kind was reconstructed, against the simulator's truth."""

    triggers: int
    hits: int
    seconds: float
    mean_charge: float
    mean_true_charge: float
    charge_bias_1pe: float
    charge_resolution_1pe: float
    time_bias: float
    time_resolution: float
    #: Root mean square of the charge uncertainties the hits of single photo-electrons state.
    charge_uncertainty_1pe: float = math.nan

    @property
    def throughput(self) -> float:
        """Triggers reconstructed per second."""
        return self.triggers / self.seconds if self.seconds > 0 else math.inf

    @property
    def mean_charge_bias(self) -> float:
        """Relative deviation of the mean reconstructed charge from the mean true charge."""
        return self.mean_charge / self.mean_true_charge - 1.0


@dataclass
class DemoSummary:
    """Result of one demo run."""

    seed: int
    settings: Path
    kinds: dict[str, KindSummary] = field(default_factory=dict)
    plot: Path | None = None
    #: The run report's page (None: not written).
    report: Path | None = None
    #: The waveform triggers reconstructed with the nominal line for every channel instead of
    #: each channel's own (only with the example settings).
    uncalibrated: KindSummary | None = None
    #: The waveform triggers reconstructed with the channel table that ``orvane calibrate``
    #: makes from the run itself (only with the example settings, and with iminuit).
    from_data: KindSummary | None = None
    #: Why there is no ``from_data``.
    from_data_note: str | None = None


def _mean(x: np.ndarray) -> float:
    return float(np.mean(x)) if len(x) else math.nan


def _std(x: np.ndarray) -> float:
    return float(np.std(x)) if len(x) > 1 else math.nan


def _rms(x: np.ndarray) -> float:
    return float(np.sqrt(np.mean(np.square(x)))) if len(x) else math.nan


def _median(x: np.ndarray) -> float:
    return float(np.median(x)) if len(x) else math.nan


def _half_width_68(x: np.ndarray) -> float:
    """Half the width of the central 68 % of ``x``: a standard deviation that ignores tails."""
    if len(x) < 2:
        return math.nan
    low, high = np.percentile(x, [15.865, 84.135])
    return float(high - low) / 2


def summarise_kind(
    hits: np.ndarray,
    npe: np.ndarray,
    charge: np.ndarray,
    time: np.ndarray,
    first_position: int,
    seconds: float,
) -> KindSummary:
    """Compare the hits of one trigger kind with the truth of its triggers.

    A hit finds its trigger through the trigger position in its id; ``first_position`` is the
    position of the kind's first trigger.  Charges are compared on every hit, times on hits
    whose trigger carried a pulse, the 1 PE figures on hits of single photo-electrons.  The
    time figures are the median and the central 68 % half-width: a single photo-electron of
    low gain can drown in the noise, and the few edges found in noise would dominate a mean
    and a standard deviation.
    """
    index = trigger_positions(hits["id"]) - first_position
    true_npe, true_charge, true_time = npe[index], charge[index], time[index]
    one = true_npe == 1
    pulse = true_npe > 0
    charge_error = hits["charge"] - true_charge
    time_error = (hits["time"] - true_time)[pulse]
    return KindSummary(
        triggers=len(npe),
        hits=len(hits),
        seconds=seconds,
        mean_charge=_mean(hits["charge"]),
        mean_true_charge=_mean(true_charge),
        charge_bias_1pe=_mean(charge_error[one]),
        charge_resolution_1pe=_std(charge_error[one]),
        time_bias=_median(time_error),
        time_resolution=_half_width_68(time_error),
        charge_uncertainty_1pe=_rms(hits["charge_uncertainty"][one]),
    )


def summarise(data: TriggerData, result: ReconstructionResult) -> dict[str, KindSummary]:
    """Per-kind summaries of a reconstructed simulated run."""
    truth = data.truth
    if truth is None:
        raise ValueError("the trigger data carries no truth")
    hits = result.hits
    n = data.n_tarvo
    is_tarvo = trigger_positions(hits["id"]) < n
    return {
        "waveform": summarise_kind(
            hits[is_tarvo],
            truth.tarvo_npe,
            truth.tarvo_charge,
            truth.tarvo_time,
            0,
            result.tarvo_seconds,
        ),
        "multi-PMT": summarise_kind(
            hits[~is_tarvo],
            truth.multipmt_npe,
            truth.multipmt_charge,
            truth.multipmt_time,
            n,
            result.multipmt_seconds,
        ),
    }


def format_table(kinds: dict[str, KindSummary]) -> str:
    """The summary table, one column per trigger kind."""
    rows: list[tuple] = [
        ("triggers", "{:d}", lambda k: k.triggers),
        ("hits", "{:d}", lambda k: k.hits),
        ("throughput [triggers/s]", "{:.3g}", lambda k: k.throughput),
        ("mean charge, reconstructed [PE]", "{:.4f}", lambda k: k.mean_charge),
        ("mean charge, true [PE]", "{:.4f}", lambda k: k.mean_true_charge),
        ("mean charge bias [%]", "{:+.2f}", lambda k: 100 * k.mean_charge_bias),
        ("charge bias at 1 PE [PE]", "{:+.4f}", lambda k: k.charge_bias_1pe),
        ("charge resolution at 1 PE [PE]", "{:.4f}", lambda k: k.charge_resolution_1pe),
        ("time bias (median) [ns]", "{:+.3f}", lambda k: 1e9 * k.time_bias),
        ("time resolution (68 % half-width) [ns]", "{:.3f}", lambda k: 1e9 * k.time_resolution),
    ]
    names = list(kinds)
    label_width = max(len(r[0]) for r in rows)
    lines = [" " * label_width + "".join(f"{name:>12}" for name in names)]
    for label, fmt, get in rows:
        cells = []
        for name in names:
            value = get(kinds[name])
            cells.append(f"{fmt.format(value) if not _isnan(value) else '-':>12}")
        lines.append(f"{label:<{label_width}}" + "".join(cells))
    return "\n".join(lines)


def format_calibration(
    calibrated: KindSummary, nominal: KindSummary, from_data: KindSummary | None = None
) -> str:
    """Waveform charge at 1 PE with each channel's line from the truth, from the data (when
    calibrated from it) and with the nominal line for all."""
    width = len("time resolution (68 % half-width) [ns]")  # as the table above
    columns = [("truth table", calibrated), ("from data", from_data), ("nominal", nominal)]
    columns = [(name, kind) for name, kind in columns if kind is not None]
    rows = [
        ("charge bias at 1 PE [PE]", "{:+.4f}", lambda k: k.charge_bias_1pe),
        ("charge resolution at 1 PE [PE]", "{:.4f}", lambda k: k.charge_resolution_1pe),
        ("stated uncertainty at 1 PE [PE]", "{:.4f}", lambda k: k.charge_uncertainty_1pe),
    ]
    lines = [f"{'waveform charge at 1 PE':<{width}}" + "".join(f"{n:>12}" for n, _ in columns)]
    for label, fmt, get in rows:
        lines.append(f"{label:<{width}}" + "".join(f"{fmt.format(get(k)):>12}" for _, k in columns))
    return "\n".join(lines)


def _isnan(value: object) -> bool:
    return isinstance(value, float) and math.isnan(value)


def _waveforms_with_table(
    data: TriggerData, make_table: Callable[[Path], object]
) -> KindSummary | str:
    """The waveform summary of ``data`` reconstructed by the example settings with the channel
    table that ``make_table(directory)`` writes to ``directory / "channels.csv"``, or the
    reason it gives (a string) for writing none."""
    source = example_settings().parent
    assert data.truth is not None
    with tempfile.TemporaryDirectory(prefix="orvane-demo-") as raw:
        directory = Path(raw)
        for name in ("settings.yaml", "multipmt_charge_lut.txt"):
            shutil.copyfile(source / name, directory / name)
        made = make_table(directory)
        if isinstance(made, str):
            return made
        reco = load_reconstruction(directory / "settings.yaml")
        waveforms_only = dataclasses.replace(data, multipmt_triggers=data.multipmt_triggers[:0])
        result = reconstruct_triggers(reco, waveforms_only)
    truth = data.truth
    return summarise_kind(
        result.hits, truth.tarvo_npe, truth.tarvo_charge, truth.tarvo_time, 0, result.seconds
    )


def _nominal_table(data: TriggerData) -> Callable[[Path], Path]:
    """Writes the table that gives every channel the nominal charge line."""

    def make(directory: Path) -> Path:
        assert data.truth is not None
        write_simulated_channel_table(directory / "channels.csv", data.truth, calibrated=False)
        return directory / "channels.csv"

    return make


def _table_from_data(data: TriggerData) -> Callable[[Path], object]:
    """Writes the table ``orvane calibrate`` makes from the waveforms of ``data`` alone: the
    PMT types and, for a channel the fit leaves out, the nominal line."""

    def make(directory: Path) -> Path | str:
        try:
            import iminuit  # noqa: F401
        except ImportError:
            return "it needs iminuit (pip install 'orvane[calibrate]')"
        from ..calibration.driver import fill_spectra
        from ..calibration.fit import fit_spectra
        from ..calibration.table import plan_table, read_old_table, write_table

        table = _nominal_table(data)(directory)
        spectra = fill_spectra(directory / "settings.yaml", [data])
        plan = plan_table(fit_spectra(spectra, jobs=1), "charge", old=read_old_table(table))
        if plan.calibrated == 0:
            return "no channel has the 1000 waveform triggers a fit needs"
        write_table(table, plan, "Calibrated from the demo's simulated run by its spectra.")
        return table

    return make


def run_demo(
    *,
    triggers: int = DEFAULT_TRIGGERS,
    seed: int = 1,
    plot: str | os.PathLike | None = DEFAULT_PLOT,
    settings: SettingsSource | None = None,
    quiet: bool = False,
    report: str | os.PathLike | None = None,
    out: TextIO | None = None,
    progress: bool | None = None,
) -> DemoSummary:
    """Simulate ``triggers`` triggers (half of each kind), reconstruct them, print a summary.

    ``progress`` None shows the bar when standard error is a terminal and ``quiet`` is off.
    ``report`` names a folder for the run's report (``orvane report``), replaced if it holds
    one.
    """
    out = sys.stdout if out is None else out
    if triggers < 2:
        raise ValueError(f"the demo needs at least 2 triggers, got {triggers}")
    if plot is not None:
        check_writable(plot)
        _refuse_other_file(Path(plot))
    if report is not None:
        from ..plots.report import refuse_foreign_folder

        refuse_foreign_folder(Path(report))  # before the run, not after it
    loaded = require_valid_settings(settings if settings is not None else example_settings())
    settings_path = Path(loaded.file)
    reco = reconstruction_from(loaded)
    n_tarvo = triggers // 2
    data = simulate(
        example_detector(
            SimulationConfig(n_tarvo=n_tarvo, n_multipmt=triggers - n_tarvo, seed=seed)
        )
    )
    show = (not quiet) if progress is None else progress
    with ProgressBar(data.n_triggers, "reconstructing", enabled=None if show else False) as bar:
        result = reconstruct_triggers(reco, data, on_progress=bar.update)
    summary = DemoSummary(seed=seed, settings=settings_path, kinds=summarise(data, result))
    if settings is None:
        nominal = _waveforms_with_table(data, _nominal_table(data))
        assert not isinstance(nominal, str)
        summary.uncalibrated = nominal
        from_data = _waveforms_with_table(data, _table_from_data(data))
        if isinstance(from_data, str):
            summary.from_data_note = from_data
        else:
            summary.from_data = from_data
    if plot is not None and plot_charge_spectrum(plot, result.hits, data):
        summary.plot = Path(plot)
    if report is not None:
        summary.report = _write_report(Path(report), data, result, loaded)
    if not quiet:
        total = sum(k.triggers for k in summary.kinds.values())
        hits = sum(k.hits for k in summary.kinds.values())
        print(
            f"orvane demo: {total} simulated triggers (seed {seed}), {hits} hits, "
            f"{total / result.seconds if result.seconds > 0 else math.inf:.3g} triggers/s, "
            f"settings {settings_path}",
            file=out,
        )
        print(format_table(summary.kinds), file=out)
        if summary.uncalibrated is not None:
            waveform = summary.kinds["waveform"]
            print(format_calibration(waveform, summary.uncalibrated, summary.from_data), file=out)
            if summary.from_data is None:
                print(f"no calibration from the data: {summary.from_data_note}", file=out)
        if summary.plot is not None:
            print(f"charge spectrum written to {summary.plot}", file=out)
        elif plot is not None:
            print("no plot: matplotlib is not installed (pip install 'orvane[plot]')", file=out)
        if summary.report is not None:
            print(f"run report written to {summary.report}", file=out)
        elif report is not None:
            print("no report: matplotlib is not installed (pip install 'orvane[plot]')", file=out)
    return summary


def _refuse_other_file(plot: Path) -> None:
    """The plot replaces an earlier PNG image only: never a file of another kind (a trigger
    file or a settings file named by mistake)."""
    try:
        with open(plot, "rb") as stream:
            head = stream.read(8)
    except FileNotFoundError:
        return
    except OSError as exc:
        raise UserError(f"cannot write the plot to {plot}") from exc
    if head != b"\x89PNG\r\n\x1a\n":
        raise UserError(f"{plot} exists and is not a PNG image; the demo's plot replaces only one")


def _write_report(
    folder: Path, data: TriggerData, result: ReconstructionResult, settings: SettingsSource
) -> Path | None:
    """The report of the demo's run, from its trigger file and its hit file (with its
    provenance, the drops included), both kept in ``folder / "run"`` for the report to name
    files that exist; None without matplotlib."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return None
    from ..files.hitfile import sha256_file, write_hit_file
    from ..files.provenance import drops_provenance, input_provenance, run_provenance
    from ..files.triggerfile import write_trigger_file
    from ..plots.report import prepare_folder, write_report

    prepare_folder(folder, overwrite=True)
    run = folder / "run"
    run.mkdir(parents=True, exist_ok=True)
    triggers = run / "demo-run.npz"
    write_trigger_file(triggers, dataclasses.replace(data, truth=None))
    provenance = input_provenance(
        run_provenance(settings, None),
        triggers,
        sha256_file(triggers),
        data.run_info,
        data.n_tarvo,
        data.n_multipmt,
    )
    provenance["hits"] = len(result.hits)
    provenance["drops"] = drops_provenance(result.drops)
    hit_file = run / "demo-hits.npy"
    write_hit_file(hit_file, result.hits, provenance)
    return write_report([hit_file], folder, triggers=[triggers]).index
