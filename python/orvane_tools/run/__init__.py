"""Reconstruction runs: trigger files into hit files, streamed, locally or on a Dask cluster.

:func:`reconstruct_files` (:mod:`.engine`) plans the run (:mod:`.planning`), runs its chunks
in this process (:mod:`.local`) or as tasks on a cluster (:mod:`.cluster`), writes each hit
file with its provenance (:mod:`.outputs`) and puts the outputs in place only when every input
is done.  :mod:`.reconstruct` reconstructs triggers held in memory.  Every road reconstructs
through the one chunk iterator of :mod:`.chunks`, over a trigger file or triggers in memory.  The names the single
module this package replaced offered are importable from here.
"""

from .cluster import TASK_TRIGGERS as TASK_TRIGGERS
from .engine import *
from .planning import DEFAULT_FORMAT as DEFAULT_FORMAT
from .planning import MAX_RUN_NUMBER as MAX_RUN_NUMBER
from .reconstruct import DEFAULT_CHUNK_SIZE as DEFAULT_CHUNK_SIZE
