"""How well and how fast ``orvane calibrate`` finds each channel's gain, against simulated truth.

1. Triggered light (pedestal mode): simulated runs of 64 channels whose gains spread by +-30 %,
   20 000 triggers per channel, for several mean photo-electron counts and single
   photo-electron widths; extraction with the example settings (single-pulse extractor over
   the whole record).  Prints the channels calibrated, the median and largest |gain error|, and
   the standard deviation of the pulls (fitted - true) / uncertainty; and the time to fill the
   histograms beside the time of the extraction alone.
2. Dark counts (dark mode): long waveforms of single photo-electrons with 10 % cross talk,
   found by the pulse finder (example pulse-finder settings), 64 channels.
3. Speed: 1 000 channels' histograms (drawn from the model) fitted in this process.

Times are the CPU seconds of this process (one core: extraction and fits run in this
thread), so that other work on the machine does not count.

Run: ``PYTHONPATH=python python benchmarks/bench_calibrate.py`` (``--quick`` for fewer cases).
"""

from __future__ import annotations

import argparse
import time

import numpy as np

from orvane_tools._extension import load_extension, run_info_object
from orvane_tools._resources import PULSE_FINDER_SETTINGS_NAME, example_settings
from orvane_tools.calibration.driver import extraction_settings, fill_spectra
from orvane_tools.calibration.fit import FitOptions, fit_spectra
from orvane_tools.calibration.histograms import SpectrumFiller
from orvane_tools.simulation.pulsetrain import PulseTrainConfig, simulate_pulse_trains
from orvane_tools.simulation.simulate import SPE_CHARGE_LSB, SimulationConfig, simulate

CHANNELS = 64
PER_CHANNEL = 20_000


def _figures(fits, true_gain):
    ok = [f for f in fits if f.ok]
    gain = np.array([f.gain for f in ok])
    error = np.array([f.gain_uncertainty for f in ok])
    truth = np.array([true_gain[f.channel] for f in ok])
    relative = gain / truth - 1.0
    pulls = (gain - truth) / error
    return {
        "calibrated": f"{len(ok)}/{len(fits)}",
        "median |err| %": f"{100 * np.median(np.abs(relative)):.3f}",
        "max |err| %": f"{100 * np.max(np.abs(relative)):.3f}",
        "median err %": f"{100 * np.median(relative):+.3f}",
        "pull std": f"{np.std(pulls):.2f}",
        "pull mean": f"{np.mean(pulls):+.2f}",
        "median unc. %": f"{100 * np.median(error / gain):.2f}",
    }


def _extraction_seconds(settings, data, chunk=65536):
    """Extraction alone, chunk by chunk as the histogramming does it."""
    import tempfile
    from pathlib import Path

    orvane = load_extension()
    with tempfile.TemporaryDirectory() as raw:
        extractor = orvane.FeatureExtractor(str(extraction_settings(settings, Path(raw))))
    run_info = run_info_object(orvane, data.run_info[0])
    start = time.process_time()
    for lo in range(0, data.n_tarvo, chunk):
        hi = min(lo + chunk, data.n_tarvo)
        first, last = data.tarvo_offsets[lo], data.tarvo_offsets[hi]
        extractor.extract_tarvo_numpy(
            data.tarvo_triggers[lo:hi],
            data.tarvo_samples[first:last],
            offsets=data.tarvo_offsets[lo : hi + 1] - first,
            run_info=run_info,
        )
    return time.process_time() - start


def _print_table(title, rows):
    print(f"\n{title}")
    keys = list(rows[0][1])
    width = max(len(label) for label, _ in rows)
    print(" " * width + "".join(f"{k:>16}" for k in keys))
    for label, row in rows:
        print(f"{label:<{width}}" + "".join(f"{row[k]:>16}" for k in keys))


def pedestal_mode(cases, seed=1):
    rows = []
    timing = []
    for mu, width in cases:
        config = SimulationConfig(
            n_tarvo=CHANNELS * PER_CHANNEL,
            n_channels=CHANNELS,
            npe_mean=mu,
            gain_spread=0.3,
            spe_spread=width,
            seed=seed,
            detector_seed=seed + 100,
        )
        data = simulate(config)
        true_gain = data.truth.channel_gain * SPE_CHARGE_LSB
        settings = example_settings()
        start = time.process_time()
        spectra = fill_spectra(settings, [data])
        fill = time.process_time() - start
        extract = _extraction_seconds(settings, data)
        start = time.process_time()
        fits = fit_spectra(spectra, FitOptions(), jobs=1)
        fit_time = time.process_time() - start
        rows.append((f"mean {mu} PE, SPE width {width:.0%}", _figures(fits, true_gain)))
        timing.append(
            (
                f"mean {mu} PE, SPE width {width:.0%}",
                {
                    "triggers": f"{data.n_tarvo}",
                    "extract s": f"{extract:.2f}",
                    "extract+fill s": f"{fill:.2f}",
                    "fit 64 ch. s": f"{fit_time:.2f}",
                },
            )
        )
    _print_table("pedestal mode: 64 channels, gains +-30 %, 20 000 triggers each", rows)
    _print_table("time of the histogramming beside the extraction alone", timing)


def dark_mode(seed=2, records=6000):
    config = PulseTrainConfig(
        n_triggers=CHANNELS * records,
        n_samples=256,
        min_pulses=1,
        max_pulses=3,
        npe=1,
        crosstalk=0.1,
        n_channels=CHANNELS,
        gain_spread=0.3,
        seed=seed,
        detector_seed=seed + 100,
    )
    data, _ = simulate_pulse_trains(config)
    true_gain = data.truth.channel_gain * SPE_CHARGE_LSB
    spectra = fill_spectra(example_settings(PULSE_FINDER_SETTINGS_NAME), [data])
    start = time.process_time()
    fits = fit_spectra(spectra, FitOptions(mode="dark"), jobs=1)
    seconds = time.process_time() - start
    pulses = int(np.median(spectra.entries))
    label = f"dark counts, 10 % cross talk, {pulses} pulses/channel ({seconds:.1f} s)"
    _print_table(
        "dark mode: pulse finder on long waveforms, 64 channels",
        [(label, _figures(fits, true_gain))],
    )


def fit_speed(n_channels=1000, entries=PER_CHANNEL, seed=3):
    rng = np.random.default_rng(seed)
    filler = SpectrumFiller("waveform_integral", value_range=(-200.0, 6000.0))
    gains = SPE_CHARGE_LSB * rng.uniform(0.7, 1.3, n_channels)
    for channel, gain in enumerate(gains):
        npe = rng.poisson(rng.uniform(0.5, 2.0), entries)
        sigma = np.sqrt(16.0**2 + npe * (0.35 * gain) ** 2)
        values = np.rint(rng.normal(npe * gain, sigma))
        filler.fill(np.full(entries, channel), values)
    spectra = filler.result()
    start = time.process_time()
    fits = fit_spectra(spectra, FitOptions(), jobs=1)
    seconds = time.process_time() - start
    figures = _figures(fits, dict(enumerate(gains)))
    figures["seconds"] = f"{seconds:.1f}"
    figures["ms/channel"] = f"{1000 * seconds / n_channels:.1f}"
    _print_table(
        f"speed: {n_channels} channels fitted on one core", [("model histograms", figures)]
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one pedestal case, 200 channels")
    args = parser.parse_args()
    cases = [(1.0, 0.35)] if args.quick else [(0.5, 0.30), (1.0, 0.35), (2.0, 0.40)]
    pedestal_mode(cases)
    dark_mode()
    fit_speed(200 if args.quick else 1000)


if __name__ == "__main__":
    main()
