"""The old path of :mod:`orvane_tools.run.reconstruct`, kept importable."""

from typing import Any

from .run import reconstruct as _moved
from .run.reconstruct import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
