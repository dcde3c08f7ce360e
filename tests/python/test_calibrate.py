"""Calibration from the data: the response model, the fits, the table and the command."""

from __future__ import annotations

import shutil
from pathlib import Path
from types import ModuleType

import numpy as np
import pytest

from orvane_tools import cli
from orvane_tools.calibration.fit import FitOptions, fit_spectrum
from orvane_tools.calibration.histograms import SpectrumFiller
from orvane_tools.calibration.model import ResponseModel
from orvane_tools.files.triggerfile import write_trigger_file
from orvane_tools.run.reconstruct import load_reconstruction, reconstruct_triggers
from orvane_tools.simulation.simulate import SPE_CHARGE_LSB, SimulationConfig, simulate

pytest.importorskip("iminuit")

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture(scope="module")
def orvane() -> ModuleType:
    return pytest.importorskip("orvane")


@pytest.mark.parametrize(
    ("mode", "values"),
    [
        (
            "pedestal",
            {
                "total": 1e4,
                "pedestal": 3.0,
                "noise": 16,
                "gain": 300,
                "spe_sigma": 100,
                "occupancy": 1.7,
            },
        ),
        (
            "dark",
            {
                "pedestal": 0.0,
                "noise": 10,
                "gain": 250,
                "spe_sigma": 80,
                "w1": 900,
                "w2": 90,
                "w3": 9,
            },
        ),
    ],
)
def test_model_counts_sum_to_the_weights(mode: str, values: dict[str, float]) -> None:
    # Wide bins of about half the pedestal's width: Simpson's rule must still keep every term's
    # weight, or the fitted occupancy and weights would be off.
    model = ResponseModel(mode, np.arange(0, 15) if mode == "pedestal" else np.arange(1, 4))
    edges = np.arange(-300.0, 6000.0, 8.0)
    counts = model.counts(edges, values)
    np.testing.assert_allclose(counts.sum(), model.weights(values).sum(), rtol=1e-6)
    np.testing.assert_allclose(model.component_counts(edges, values).sum(axis=0), counts)


def _drawn(mode: str, gain: float, n: int, seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    if mode == "dark":
        npe = rng.geometric(0.85, n)
        values = rng.normal(npe * gain, np.sqrt(8.0**2 + npe * (0.3 * gain) ** 2))
        return values[values > 0.45 * gain]  # a threshold that cuts the first peak's flank
    npe = rng.poisson(1.2, n)
    return rng.normal(npe * gain, np.sqrt(16.0**2 + npe * (0.35 * gain) ** 2))


@pytest.mark.parametrize("mode", ["pedestal", "dark"])
@pytest.mark.parametrize("gain", [120.0, 450.0])
def test_fit_finds_the_gain(mode: str, gain: float) -> None:
    filler = SpectrumFiller("waveform_integral")
    values = np.rint(_drawn(mode, gain, 20000, seed=7))
    filler.fill(np.zeros(len(values), dtype=np.int32), values)
    spectra = filler.result()
    assert spectra.lattice == 1.0
    fit = fit_spectrum(0, spectra.edges, spectra.counts[0], spectra.entries[0], FitOptions(mode))
    assert fit.ok, fit.reason
    assert abs(fit.gain - gain) < 4 * fit.gain_uncertainty < 0.05 * gain
    assert 0.5 < fit.reduced_chi2 < 1.6


def _table(path: Path) -> tuple[list[str], list[str], list[list[str]]]:
    lines = path.read_text().splitlines()
    comments = [line for line in lines if line.startswith("#")]
    body = [line.split(",") for line in lines if not line.startswith("#")]
    return comments, body[0], body[1:]


@pytest.fixture(scope="module")
def simulated_run(tmp_path_factory: pytest.TempPathFactory):
    # Four channels of the example table, their gains spread by +-30 %.
    config = SimulationConfig(n_tarvo=4 * 2500, n_channels=4, gain_spread=0.3, seed=4)
    data = simulate(config)
    path = tmp_path_factory.mktemp("run") / "run.npz"
    write_trigger_file(path, data)
    return path, data


def test_calibrate_command_writes_a_table_the_library_reads(
    orvane: ModuleType, simulated_run, tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    run, data = simulated_run
    for name in ("settings.yaml", "multipmt_charge_lut.txt", "channels.csv"):
        shutil.copyfile(EXAMPLES / name, tmp_path / name)
    table = tmp_path / "calibrated.csv"
    args = ["calibrate", str(tmp_path / "settings.yaml"), str(run), "-o", str(table)]
    assert cli.main([*args, "--table", str(tmp_path / "channels.csv"), "--min-entries", "500"]) == 0
    out = capsys.readouterr().out
    assert "calibrated 4 of 4 channels" in out
    comments, header, rows = _table(table)
    assert any(line.startswith("# settings: ") and "sha256" in line for line in comments)
    assert any(line.startswith(f"# input: {run} (sha256 ") for line in comments)
    assert header[:7] == [
        "channel",
        "pmt_type",
        "charge_slope",
        "charge_intercept",
        "charge_slope_uncertainty",
        "charge_intercept_uncertainty",
        "charge_covariance",
    ]
    assert header[7:] == [
        "gain",
        "gain_uncertainty",
        "pedestal",
        "spe_width",
        "occupancy",
        "entries",
        "fit_status",
        "reduced_chi2",
    ]
    # Every row of the old table is kept: the 124 channels without data say so.
    assert len(rows) == 128
    status = {int(r[0]): float(r[header.index("fit_status")]) for r in rows}
    assert [c for c, s in status.items() if s == 0] == [0, 1, 2, 3]
    assert all(s == 3 for c, s in status.items() if c >= 4)
    # Every trigger was histogrammed although the settings drop bad edges.
    entries = sum(float(r[header.index("entries")]) for r in rows)
    assert entries == len(data.tarvo_triggers)
    gains = {int(r[0]): float(r[header.index("gain")]) for r in rows[:4]}
    for channel, gain in gains.items():
        assert gain == pytest.approx(SPE_CHARGE_LSB * data.truth.channel_gain[channel], rel=0.03)
    assert orvane.ChannelTable(str(table)).channels.tolist() == [int(r[0]) for r in rows]

    # The settings read the new table unchanged, by extraction and by ChannelLinearReco.
    shutil.copyfile(table, tmp_path / "channels.csv")
    result = reconstruct_triggers(load_reconstruction(tmp_path / "settings.yaml"), data)
    one = data.truth.tarvo_npe[(result.hits["id"] >> 4) & 0x0FFFFFFF] == 1
    true = data.truth.tarvo_charge[(result.hits["id"] >> 4) & 0x0FFFFFFF]
    error = (result.hits["charge"] - true)[one]
    assert abs(error.mean()) < 0.02
    # The stated uncertainty of a single photo-electron's charge is its true spread.
    stated = np.sqrt(np.mean(result.hits["charge_uncertainty"][one] ** 2))
    assert stated == pytest.approx(error.std(), rel=0.15)


@pytest.mark.parametrize(
    ("options", "status", "message"),
    [
        (["--pmt-type", "0", "--min-entries", "500"], 0, "calibrated 4 of 4 channels"),
        (["--pmt-type", "0", "--min-entries", "5000"], 1, "no channel was calibrated"),
        (["--pmt-type", "0", "--min-entries", "2450", "--strict"], 1, "not calibrated (--strict)"),
        ([], 1, "give the PMT type of the channels"),
        (["--pmt-type", "0", "--range", "100", "50"], 1, "the fit range must be LOW < HIGH"),
        # The output exists and holds notes, not a table: kept.
        (["--pmt-type", "0", "--overwrite"], 1, "it is not a channel table"),
    ],
    ids=["pmt-type", "none-calibrated", "strict", "no-pmt-type", "bad-range", "not-a-table"],
)
def test_calibrate_exit_status(
    orvane: ModuleType,
    simulated_run,
    tmp_path: Path,
    capsys: pytest.CaptureFixture[str],
    options: list[str],
    status: int,
    message: str,
) -> None:
    run, _ = simulated_run
    table = tmp_path / "t.csv"
    if "--overwrite" in options:
        table.write_text("my notes\n")
    args = ["calibrate", str(EXAMPLES / "settings.yaml"), str(run), "-o", str(table), *options]
    assert cli.main(args) == status
    captured = capsys.readouterr()
    assert message in captured.out + captured.err
    assert table.exists() == ("--strict" in options or status == 0 or "--overwrite" in options)


def test_calibrate_report_replaces_only_its_own_page(
    orvane: ModuleType, simulated_run, tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    pytest.importorskip("matplotlib")
    page = tmp_path / "calib"
    args = ["calibrate", str(EXAMPLES / "settings.yaml"), str(simulated_run[0]), "--pmt-type", "0"]

    def run(table: str, *more: str) -> int:
        return cli.main([*args, "-o", str(tmp_path / table), "--report", str(page), "-q", *more])

    assert run("a.csv") == 0
    assert (page / "spectra_000.png").read_bytes().startswith(b"\x89PNG")
    assert (run("b.csv"), run("b.csv", "--overwrite")) == (1, 0)
    # Another page in the folder is kept, --overwrite or not; nothing is written.
    (page / "index.html").write_text("<title>my notes</title>")
    assert run("c.csv", "--overwrite") == 1
    assert "not the page of a calibration report" in " ".join(capsys.readouterr().err.split())
    assert not (tmp_path / "c.csv").exists()
