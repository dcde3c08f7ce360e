"""Waveform and multi-PMT triggers with a known truth.

Every trigger carries one PMT pulse of ``npe`` photo-electrons (possibly none), all arriving
at one true time.  The electronics are modelled as follows.

Waveform (Tarvo) triggers
    64 samples of 4 ns on a baseline of 1000 LSB with Gaussian noise of 2 LSB per sample,
    rounded and clipped to uint16.  A photo-electron adds a charge (the sum over samples of
    sample minus baseline) of 300 LSB on average, spread by a Gaussian of 30 % (truncated at
    zero).  The pulse is a difference of exponentials (rise constant 1.4 ns, i.e. a 10-90 %
    rise of about 3 ns, decay constant 20 ns) integrated over each 4 ns bin, so the binned
    pulse keeps its area.  It starts at a uniformly random point between samples 10 and 20.
    Time stamps follow a Poisson process through the run (whole seconds plus 4 ns ticks); the
    true time is ``trigger_time_s + trigger_time_ticks * 4e-9 + start``, in seconds since run
    start (the run has no time offsets).
Multi-PMT triggers
    A threshold fires only for a pulse, so every multi-PMT trigger has at least one
    photo-electron (the spectrum is conditioned on that).  With q the true charge in PE,
    ``adc_sample = round(4000 * (1 - exp(-q / 100)) + N(0, 2))``, ``time = true time + 5 ns +
    N(0, 1 ns)``, ``time_over_threshold = 10 ns * ln(1 + q / 0.25) + N(0, 0.5 ns)`` (not below 0).

Waveform channels are 0..n_channels-1, multi-PMT channels n_channels..2*n_channels-1.  The
photo-electron count is Poisson distributed (mean ``npe_mean``) or fixed.  The two kinds draw
from independent random streams, so adding multi-PMT triggers leaves the waveforms unchanged.

Channels
    Every channel has a PMT type, drawn uniformly from ``range(len(pmt_type_gains))``, and a
    gain: a waveform channel's mean single-PE charge is ``SPE_CHARGE_LSB`` times the relative
    gain of its type times a factor drawn uniformly from ``[1 - gain_spread, 1 + gain_spread]``.
    Multi-PMT channels keep gain 1 (their front end's response is its lookup table).  Both are
    drawn from a third random stream (or from ``detector_seed``), so they change nothing else,
    and with the defaults (one type of gain 1, no spread) every waveform is what it was without
    them.  The truth records
    them per channel number (``Truth.channel_gain``, ``Truth.channel_pmt_type``); the true
    charge stays in photo-electrons, whatever the gain.
Faults
    ``faults`` maps waveform channels to what is wrong with them, for testing diagnostics:
    ``inverted`` (the pulses go down from the baseline), ``drift`` (the waveforms' baseline
    climbs by ``DRIFT_LSB`` over the run and steps up by ``DRIFT_RECORD_LSB`` a quarter into each
    record, never to come back; the recorded baseline stays or, for ``shape="real"``, is
    taken from the first samples, ahead of the step), ``saturation``
    (the channel's gain is ``SATURATION_GAIN`` times higher and its samples clip at
    ``SATURATION_ABOVE_LSB`` above the baseline), ``dead`` (a constant baseline, no noise and
    no pulse).  The truth keeps the photo-electrons the channel would have seen.
Recording shapes
    ``shape="real"`` makes records like those of a SiPM digitizer: 406 samples on a baseline of
    45 LSB, the pulse starting between samples 100 and 140, and each trigger's recorded
    baseline the median of its first 16 samples (as ``orvane import`` computes it).
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from .._dtypes import MAX_TRIGGER_POSITIONS, MULTIPMT_TRIGGER_DTYPE, TARVO_TRIGGER_DTYPE
from ..files.triggerfile import SIMULATION_RUN_NUMBER, TriggerData, Truth, run_info_row

SECONDS_PER_TICK = 4e-9
TICKS_PER_SECOND = 250_000_000
SAMPLES_PER_WAVEFORM = 64
BASELINE_LSB = 1000.0
NOISE_LSB = 2.0
SPE_CHARGE_LSB = 300.0
SPE_RELATIVE_SPREAD = 0.3
RISE_TAU_NS = 1.4
DECAY_TAU_NS = 20.0
FIRST_PULSE_SAMPLE = 10
LAST_PULSE_SAMPLE = 20

#: Records shaped like a SiPM digitizer's (``shape="real"``).
REAL_SAMPLES = 406
REAL_BASELINE_LSB = 45.0
REAL_FIRST_PULSE_SAMPLE = 100
REAL_LAST_PULSE_SAMPLE = 140
REAL_BASELINE_SAMPLES = 16
SHAPES = ("short", "real")

#: Faults a waveform channel can be given (``SimulationConfig.faults``).
FAULTS = ("inverted", "drift", "saturation", "dead")
DRIFT_LSB = 30.0
DRIFT_RECORD_LSB = 20.0
SATURATION_GAIN = 8.0
SATURATION_ABOVE_LSB = 100.0

MULTIPMT_ADC_SCALE = 4000.0
MULTIPMT_ADC_PER_PE = 40.0
MULTIPMT_ADC_NOISE = 2.0
MULTIPMT_TIME_DELAY_S = 5e-9
MULTIPMT_TIME_JITTER_S = 1e-9
MULTIPMT_TOT_SCALE_S = 10e-9
MULTIPMT_TOT_CHARGE_PE = 0.25
MULTIPMT_TOT_NOISE_S = 0.5e-9

#: Bounds of a simulation: photo-electrons per trigger, channels of each kind (both kinds'
#: channel numbers, up to twice this, stay 32-bit signed), triggers, run length (uint32 seconds).
MAX_NPE = 1000
MAX_CHANNELS = 2**30
MAX_TRIGGERS = MAX_TRIGGER_POSITIONS
MAX_RUN_SECONDS = 2**32 - 1

# Waveforms are made this many at a time, to bound the memory of the per-bin intermediates.
_BLOCK = 32768


@dataclass(frozen=True)
class SimulationConfig:
    """What to simulate.

    Attributes
    ----------
    n_tarvo, n_multipmt:
        Number of waveform and of multi-PMT triggers.
    npe_mean:
        Mean of the Poisson distribution of photo-electrons per trigger.
    npe:
        When set, every trigger has exactly this many photo-electrons instead.
    rate_hz:
        Trigger rate of each kind, in Hz (the time stamps are a Poisson process).
    n_channels:
        Number of channels of each kind.
    run_number:
        Run number stored in the run information.
    seed:
        Seed of the random generator; None for a fresh one.
    gain_spread:
        Half-width of the uniform spread of the waveform channels' gains, relative (0.3 for
        +-30 %); below 1.
    pmt_type_gains:
        Relative mean gain of each PMT type; its length is the number of types.
    detector_seed:
        Seed of the channels' gains and PMT types, so that runs of one detector share them;
        None draws them from ``seed``.
    faults:
        ``(channel, fault)`` pairs: waveform channels with a fault (one of :data:`FAULTS`).
    shape:
        ``short`` (64 samples on 1000 LSB) or ``real`` (406 samples on 45 LSB).
    spe_spread:
        Spread of a single photo-electron's charge relative to its mean (the Gaussian's
        standard deviation; truncated at zero); below 1.
    """

    n_tarvo: int = 10_000
    n_multipmt: int = 0
    npe_mean: float = 1.5
    npe: int | None = None
    rate_hz: float = 10_000.0
    n_channels: int = 64
    run_number: int = SIMULATION_RUN_NUMBER
    seed: int | None = None
    gain_spread: float = 0.0
    pmt_type_gains: tuple[float, ...] = (1.0,)
    detector_seed: int | None = None
    faults: tuple[tuple[int, str], ...] = ()
    shape: str = "short"
    spe_spread: float = SPE_RELATIVE_SPREAD

    def check(self) -> None:
        """Raise ValueError for a configuration that cannot be simulated."""
        if self.n_tarvo < 0 or self.n_multipmt < 0:
            raise ValueError("the number of triggers must not be negative")
        if self.n_tarvo + self.n_multipmt > MAX_TRIGGERS:
            raise ValueError(
                f"{self.n_tarvo + self.n_multipmt} triggers are more than one run holds "
                f"(hit ids number at most {MAX_TRIGGERS} trigger positions)"
            )
        if self.npe is not None:
            if self.npe < 0:
                raise ValueError(f"the photo-electron count must not be negative, got {self.npe}")
            if self.npe > MAX_NPE:
                raise ValueError(
                    f"the photo-electron count must be at most {MAX_NPE} (waveforms saturate "
                    f"long before), got {self.npe}"
                )
            if self.npe == 0 and self.n_multipmt:
                raise ValueError(
                    "a fixed count of 0 photo-electrons allows no multi-PMT trigger (a "
                    "threshold does not fire without a pulse); ask for 0 multi-PMT triggers"
                )
        elif not (0 < self.npe_mean <= MAX_NPE):
            raise ValueError(
                f"the mean photo-electron count must be above 0 and at most {MAX_NPE} "
                f"(waveforms saturate long before), got {self.npe_mean}"
            )
        if not (self.rate_hz > 0 and np.isfinite(self.rate_hz)):
            raise ValueError(f"the trigger rate must be positive, got {self.rate_hz}")
        longest = max(self.n_tarvo, self.n_multipmt) / self.rate_hz
        if longest > MAX_RUN_SECONDS:
            raise ValueError(
                f"at {self.rate_hz} Hz the run would last {longest:.3g} s, beyond the "
                f"{MAX_RUN_SECONDS} s trigger time stamps hold; raise the rate"
            )
        if not 1 <= self.n_channels <= MAX_CHANNELS:
            raise ValueError(
                f"the number of channels must be 1 to {MAX_CHANNELS} (channel numbers of both "
                f"kinds are 32-bit signed), got {self.n_channels}"
            )
        if not 0 <= self.run_number < 2**32:
            raise ValueError(
                f"the run number must be 0 to {2**32 - 1} (hit ids hold 32 bits of it), got "
                f"{self.run_number}"
            )
        if self.seed is not None and self.seed < 0:
            raise ValueError(f"the seed must not be negative, got {self.seed}")
        if not 0 <= self.gain_spread < 1:
            raise ValueError(f"the gain spread must lie in [0, 1), got {self.gain_spread}")
        for channel, fault in self.faults:
            if fault not in FAULTS:
                raise ValueError(f"unknown fault {fault!r}: expected one of {', '.join(FAULTS)}")
            if not 0 <= channel < self.n_channels:
                raise ValueError(
                    f"a fault needs a waveform channel, 0 to {self.n_channels - 1}; got {channel}"
                )
        if self.shape not in SHAPES:
            raise ValueError(f"unknown recording shape {self.shape!r}: expected short or real")
        if not 0 <= self.spe_spread < 1:
            raise ValueError(
                f"the single photo-electron spread must lie in [0, 1), got {self.spe_spread}"
            )
        gains = np.asarray(self.pmt_type_gains, dtype=np.float64)
        if gains.ndim != 1 or len(gains) == 0 or not np.all((gains > 0) & np.isfinite(gains)):
            raise ValueError(
                f"the PMT type gains must be one or more positive numbers, got "
                f"{self.pmt_type_gains!r}"
            )


def simulate(config: SimulationConfig) -> TriggerData:
    """Simulate one run of triggers with their truth."""
    config.check()
    # A third stream for the channels: spawning it leaves the first two as they were.
    tarvo_rng, multipmt_rng, channel_rng = (
        np.random.default_rng(s) for s in np.random.SeedSequence(config.seed).spawn(3)
    )
    if config.detector_seed is not None:
        channel_rng = np.random.default_rng(config.detector_seed)
    channel_gain, channel_pmt_type = _simulate_channels(channel_rng, config)
    rows, samples, offsets, tarvo_truth = _simulate_tarvo(tarvo_rng, config, channel_gain)
    multipmt_rows, multipmt_truth = _simulate_multipmt(multipmt_rng, config)
    return TriggerData(
        run_info=run_info_row(config.run_number),
        tarvo_triggers=rows,
        tarvo_samples=samples,
        tarvo_offsets=offsets,
        multipmt_triggers=multipmt_rows,
        truth=Truth(
            *tarvo_truth,
            *multipmt_truth,
            channel_gain=channel_gain,
            channel_pmt_type=channel_pmt_type,
        ),
    )


def _simulate_channels(
    rng: np.random.Generator, config: SimulationConfig
) -> tuple[np.ndarray, np.ndarray]:
    """Gain (relative to ``SPE_CHARGE_LSB``) and PMT type of channels 0..2*n_channels-1."""
    n = config.n_channels
    type_gains = np.asarray(config.pmt_type_gains, dtype=np.float64)
    pmt_type = rng.integers(0, len(type_gains), 2 * n).astype(np.int32)
    spread = rng.uniform(1.0 - config.gain_spread, 1.0 + config.gain_spread, n)
    gain = np.ones(2 * n, dtype=np.float64)
    gain[:n] = type_gains[pmt_type[:n]] * spread
    return gain, pmt_type


def pulse_cdf(t_ns: np.ndarray) -> np.ndarray:
    """Fraction of a pulse's charge that has arrived ``t_ns`` after it started."""
    t = np.maximum(t_ns, 0.0)
    tail = DECAY_TAU_NS * np.exp(-t / DECAY_TAU_NS) - RISE_TAU_NS * np.exp(-t / RISE_TAU_NS)
    return 1.0 - tail / (DECAY_TAU_NS - RISE_TAU_NS)


def binned_pulses(start_ns: np.ndarray, n_samples: int = SAMPLES_PER_WAVEFORM) -> np.ndarray:
    """Charge fraction in each 4 ns sample of unit pulses starting at ``start_ns``: (n, samples)."""
    edges = np.arange(n_samples + 1, dtype=np.float64) * (SECONDS_PER_TICK * 1e9)
    return np.diff(pulse_cdf(edges[np.newaxis, :] - start_ns[:, np.newaxis]), axis=1)


def _npe(rng: np.random.Generator, config: SimulationConfig, n: int, at_least_one: bool):
    if config.npe is not None:
        return np.full(n, config.npe, dtype=np.int32)
    mu = config.npe_mean
    if not at_least_one:
        return rng.poisson(mu, n).astype(np.int32)
    # Poisson conditioned on >= 1: the first arrival of a Poisson process on [0, mu], given
    # that there is one, is exponential truncated to [0, mu]; the rest is Poisson(mu - first).
    first = -np.log(rng.uniform(np.exp(-mu), 1.0, n))
    return (1 + rng.poisson(np.maximum(mu - first, 0.0))).astype(np.int32)


def _charges_lsb(
    rng: np.random.Generator, npe: np.ndarray, spread: float = SPE_RELATIVE_SPREAD
) -> np.ndarray:
    """Sum of ``npe`` single photo-electron charges per trigger, in LSB."""
    total = int(npe.sum())
    gains = rng.normal(SPE_CHARGE_LSB, spread * SPE_CHARGE_LSB, total)
    negative = gains < 0
    while negative.any():  # truncate at zero by drawing again
        gains[negative] = rng.normal(SPE_CHARGE_LSB, spread * SPE_CHARGE_LSB, int(negative.sum()))
        negative = gains < 0
    owner = np.repeat(np.arange(len(npe)), npe)
    return np.bincount(owner, weights=gains, minlength=len(npe))


def _fault_channels(config: SimulationConfig, fault: str) -> np.ndarray:
    return np.array([c for c, f in config.faults if f == fault], dtype=np.int64)


def _simulate_tarvo(
    rng: np.random.Generator, config: SimulationConfig, channel_gain: np.ndarray
) -> tuple[np.ndarray, np.ndarray, np.ndarray, tuple[np.ndarray, np.ndarray, np.ndarray]]:
    n = config.n_tarvo
    real = config.shape == "real"
    n_samples = REAL_SAMPLES if real else SAMPLES_PER_WAVEFORM
    baseline = REAL_BASELINE_LSB if real else BASELINE_LSB
    first, last = (
        (REAL_FIRST_PULSE_SAMPLE, REAL_LAST_PULSE_SAMPLE)
        if real
        else (FIRST_PULSE_SAMPLE, LAST_PULSE_SAMPLE)
    )
    npe = _npe(rng, config, n, at_least_one=False)
    charge_lsb = _charges_lsb(rng, npe, config.spe_spread)
    tick_ns = SECONDS_PER_TICK * 1e9
    start_ns = rng.uniform(first * tick_ns, last * tick_ns, n)
    gaps = np.rint(rng.exponential(1.0 / (config.rate_hz * SECONDS_PER_TICK), n))
    ticks = np.cumsum(np.maximum(gaps, 1.0).astype(np.int64))

    rows = np.zeros(n, dtype=TARVO_TRIGGER_DTYPE)
    rows["channel"] = rng.integers(0, config.n_channels, n)
    rows["trigger_time_s"] = ticks // TICKS_PER_SECOND
    rows["trigger_time_ticks"] = ticks % TICKS_PER_SECOND
    rows["baseline"] = baseline
    # The charge seen by the digitizer; the truth keeps it in photo-electrons.
    true_charge = charge_lsb / SPE_CHARGE_LSB
    charge_lsb = charge_lsb * channel_gain[rows["channel"]]

    # Faults: a sign, a gain, a clip, a baseline shift per trigger, dead triggers.
    channel = rows["channel"].astype(np.int64)
    sign = np.where(np.isin(channel, _fault_channels(config, "inverted")), -1.0, 1.0)
    saturating = np.isin(channel, _fault_channels(config, "saturation"))
    charge_lsb = np.where(saturating, charge_lsb * SATURATION_GAIN, charge_lsb)
    drifting = np.isin(channel, _fault_channels(config, "drift"))
    progress = ticks / max(float(ticks[-1]), 1.0) if n else np.zeros(0)
    shift = np.where(drifting, DRIFT_LSB * progress, 0.0)
    dead = np.isin(channel, _fault_channels(config, "dead"))
    clip_high = np.where(
        saturating, baseline + SATURATION_ABOVE_LSB, float(np.iinfo(np.uint16).max)
    )

    samples = np.empty((n, n_samples), dtype=np.uint16)
    intsum = np.empty(n, dtype=np.float64)
    block = max(1, _BLOCK * SAMPLES_PER_WAVEFORM // n_samples)
    for lo in range(0, n, block):
        hi = min(lo + block, n)
        values = charge_lsb[lo:hi, np.newaxis] * binned_pulses(start_ns[lo:hi], n_samples)
        values *= sign[lo:hi, np.newaxis]
        values += rng.standard_normal(values.shape) * NOISE_LSB
        values += baseline + shift[lo:hi, np.newaxis]
        step = np.where(np.arange(n_samples) >= n_samples // 4, DRIFT_RECORD_LSB, 0.0)
        values[drifting[lo:hi]] += step
        values[dead[lo:hi]] = baseline
        np.rint(values, out=values)
        np.clip(values, 0, clip_high[lo:hi, np.newaxis], out=values)
        samples[lo:hi] = values
        if real:
            rows["baseline"][lo:hi] = np.median(values[:, :REAL_BASELINE_SAMPLES], axis=1)
        intsum[lo:hi] = values.sum(axis=1) - n_samples * rows["baseline"][lo:hi]
    rows["intsum"] = intsum

    # The same arithmetic as the waveform extractor's trigger time, plus the pulse start.
    trigger_time = rows["trigger_time_s"].astype(np.float64) + rows["trigger_time_ticks"] * (
        SECONDS_PER_TICK
    )
    time = np.where(npe > 0, trigger_time + start_ns * 1e-9, np.nan)
    offsets = np.arange(n + 1, dtype=np.int64) * n_samples
    truth = (npe, true_charge, time)
    return rows, samples.reshape(-1), offsets, truth


def _simulate_multipmt(
    rng: np.random.Generator, config: SimulationConfig
) -> tuple[np.ndarray, tuple[np.ndarray, np.ndarray, np.ndarray]]:
    n = config.n_multipmt
    npe = _npe(rng, config, n, at_least_one=True)
    charge = _charges_lsb(rng, npe, config.spe_spread) / SPE_CHARGE_LSB
    time = np.cumsum(rng.exponential(1.0 / config.rate_hz, n))

    adc = MULTIPMT_ADC_SCALE * -np.expm1(-charge * MULTIPMT_ADC_PER_PE / MULTIPMT_ADC_SCALE)
    adc += rng.normal(0.0, MULTIPMT_ADC_NOISE, n)
    tot = MULTIPMT_TOT_SCALE_S * np.log1p(charge / MULTIPMT_TOT_CHARGE_PE)
    tot += rng.normal(0.0, MULTIPMT_TOT_NOISE_S, n)

    rows = np.zeros(n, dtype=MULTIPMT_TRIGGER_DTYPE)
    rows["time"] = time + MULTIPMT_TIME_DELAY_S + rng.normal(0.0, MULTIPMT_TIME_JITTER_S, n)
    rows["channel"] = config.n_channels + rng.integers(0, config.n_channels, n)
    rows["time_over_threshold"] = np.maximum(tot, 0.0)
    rows["adc_sample"] = np.clip(np.rint(adc), 0, np.iinfo(np.uint16).max)
    return rows, (npe, charge, time)
