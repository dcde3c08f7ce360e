"""The old path of the demo: :mod:`orvane_tools.simulation.demo` and its figure,
:mod:`orvane_tools.plots.demo`, kept importable."""

from .plots.demo import *
from .simulation.demo import *
