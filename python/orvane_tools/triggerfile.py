"""The old path of :mod:`orvane_tools.files.triggerfile`, kept importable."""

from typing import Any

from .files import triggerfile as _moved
from .files.triggerfile import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
