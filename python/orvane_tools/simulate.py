"""The old path of :mod:`orvane_tools.simulation.simulate`, kept importable."""

from typing import Any

from .simulation import simulate as _moved
from .simulation.simulate import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
