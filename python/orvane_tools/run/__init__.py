"""Reconstruction runs: trigger files into hit files, streamed, locally or on a Dask cluster.

:mod:`~orvane_tools.run.engine` plans the inputs and outputs and runs the chunks, in this
process or as tasks on a cluster; :mod:`~orvane_tools.run.reconstruct` reconstructs triggers
held in memory.  The names of :mod:`~orvane_tools.run.engine` are importable from here, as
they were from the single module this package replaced.
"""

from .engine import *
