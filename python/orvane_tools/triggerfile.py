"""The old path of :mod:`orvane_tools.files.triggerfile`, kept importable."""

from .files.triggerfile import *
