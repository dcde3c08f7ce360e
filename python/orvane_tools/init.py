"""The old path of :mod:`orvane_tools.commands.init`, kept importable."""

from typing import Any

from .commands import init as _moved
from .commands.init import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
