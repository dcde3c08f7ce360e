"""Draw docs/calibrate.png: one channel fitted in each mode, from simulated data.

Run: ``PYTHONPATH=python python scripts/calibrate_figure.py [OUTPUT]``.
"""

from __future__ import annotations

import sys

from orvane_tools._resources import PULSE_FINDER_SETTINGS_NAME, example_settings
from orvane_tools.calibration.driver import fill_spectra
from orvane_tools.calibration.fit import FitOptions, fit_spectrum
from orvane_tools.plots.common import save_png, small_multiples
from orvane_tools.plots.spe import draw_spectrum
from orvane_tools.simulation.pulsetrain import PulseTrainConfig, simulate_pulse_trains
from orvane_tools.simulation.simulate import SimulationConfig, simulate


def main() -> None:
    output = sys.argv[1] if len(sys.argv) > 1 else "docs/calibrate.png"
    light = simulate(SimulationConfig(n_tarvo=20_000, n_channels=1, npe_mean=1.5, seed=11))
    dark, _ = simulate_pulse_trains(
        PulseTrainConfig(
            n_triggers=6000,
            n_samples=256,
            max_pulses=3,
            npe=1,
            crosstalk=0.1,
            n_channels=1,
            seed=12,
        )
    )
    panels = [
        ("pedestal mode: triggered light, 1.5 PE on average", light, "settings.yaml", "pedestal"),
        (
            "dark mode: dark counts found by the pulse finder",
            dark,
            PULSE_FINDER_SETTINGS_NAME,
            "dark",
        ),
    ]
    figure, axes = small_multiples(2, ncols=2, panel_size=(6.4, 4.2), titles=[p[0] for p in panels])
    # Two panels: a tight layout is cheap, and the grid's fixed margins would cut off the
    # legends beside the panels.
    figure.orvane_fixed_layout = False
    for ax, (_, data, settings, mode) in zip(axes, panels):
        spectra = fill_spectra(example_settings(settings), [data])
        fit = fit_spectrum(
            0, spectra.edges, spectra.counts[0], spectra.entries[0], FitOptions(mode)
        )
        draw_spectrum(ax, fit, log=True, legend=True)
        ax.set_xlabel("waveform_integral [LSB * samples]")
    save_png(figure, output)
    print(f"wrote {output}")


if __name__ == "__main__":
    main()
