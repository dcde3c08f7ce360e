"""The old path of the demo, :mod:`orvane_tools.simulation.demo`, and its figure,
:mod:`orvane_tools.plots.demo`, kept importable."""

from typing import Any

from .plots import demo as _figure
from .plots.demo import *
from .simulation import demo as _moved
from .simulation.demo import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    if hasattr(_figure, name):
        return getattr(_figure, name)
    return getattr(_moved, name)
