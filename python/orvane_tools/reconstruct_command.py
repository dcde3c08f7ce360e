"""The old path of :mod:`orvane_tools.commands.reconstruct`, kept importable."""

from typing import Any

from .commands import reconstruct as _moved
from .commands.reconstruct import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
