"""The old path of :mod:`orvane_tools.files.channels`, kept importable."""

from .files.channels import *
