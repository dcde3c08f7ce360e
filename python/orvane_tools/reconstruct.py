"""The old path of :mod:`orvane_tools.run.reconstruct`, kept importable."""

from .run.reconstruct import *
