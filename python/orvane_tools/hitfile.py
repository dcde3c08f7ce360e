"""The old path of :mod:`orvane_tools.files.hitfile`, kept importable."""

from typing import Any

from .files import hitfile as _moved
from .files.hitfile import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
