"""The old path of :mod:`orvane_tools.commands.reconstruct`, kept importable."""

from .commands.reconstruct import *
