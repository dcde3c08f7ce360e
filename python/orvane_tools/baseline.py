"""The old path of :mod:`orvane_tools.files.baseline`, kept importable."""

from typing import Any

from .files import baseline as _moved
from .files.baseline import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
