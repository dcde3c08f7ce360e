"""Long waveforms holding several pulses each, with the truth of every pulse.

The electronics are those of :mod:`orvane_tools.simulate` (baseline 1000 LSB, noise 2 LSB per
4 ns sample, 300 LSB of charge per photo-electron spread by 30 %, the same pulse shape); only
the record is longer and holds 1 to 5 pulses (by default) instead of one.  Pulses are placed
uniformly over the record, at least ``min_separation_ns`` apart, between ``FIRST_SAMPLE`` and
``n_samples - TAIL_SAMPLES`` so that each has samples ahead of it and its tail fits.  Each
pulse has at least one photo-electron: a Poisson count of mean ``npe_mean`` conditioned on
one or more, or exactly ``npe``.  ``separation_ns`` instead puts exactly two pulses that far
apart into every record, to show where pulses pile up.

For dark counts (``npe=1``), ``crosstalk`` gives each photo-electron that chance of firing
one more (optical cross talk: a pulse holds 1 + a geometric number of photo-electrons), and
``gain_spread`` with ``detector_seed`` gives each channel its own gain, as
:mod:`.simulate` does (recorded in ``Truth.channel_gain``).

The trigger file's own truth gives per trigger the sums over its pulses and the first pulse's
time; :class:`PulseTruth` holds every pulse.
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from .._dtypes import MULTIPMT_TRIGGER_DTYPE, TARVO_TRIGGER_DTYPE
from ..files.settings import SettingsSource
from ..files.triggerfile import SIMULATION_RUN_NUMBER, TriggerData, Truth, run_info_row
from .simulate import (
    BASELINE_LSB,
    NOISE_LSB,
    SECONDS_PER_TICK,
    SPE_CHARGE_LSB,
    SPE_RELATIVE_SPREAD,
    TICKS_PER_SECOND,
    SimulationConfig,
    _simulate_channels,
    binned_pulses,
)

FIRST_SAMPLE = 8
TAIL_SAMPLES = 32
_BLOCK = 1024
_NS_PER_SAMPLE = SECONDS_PER_TICK * 1e9


@dataclass(frozen=True)
class PulseTrainConfig:
    """What to simulate; see the module's description."""

    n_triggers: int = 1000
    n_samples: int = 1024
    min_pulses: int = 1
    max_pulses: int = 5
    min_separation_ns: float = 80.0
    separation_ns: float | None = None
    npe_mean: float = 1.5
    npe: int | None = None
    rate_hz: float = 10_000.0
    n_channels: int = 64
    run_number: int = SIMULATION_RUN_NUMBER
    seed: int | None = None
    crosstalk: float = 0.0
    gain_spread: float = 0.0
    detector_seed: int | None = None

    def check(self) -> None:
        """Raise ValueError for a configuration that cannot be simulated."""
        if self.n_triggers < 0:
            raise ValueError("the number of triggers must not be negative")
        if not 1 <= self.min_pulses <= self.max_pulses:
            raise ValueError(
                f"need 1 <= min_pulses <= max_pulses, got {self.min_pulses}, {self.max_pulses}"
            )
        if self.npe is not None and self.npe < 1:
            raise ValueError(f"a pulse needs at least 1 photo-electron, got {self.npe}")
        if not 0 <= self.crosstalk < 1:
            raise ValueError(f"the cross-talk chance must lie in [0, 1), got {self.crosstalk}")
        if not 0 <= self.gain_spread < 1:
            raise ValueError(f"the gain spread must lie in [0, 1), got {self.gain_spread}")
        if self.npe is None and not self.npe_mean > 0:
            raise ValueError(f"the mean photo-electron count must be positive, got {self.npe_mean}")
        pulses = 2 if self.separation_ns is not None else self.max_pulses
        separation = (
            self.separation_ns if self.separation_ns is not None else self.min_separation_ns
        )
        room = (self.n_samples - FIRST_SAMPLE - TAIL_SAMPLES) * _NS_PER_SAMPLE
        if separation < 0 or (pulses - 1) * separation > room:
            raise ValueError(
                f"{pulses} pulses {separation} ns apart do not fit {self.n_samples} samples"
            )


@dataclass
class PulseTruth:
    """Every simulated pulse: its trigger (row index), photo-electrons, charge [PE], time [s]."""

    trigger: np.ndarray
    npe: np.ndarray
    charge: np.ndarray
    time: np.ndarray


def _pulse_npe(rng: np.random.Generator, config: PulseTrainConfig, n: int) -> np.ndarray:
    if config.npe is not None:
        return np.full(n, config.npe, dtype=np.int32)
    # Poisson conditioned on >= 1 (see simulate._npe).
    mu = config.npe_mean
    first = -np.log(rng.uniform(np.exp(-mu), 1.0, n))
    return (1 + rng.poisson(np.maximum(mu - first, 0.0))).astype(np.int32)


def _gains(rng: np.random.Generator, npe: np.ndarray) -> np.ndarray:
    total = int(npe.sum())
    gains = rng.normal(SPE_CHARGE_LSB, SPE_RELATIVE_SPREAD * SPE_CHARGE_LSB, total)
    while (negative := gains < 0).any():
        gains[negative] = rng.normal(
            SPE_CHARGE_LSB, SPE_RELATIVE_SPREAD * SPE_CHARGE_LSB, int(negative.sum())
        )
    owner = np.repeat(np.arange(len(npe)), npe)
    return np.bincount(owner, weights=gains, minlength=len(npe))


def simulate_pulse_trains(config: PulseTrainConfig) -> tuple[TriggerData, PulseTruth]:
    """Simulate long waveform triggers with several pulses each, and every pulse's truth."""
    config.check()
    rng = np.random.default_rng(config.seed)
    n = config.n_triggers
    if config.separation_ns is not None:
        counts = np.full(n, 2, dtype=np.int64)
        separation = config.separation_ns
    else:
        counts = rng.integers(config.min_pulses, config.max_pulses + 1, n)
        separation = config.min_separation_ns
    owner = np.repeat(np.arange(n), counts)
    first_ns = FIRST_SAMPLE * _NS_PER_SAMPLE
    room = (config.n_samples - FIRST_SAMPLE - TAIL_SAMPLES) * _NS_PER_SAMPLE
    # Uniform placement with a minimum gap: sorted uniform points in the room left once the
    # gaps are taken out, then the i-th point of a record moved on by i gaps.
    slack = room - (counts - 1) * separation
    points = rng.uniform(0.0, 1.0, len(owner)) * slack[owner]
    order = np.lexsort((points, owner))
    points = points[order]
    first_of = np.concatenate(([0], np.cumsum(counts)[:-1]))
    rank = np.arange(len(owner)) - first_of[owner]
    if config.separation_ns is not None:
        points = points[first_of[owner]]  # exactly one gap apart: both from the first point
    start_ns = first_ns + points + rank * separation

    npe = _pulse_npe(rng, config, len(owner))
    if config.crosstalk > 0:
        npe = npe + (rng.geometric(1.0 - config.crosstalk, len(npe)) - 1).astype(np.int32)
    charge_lsb = _gains(rng, npe)
    gaps = np.rint(rng.exponential(1.0 / (config.rate_hz * SECONDS_PER_TICK), n))
    # Records do not overlap in time: a gap is at least one record long.
    ticks = np.cumsum(np.maximum(gaps, config.n_samples).astype(np.int64))

    rows = np.zeros(n, dtype=TARVO_TRIGGER_DTYPE)
    rows["channel"] = rng.integers(0, config.n_channels, n)
    rows["trigger_time_s"] = ticks // TICKS_PER_SECOND
    rows["trigger_time_ticks"] = ticks % TICKS_PER_SECOND
    rows["baseline"] = BASELINE_LSB
    channel_gain = None
    n_channels = config.n_channels
    pulse_gain = np.ones(len(owner))
    if config.gain_spread > 0 or config.detector_seed is not None:
        detector = SimulationConfig(n_channels=config.n_channels, gain_spread=config.gain_spread)
        channel_gain, _ = _simulate_channels(np.random.default_rng(config.detector_seed), detector)
        channel_gain = channel_gain[: config.n_channels]
        pulse_gain = channel_gain[rows["channel"][owner]]

    length = config.n_samples
    samples = np.empty((n, length), dtype=np.uint16)
    for lo in range(0, n, _BLOCK):
        hi = min(lo + _BLOCK, n)
        values = rng.standard_normal((hi - lo, length)) * NOISE_LSB + BASELINE_LSB
        mine = (owner >= lo) & (owner < hi)
        amplitude = charge_lsb[mine] * pulse_gain[mine]
        shapes = binned_pulses(start_ns[mine], length) * amplitude[:, np.newaxis]
        np.add.at(values, owner[mine] - lo, shapes)
        np.rint(values, out=values)
        np.clip(values, 0, np.iinfo(np.uint16).max, out=values)
        samples[lo:hi] = values
        rows["intsum"][lo:hi] = values.sum(axis=1) - length * BASELINE_LSB

    trigger_time = rows["trigger_time_s"].astype(np.float64) + rows["trigger_time_ticks"] * (
        SECONDS_PER_TICK
    )
    time = trigger_time[owner] + start_ns * 1e-9
    charge = charge_lsb / SPE_CHARGE_LSB
    truth = Truth(
        tarvo_npe=np.bincount(owner, weights=npe, minlength=n).astype(np.int32),
        tarvo_charge=np.bincount(owner, weights=charge, minlength=n),
        tarvo_time=time[first_of] if n else np.zeros(0),
        multipmt_npe=np.zeros(0, dtype=np.int32),
        multipmt_charge=np.zeros(0),
        multipmt_time=np.zeros(0),
        channel_gain=channel_gain,
        channel_pmt_type=None if channel_gain is None else np.zeros(n_channels, dtype=np.int32),
    )
    data = TriggerData(
        run_info=run_info_row(config.run_number),
        tarvo_triggers=rows,
        tarvo_samples=samples.reshape(-1),
        tarvo_offsets=np.arange(n + 1, dtype=np.int64) * length,
        multipmt_triggers=np.zeros(0, dtype=MULTIPMT_TRIGGER_DTYPE),
        truth=truth,
    )
    return data, PulseTruth(trigger=owner, npe=npe, charge=charge, time=time)


@dataclass
class PulseScore:
    """Pulses found against the truth of a simulated pulse train.

    A hit matches the true pulse of its own trigger nearest in time, when it lies within the
    matching window; a true pulse matched by several hits keeps the nearest, the others count
    as fakes like hits without a true pulse nearby.
    """

    pulses: int
    found: int
    hits: int
    fakes: int
    charge_bias_1pe: float
    charge_resolution_1pe: float
    time_bias: float
    time_resolution: float

    @property
    def efficiency(self) -> float:
        """Fraction of the true pulses (above the charge cut) matched by a hit."""
        return self.found / self.pulses if self.pulses else float("nan")

    @property
    def fake_fraction(self) -> float:
        """Fraction of the hits that match no true pulse."""
        return self.fakes / self.hits if self.hits else 0.0


def score_pulses(
    positions: np.ndarray,
    time: np.ndarray,
    charge: np.ndarray,
    truth: PulseTruth,
    *,
    min_charge: float = 0.5,
    window_s: float = 10e-9,
) -> PulseScore:
    """Match hits (trigger position, time [s], charge [PE]) with the true pulses.

    The efficiency counts true pulses above ``min_charge`` PE; the 1 PE figures are relative
    to the true charge, over matched pulses of one photo-electron; the time figures are the
    median and the central 68 % half-width of hit time minus true time.
    """
    order = np.argsort(truth.time, kind="stable")
    true_time = truth.time[order]
    slot = np.searchsorted(true_time, time)
    best = np.full(len(time), -1, dtype=np.int64)
    best_dt = np.full(len(time), np.inf)
    for candidate in (slot - 1, slot):
        inside = (candidate >= 0) & (candidate < len(true_time))
        c = np.where(inside, candidate, 0)
        dt = np.abs(time - true_time[c]) if len(true_time) else np.full(len(time), np.inf)
        ok = inside & (truth.trigger[order][c] == positions) & (dt < window_s) & (dt < best_dt)
        best = np.where(ok, order[c], best)
        best_dt = np.where(ok, dt, best_dt)
    # One hit per true pulse: the nearest in time.
    matched = np.flatnonzero(best >= 0)
    keep = matched[np.lexsort((best_dt[matched], best[matched]))]
    first = np.concatenate(([True], best[keep][1:] != best[keep][:-1])) if len(keep) else keep
    keep = keep[first.astype(bool)]
    hit_of = np.full(len(truth.time), -1, dtype=np.int64)
    hit_of[best[keep]] = keep
    above = truth.charge > min_charge
    one = np.flatnonzero((truth.npe == 1) & (hit_of >= 0))
    relative = charge[hit_of[one]] / truth.charge[one] - 1.0 if len(one) else np.zeros(0)
    bias = charge[hit_of[one]].mean() / truth.charge[one].mean() - 1.0 if len(one) else np.nan
    dt_all = time[keep] - truth.time[best[keep]]
    low, mid, high = np.percentile(dt_all, [15.865, 50, 84.135]) if len(keep) else (np.nan,) * 3
    return PulseScore(
        pulses=int(above.sum()),
        found=int((hit_of[above] >= 0).sum()),
        hits=len(time),
        fakes=len(time) - len(keep),
        charge_bias_1pe=float(bias),
        charge_resolution_1pe=float(np.std(relative)) if len(relative) > 1 else float("nan"),
        time_bias=float(mid),
        time_resolution=float(high - low) / 2,
    )


def format_score(score: PulseScore) -> str:
    """The figures of ``score``, one per line."""
    rows = [
        ("pulses (true charge above 0.5 PE)", f"{score.pulses}"),
        ("found", f"{100 * score.efficiency:.2f} %"),
        ("fake pulses (of the hits)", f"{100 * score.fake_fraction:.3f} %"),
        ("charge bias at 1 PE", f"{100 * score.charge_bias_1pe:+.2f} %"),
        ("charge resolution at 1 PE", f"{100 * score.charge_resolution_1pe:.1f} %"),
        ("time bias (median)", f"{1e9 * score.time_bias:+.3f} ns"),
        ("time resolution (68 % half-width)", f"{1e9 * score.time_resolution:.3f} ns"),
    ]
    width = max(len(label) for label, _ in rows)
    return "\n".join(f"{label:<{width}}  {value:>10}" for label, value in rows)


def run_long_demo(
    *,
    triggers: int = 10_000,
    seed: int = 1,
    settings: SettingsSource | None = None,
    quiet: bool = False,
) -> PulseScore:
    """Simulate long waveforms with 1 to 5 pulses, reconstruct them with the pulse finder's
    example settings (or ``settings``), and print how many pulses were found against the truth.
    """
    from .._resources import PULSE_FINDER_SETTINGS_NAME, example_settings
    from ..progress import ProgressBar
    from ..run.reconstruct import load_reconstruction, reconstruct_triggers

    path = settings if settings is not None else example_settings(PULSE_FINDER_SETTINGS_NAME)
    reco = load_reconstruction(path)
    config = PulseTrainConfig(n_triggers=triggers, seed=seed)
    data, truth = simulate_pulse_trains(config)
    with ProgressBar(data.n_triggers, "reconstructing", enabled=False if quiet else None) as bar:
        result = reconstruct_triggers(reco, data, on_progress=bar.update)
    hits = result.hits
    positions = (hits["id"].view(np.uint64) >> np.uint64(4)) & np.uint64(0x0FFFFFFF)
    score = score_pulses(positions.astype(np.int64), hits["time"], hits["charge"], truth)
    if not quiet:
        rate = triggers / result.seconds if result.seconds > 0 else float("inf")
        print(
            f"orvane demo --long: {triggers} simulated waveforms of {config.n_samples} samples "
            f"with {config.min_pulses} to {config.max_pulses} pulses at least "
            f"{config.min_separation_ns:g} ns apart ({len(truth.time)} pulses, seed {seed}), "
            f"{len(hits)} hits, {rate:.3g} waveforms/s, settings {path}"
        )
        print(format_score(score))
        print(f"waveforms with more than 16 pulses: {result.truncated}")
    return score


__all__ = [
    "PulseScore",
    "PulseTrainConfig",
    "PulseTruth",
    "format_score",
    "run_long_demo",
    "score_pulses",
    "simulate_pulse_trains",
]
