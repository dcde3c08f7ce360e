"""The old path of :mod:`orvane_tools.simulation.pulsetrain`, kept importable."""

from .simulation.pulsetrain import *
