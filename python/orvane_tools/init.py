"""The old path of :mod:`orvane_tools.commands.init`, kept importable."""

from .commands.init import *
