"""The trigger simulator: layout of its rows and the truth it records."""

from __future__ import annotations

import numpy as np
import pytest

from orvane_tools import MULTIPMT_TRIGGER_DTYPE, TARVO_TRIGGER_DTYPE, TriggerData
from orvane_tools import simulate as sim
from orvane_tools.simulate import SimulationConfig, simulate


@pytest.fixture(scope="module")
def run() -> TriggerData:
    """A run large enough for statistical checks, small enough to be quick."""
    return simulate(SimulationConfig(n_tarvo=20_000, n_multipmt=20_000, seed=7))


def test_rows_have_the_file_layout(run: TriggerData) -> None:
    assert run.tarvo_triggers.dtype == TARVO_TRIGGER_DTYPE
    assert run.multipmt_triggers.dtype == MULTIPMT_TRIGGER_DTYPE
    assert run.tarvo_samples.dtype == np.uint16
    assert run.tarvo_offsets.dtype == np.int64
    n = run.n_tarvo
    assert run.tarvo_offsets[0] == 0
    assert np.all(np.diff(run.tarvo_offsets) == sim.SAMPLES_PER_WAVEFORM)
    assert run.tarvo_offsets[-1] == len(run.tarvo_samples) == n * sim.SAMPLES_PER_WAVEFORM
    assert np.all(run.tarvo_triggers["baseline"] == sim.BASELINE_LSB)
    assert run.run_info["run_number"][0] == sim.SIMULATION_RUN_NUMBER


def test_time_stamps_run_forward(run: TriggerData) -> None:
    rows = run.tarvo_triggers
    assert np.all(rows["trigger_time_ticks"] < sim.TICKS_PER_SECOND)
    ticks = rows["trigger_time_s"].astype(np.int64) * sim.TICKS_PER_SECOND
    ticks += rows["trigger_time_ticks"]
    assert np.all(np.diff(ticks) > 0)
    assert np.all(np.diff(run.truth.multipmt_time) > 0)
    # 20000 triggers at 10 kHz: about two seconds.
    assert 1.8 < ticks[-1] * sim.SECONDS_PER_TICK < 2.2
    assert rows["trigger_time_s"][-1] >= 1


def test_channels_of_each_kind_are_separate(run: TriggerData) -> None:
    assert set(np.unique(run.tarvo_triggers["channel"])) == set(range(64))
    assert set(np.unique(run.multipmt_triggers["channel"])) == set(range(64, 128))


def test_photo_electron_spectrum(run: TriggerData) -> None:
    truth = run.truth
    assert abs(truth.tarvo_npe.mean() - 1.5) < 0.05
    assert abs(np.mean(truth.tarvo_npe == 0) - np.exp(-1.5)) < 0.015
    # Multi-PMT triggers need a pulse: Poisson(1.5) conditioned on at least one.
    assert truth.multipmt_npe.min() >= 1
    assert abs(truth.multipmt_npe.mean() - 1.5 / (1 - np.exp(-1.5))) < 0.05
    for npe, charge in (
        (truth.tarvo_npe, truth.tarvo_charge),
        (truth.multipmt_npe, truth.multipmt_charge),
    ):
        assert np.all(charge[npe == 0] == 0)
        one = charge[npe == 1]
        assert abs(one.mean() - 1.0) < 0.01
        assert abs(one.std() - sim.SPE_RELATIVE_SPREAD) < 0.01
        assert one.min() >= 0


def test_waveform_integral_is_the_true_charge(run: TriggerData) -> None:
    waveforms = run.tarvo_samples.reshape(run.n_tarvo, -1).astype(np.float64)
    integral = (waveforms - sim.BASELINE_LSB).sum(axis=1) / sim.SPE_CHARGE_LSB
    error = integral - run.truth.tarvo_charge
    noise = sim.NOISE_LSB * np.sqrt(sim.SAMPLES_PER_WAVEFORM) / sim.SPE_CHARGE_LSB
    assert abs(error.mean()) < 0.003  # the binned pulse keeps its area
    assert abs(error.std() - noise) < 0.1 * noise
    assert np.abs(error).max() < 8 * noise
    np.testing.assert_allclose(
        run.tarvo_triggers["intsum"], integral * sim.SPE_CHARGE_LSB, rtol=0, atol=0.01
    )


def test_pulse_starts_between_samples_10_and_20(run: TriggerData) -> None:
    rows, truth = run.tarvo_triggers, run.truth
    stamp = rows["trigger_time_s"] + rows["trigger_time_ticks"] * sim.SECONDS_PER_TICK
    start = (truth.tarvo_time - stamp) / sim.SECONDS_PER_TICK
    pulse = truth.tarvo_npe > 0
    assert np.all(np.isnan(truth.tarvo_time[~pulse]))
    assert start[pulse].min() >= 10 and start[pulse].max() < 20
    # The largest sample of a clear pulse lies just after its start.
    waveforms = run.tarvo_samples.reshape(run.n_tarvo, -1)
    clear = pulse & (truth.tarvo_charge > 0.5)
    peak = waveforms[clear].argmax(axis=1)
    assert np.all((peak >= np.floor(start[clear])) & (peak <= np.floor(start[clear]) + 3))


def test_multipmt_rows_follow_the_truth(run: TriggerData) -> None:
    rows, truth = run.multipmt_triggers, run.truth
    q = truth.multipmt_charge
    expected_adc = 4000 * (1 - np.exp(-q * 40 / 4000))
    adc_error = rows["adc_sample"] - expected_adc
    assert abs(adc_error.mean()) < 0.1 and np.abs(adc_error).max() < 12
    delay = (rows["time"] - truth.multipmt_time) * 1e9
    assert abs(delay.mean() - 5.0) < 0.05 and abs(delay.std() - 1.0) < 0.05
    tot = rows["time_over_threshold"]
    assert np.all(tot >= 0)
    assert np.corrcoef(np.log1p(q / 0.25), tot)[0, 1] > 0.95


def test_binned_pulse_keeps_its_area() -> None:
    starts = np.linspace(40.0, 80.0, 17)
    pulses = sim.binned_pulses(starts)
    assert pulses.shape == (17, sim.SAMPLES_PER_WAVEFORM)
    assert np.all(pulses >= 0)
    np.testing.assert_allclose(pulses.sum(axis=1), 1.0, atol=5e-4)
    # Nothing arrives before the start.
    for start, pulse in zip(starts, pulses):
        assert np.all(pulse[: int(start // 4)] == 0)


def test_same_seed_same_run_and_kinds_are_independent() -> None:
    a = simulate(SimulationConfig(n_tarvo=500, n_multipmt=300, seed=3))
    b = simulate(SimulationConfig(n_tarvo=500, n_multipmt=300, seed=3))
    c = simulate(SimulationConfig(n_tarvo=500, n_multipmt=0, seed=3))
    d = simulate(SimulationConfig(n_tarvo=500, n_multipmt=300, seed=4))
    assert np.array_equal(a.tarvo_samples, b.tarvo_samples)
    assert np.array_equal(a.multipmt_triggers, b.multipmt_triggers)
    assert np.array_equal(a.tarvo_samples, c.tarvo_samples)
    assert np.array_equal(a.tarvo_triggers, c.tarvo_triggers)
    assert not np.array_equal(a.tarvo_samples, d.tarvo_samples)


@pytest.mark.parametrize("npe", [0, 1, 3], ids=lambda k: f"npe={k}")
def test_fixed_photo_electron_count(npe: int) -> None:
    n_multipmt = 0 if npe == 0 else 200
    run = simulate(SimulationConfig(n_tarvo=200, n_multipmt=n_multipmt, npe=npe, seed=1))
    assert np.all(run.truth.tarvo_npe == npe)
    assert np.all(run.truth.multipmt_npe == npe)
    assert np.isnan(run.truth.tarvo_time).all() == (npe == 0)


def test_empty_run() -> None:
    run = simulate(SimulationConfig(n_tarvo=0, n_multipmt=0, seed=1))
    assert run.n_triggers == 0
    assert list(run.tarvo_offsets) == [0]
    assert len(run.tarvo_samples) == 0


@pytest.mark.parametrize(
    ("config", "message"),
    [
        (SimulationConfig(npe=0, n_multipmt=1), "allows no multi-PMT trigger"),
        (SimulationConfig(npe=-1), "must not be negative"),
        (SimulationConfig(npe_mean=0.0), "above 0"),
        (SimulationConfig(npe_mean=1e9), "at most 1000"),
        (SimulationConfig(rate_hz=float("nan")), "rate must be positive"),
        (SimulationConfig(rate_hz=1e-9), "beyond the 4294967295 s"),
        (SimulationConfig(n_channels=0), "must be 1 to"),
        (SimulationConfig(n_channels=10**11), "32-bit signed"),
        (SimulationConfig(n_tarvo=-5), "must not be negative"),
        (SimulationConfig(run_number=2**32), "32 bits"),
        (SimulationConfig(seed=-1), "seed must not be negative"),
    ],
    ids=[
        "npe0-multipmt",
        "negative-npe",
        "zero-mean",
        "huge-mean",
        "nan-rate",
        "tiny-rate",
        "no-channel",
        "channels-beyond-int32",
        "negative-count",
        "run-number",
        "negative-seed",
    ],
)
def test_bad_configuration_is_refused(config: SimulationConfig, message: str) -> None:
    with pytest.raises(ValueError, match=message):
        simulate(config)
