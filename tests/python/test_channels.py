"""Channel tables on a simulated detector: per-channel gains calibrated back, PMT types."""

from __future__ import annotations

import dataclasses
import textwrap
from pathlib import Path
from types import ModuleType

import numpy as np
import pytest

from orvane_tools import cli, read_hit_file
from orvane_tools._dtypes import trigger_positions
from orvane_tools.channels import (
    example_detector,
    example_detector_truth,
    write_simulated_channel_table,
)
from orvane_tools.reconstruct import load_reconstruction, reconstruct_triggers
from orvane_tools.simulate import SimulationConfig, simulate
from orvane_tools.triggerfile import TriggerData, read_trigger_file, write_trigger_file

REPO_ROOT = Path(__file__).resolve().parents[2]

# The rising-edge time and a window wide enough for every integral: a hit needs both.
_TIME = """
  time:
    class: LinearReco
    feature: rising_edge_time
    hit_property: time
    pmt_type: -1
    slope: 1.0
    intercept: 0.0
    slope_uncertainty: 0.0
    intercept_uncertainty: 1.0e-9
    covariance: 0.0
    min_value: -.inf
    max_value: .inf
"""


def _charge(name: str, cls: str, pmt_type: int, line: str) -> str:
    return textwrap.indent(
        textwrap.dedent(f"""\
            {name}:
              class: {cls}
              feature: waveform_integral
              hit_property: charge
              pmt_type: {pmt_type}
              min_value: -1000.0
              max_value: 4.0e6
            """)
        + textwrap.indent(textwrap.dedent(line), "  "),
        "  ",
    )


@pytest.fixture(scope="module")
def orvane() -> ModuleType:
    return pytest.importorskip("orvane")


@pytest.fixture(scope="module")
def spread_run() -> TriggerData:
    """Single photo-electrons on 64 waveform channels of two types, gains spread by +-30 %."""
    return simulate(example_detector(SimulationConfig(n_tarvo=20_000, npe=1, seed=21)))


def _bias_per_channel(data: TriggerData, hits: np.ndarray) -> dict[int, float]:
    """Mean reconstructed minus true charge [PE] of each waveform channel's hits."""
    index = trigger_positions(hits["id"])
    error = hits["charge"] - data.truth.tarvo_charge[index]
    channel = data.tarvo_triggers["channel"][index]
    return {int(c): float(error[channel == c].mean()) for c in np.unique(channel)}


def test_simulated_channels(spread_run: TriggerData, tmp_path: Path) -> None:
    truth = spread_run.truth
    gain, kind = truth.channel_gain, truth.channel_pmt_type
    assert len(gain) == len(kind) == 128
    assert set(np.unique(kind)) == {0, 1}
    relative = gain[:64] / np.where(kind[:64] == 0, 1.0, 0.8)
    assert 0.7 <= relative.min() < 0.75 and 1.25 < relative.max() <= 1.3
    assert np.all(gain[64:] == 1.0)
    # The detector's channels do not depend on the run's seed, and the defaults change nothing.
    other = simulate(example_detector(SimulationConfig(n_tarvo=10, seed=99))).truth
    np.testing.assert_array_equal(other.channel_gain, gain)
    plain = simulate(SimulationConfig(n_tarvo=200, n_multipmt=10, seed=4))
    same = simulate(
        dataclasses.replace(
            example_detector(),
            n_tarvo=200,
            n_multipmt=10,
            seed=4,
            gain_spread=0.0,
            pmt_type_gains=(1.0,),
            n_channels=64,
        )
    )
    np.testing.assert_array_equal(plain.tarvo_samples, same.tarvo_samples)
    # The channel truth travels with the trigger file.
    path = tmp_path / "run.npz"
    write_trigger_file(path, spread_run)
    back = read_trigger_file(path).truth
    np.testing.assert_array_equal(back.channel_gain, gain)
    np.testing.assert_array_equal(back.channel_pmt_type, kind)


def test_example_table_is_the_example_detector(tmp_path: Path) -> None:
    path = tmp_path / "channels.csv"
    write_simulated_channel_table(path, example_detector_truth())
    assert path.read_text() == (REPO_ROOT / "examples" / "channels.csv").read_text()


@pytest.mark.parametrize("calibrated", [True, False], ids=["per-channel", "nominal"])
def test_per_channel_gains_are_calibrated_back(
    orvane: ModuleType, spread_run: TriggerData, tmp_path: Path, calibrated: bool
) -> None:
    write_simulated_channel_table(tmp_path / "t.csv", spread_run.truth, calibrated=calibrated)
    settings = tmp_path / "s.yaml"
    settings.write_text(
        "reco:\n"
        + _charge("charge", "ChannelLinearReco", -1, "table: t.csv\ncolumns: charge\n")
        + _TIME
    )
    result = reconstruct_triggers(load_reconstruction(settings), spread_run)
    bias = _bias_per_channel(spread_run, result.hits)
    assert len(bias) == 64
    worst = max(abs(b) for b in bias.values())
    if calibrated:
        assert worst < 0.01, bias
    else:
        # Without the per-channel lines the spread of the gains shows in full.
        assert worst > 0.2


def _linear(name: str, pmt_type: int, slope: float) -> str:
    return _charge(
        name,
        "LinearReco",
        pmt_type,
        f"""\
        slope: {slope!r}
        intercept: 0.0
        slope_uncertainty: 0.0001
        intercept_uncertainty: 0.06
        covariance: 0.0
        """,
    )


def test_two_types_each_with_its_own_reconstructors(
    orvane: ModuleType, tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    config = SimulationConfig(n_tarvo=8000, npe=1, n_channels=16, seed=5, pmt_type_gains=(1.0, 0.6))
    data = simulate(config)
    kind = data.truth.channel_pmt_type
    write_simulated_channel_table(tmp_path / "t.csv", data.truth)
    reco = _linear("type0", 0, 1 / 300) + _linear("type1", 1, 1 / 180) + _TIME
    channels = "extractors:\n  channels:\n    table: t.csv\n"
    typed, untyped = tmp_path / "typed.yaml", tmp_path / "untyped.yaml"
    typed.write_text(channels + "reco:\n" + reco)
    untyped.write_text("reco:\n" + reco)

    def bias_per_type(settings: Path) -> list[float]:
        hits = reconstruct_triggers(load_reconstruction(settings), data).hits
        bias = _bias_per_channel(data, hits)
        return [max(abs(b) for c, b in bias.items() if kind[c] == t) for t in (0, 1)]

    assert max(bias_per_type(typed)) < 0.01
    # Without the table every record is untyped: both lines act on it and one wins everywhere.
    assert max(bias_per_type(untyped)) > 0.3

    # A table without channel 3: an error naming channel and table, or (drop) its triggers
    # give no hit and the command says how many it dropped.
    lines = (tmp_path / "t.csv").read_text().splitlines(keepends=True)
    (tmp_path / "t.csv").write_text("".join(line for line in lines if not line.startswith("3,")))
    triggers, hits = tmp_path / "run.npz", tmp_path / "hits.npy"
    write_trigger_file(triggers, data)
    assert cli.main(["reconstruct", str(typed), str(triggers), "-o", str(hits)]) == 1
    error = " ".join(capsys.readouterr().err.split())  # the message is wrapped
    assert f"Channel 3 is not in the channel table {tmp_path / 't.csv'}" in error
    typed.write_text(channels + "    unknown_channels: drop\nreco:\n" + reco)
    assert cli.main(["reconstruct", str(typed), str(triggers), "-o", str(hits)]) == 0
    on_3 = int(np.count_nonzero(data.tarvo_triggers["channel"] == 3))
    assert f"dropped {on_3} triggers on channels missing from " in capsys.readouterr().out
    assert on_3 > 0 and not np.any(read_hit_file(hits)["channel"] == 3)


def test_simulate_command_detectors(tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
    run, ideal = tmp_path / "run.npz", tmp_path / "ideal.npz"
    base = ["simulate", "--tarvo", "10", "--multipmt", "10", "-q"]
    assert cli.main([*base, "-o", str(run)]) == 0
    truth = read_trigger_file(run).truth
    np.testing.assert_array_equal(truth.channel_gain, example_detector_truth().channel_gain)
    assert cli.main([*base, "-o", str(ideal), "--detector", "ideal", "--channels", "8"]) == 0
    truth = read_trigger_file(ideal).truth
    assert np.all(truth.channel_gain == 1.0) and np.all(truth.channel_pmt_type == 0)
    assert len(truth.channel_gain) == 16
    assert cli.main([*base, "-o", str(tmp_path / "no.npz"), "--channels", "8"]) == 1
    assert "use --detector ideal" in " ".join(capsys.readouterr().err.split())


def test_object_and_columnar_paths_agree_with_a_table(orvane: ModuleType, tmp_path: Path) -> None:
    # Types, per-channel lines and dropped triggers (channel 3 has no row) on both paths.
    data = simulate(example_detector(SimulationConfig(n_tarvo=400, seed=8)))
    write_simulated_channel_table(tmp_path / "t.csv", data.truth)
    lines = (tmp_path / "t.csv").read_text().splitlines(keepends=True)
    (tmp_path / "t.csv").write_text("".join(line for line in lines if not line.startswith("3,")))
    settings = tmp_path / "s.yaml"
    settings.write_text(
        "extractors:\n  channels:\n    table: t.csv\n    unknown_channels: drop\nreco:\n"
        + _charge("lines", "ChannelLinearReco", 1, "table: t.csv\ncolumns: charge\n")
        + _linear("type0", 0, 1 / 300)
        + _TIME
    )
    reco = orvane.ChargeReconstruction(str(settings))
    triggers = []
    for i, row in enumerate(data.tarvo_triggers):
        trigger = orvane.TarvoTrigger()
        trigger.channel = int(row["channel"])
        trigger.trigger_time_s = int(row["trigger_time_s"])
        trigger.trigger_time_ticks = int(row["trigger_time_ticks"])
        trigger.baseline = float(row["baseline"])
        trigger.waveform = data.waveform(i).tolist()
        triggers.append(trigger)
    objects = orvane.hit_list_to_numpy(reco.reconstruct(triggers))
    columnar = reco.reconstruct_tarvo_numpy(
        data.tarvo_triggers, data.tarvo_samples, offsets=data.tarvo_offsets
    )
    assert len(columnar) > 300 and not np.any(columnar["channel"] == 3)
    assert objects.tobytes() == columnar.tobytes()
