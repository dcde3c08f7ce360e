"""The old path of :mod:`orvane_tools.files.settings`, kept importable."""

from .files.settings import *
