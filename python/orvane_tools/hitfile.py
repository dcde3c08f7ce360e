"""The old path of :mod:`orvane_tools.files.hitfile`, kept importable."""

from .files.hitfile import *
