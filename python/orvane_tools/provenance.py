"""The old path of :mod:`orvane_tools.files.provenance`, kept importable."""

from typing import Any

from .files import provenance as _moved
from .files.provenance import *


def __getattr__(name: str) -> Any:
    # What the old module held besides its public names: constants, private helpers.
    return getattr(_moved, name)
