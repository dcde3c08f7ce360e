"""The example settings and lookup table shipped with the package."""

from __future__ import annotations

from importlib import resources
from pathlib import Path

from ._errors import UserError

SETTINGS_NAME = "settings.yaml"
#: Example settings of the pulse finder, for long waveforms with several pulses.
PULSE_FINDER_SETTINGS_NAME = "pulse_finder.yaml"


def example_settings(name: str = SETTINGS_NAME) -> Path:
    """Path of the example settings file ``name``; its lookup table lies beside it.

    An installed package holds the examples in ``orvane_tools/examples``; when the package is
    run from a source checkout, the tree's ``examples`` directory is used instead.
    """
    installed = Path(str(resources.files("orvane_tools"))) / "examples" / name
    if installed.is_file():
        return installed
    checkout = Path(__file__).resolve().parents[2] / "examples" / name
    if checkout.is_file():
        return checkout
    raise UserError(
        f"the example settings are missing: neither {installed} nor {checkout} exists; "
        "reinstall the package"
    )
