"""Companion tools of the ``orvane`` extension module.

The ``orvane`` command (:mod:`orvane_tools.cli`), a waveform and multi-PMT trigger simulator
(:mod:`orvane_tools.simulate`), trigger files (:mod:`orvane_tools.triggerfile`), hit files
(:mod:`orvane_tools.hitfile`), chunked reconstruction in memory
(:mod:`orvane_tools.reconstruct`), streamed reconstruction of trigger files into hit files,
locally or on a Dask cluster (:func:`orvane_tools.run.reconstruct_files`), import of
digitizer files (:func:`orvane_tools.importers.import_files`) with baselines from each
waveform's first samples (:mod:`orvane_tools.baseline`), long waveforms with several pulses
(:mod:`orvane_tools.pulsetrain`), and the demo (:mod:`orvane_tools.demo`).  Only
reconstruction imports the extension; simulating and reading or writing files need NumPy
alone.  Simulate with ``orvane_tools.simulate.simulate(SimulationConfig(...))``.
"""

from __future__ import annotations

from ._dtypes import (
    HIT_DTYPE,
    HIT_FEATURES_DTYPE,
    MULTIPMT_TRIGGER_DTYPE,
    RUN_INFO_DTYPE,
    TARVO_TRIGGER_DTYPE,
)
from ._errors import UserError
from .baseline import first_samples_baseline, set_baseline_from_samples
from .hitfile import read_hit_file, read_hits_with_provenance, write_hit_file
from .importers import ImportOptions, import_files
from .run import reconstruct_files
from .simulate import SimulationConfig
from .triggerfile import (
    TriggerData,
    TriggerFileError,
    Truth,
    read_trigger_file,
    write_trigger_file,
)

try:
    from importlib.metadata import PackageNotFoundError, version

    __version__ = version("orvane")
except PackageNotFoundError:  # running from a source tree
    __version__ = "0+unknown"

__all__ = [
    "HIT_DTYPE",
    "HIT_FEATURES_DTYPE",
    "MULTIPMT_TRIGGER_DTYPE",
    "RUN_INFO_DTYPE",
    "TARVO_TRIGGER_DTYPE",
    "ImportOptions",
    "SimulationConfig",
    "TriggerData",
    "TriggerFileError",
    "Truth",
    "UserError",
    "__version__",
    "first_samples_baseline",
    "import_files",
    "read_hit_file",
    "read_hits_with_provenance",
    "read_trigger_file",
    "reconstruct_files",
    "set_baseline_from_samples",
    "write_hit_file",
    "write_trigger_file",
]
