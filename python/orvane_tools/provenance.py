"""The old path of :mod:`orvane_tools.files.provenance`, kept importable."""

from .files.provenance import *
