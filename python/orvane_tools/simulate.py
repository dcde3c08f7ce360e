"""The old path of :mod:`orvane_tools.simulation.simulate`, kept importable."""

from .simulation.simulate import *
