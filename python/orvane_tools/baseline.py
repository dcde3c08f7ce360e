"""The old path of :mod:`orvane_tools.files.baseline`, kept importable."""

from .files.baseline import *
