"""Channel tables on a simulated detector: per-channel gains calibrated back, PMT types."""

from __future__ import annotations

import dataclasses
import textwrap
from pathlib import Path
from types import ModuleType

import numpy as np
import pytest

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
