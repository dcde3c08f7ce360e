"""The old path of :mod:`orvane_tools.simulation.pulsetrain`, kept importable."""

from typing import Any

from .simulation import pulsetrain as _moved
from .simulation.pulsetrain import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
