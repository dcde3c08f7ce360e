"""The old path of :mod:`orvane_tools.files.importers`, kept importable."""

from .files.importers import *
