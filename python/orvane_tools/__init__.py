"""Companion tools of the ``orvane`` extension module.

The package is laid out by role:

``files``
    Trigger files (:mod:`~orvane_tools.files.triggerfile`), hit files
    (:mod:`~orvane_tools.files.hitfile`) and their provenance, channel tables, the settings
    check, import of digitizer files (:func:`~orvane_tools.files.importers.import_files`) with
    baselines from each waveform's first samples (:mod:`~orvane_tools.files.baseline`).
``simulation``
    The waveform and multi-PMT trigger simulator (:mod:`~orvane_tools.simulation.simulate`),
    long waveforms with several pulses (:mod:`~orvane_tools.simulation.pulsetrain`) and the
    demo (:mod:`~orvane_tools.simulation.demo`).
``plots``
    Figures (matplotlib): the demo's charge spectrum, a calibration's spectra and fits, and the
    run report (:func:`orvane_tools.report`, a web page of per-channel diagnostics with
    warnings).
``calibration``
    Calibration from the data (:func:`~orvane_tools.calibration.calibrate`, also importable
    as ``orvane_tools.calibrate``): each channel's photo-electron spectrum fitted, the channel
    table written.
``run``
    Chunked reconstruction in memory (:mod:`~orvane_tools.run.reconstruct`) and streamed
    reconstruction of trigger files into hit files, locally or on a Dask cluster
    (:func:`orvane_tools.run.reconstruct_files`).
``commands``
    The subcommands of the ``orvane`` command (:mod:`orvane_tools.cli`), one module each.

The module paths of the flat layout before it (``orvane_tools.triggerfile``,
``orvane_tools.simulate``, ``orvane_tools.reconstruct`` ...) still import.  Only
reconstruction imports the extension; simulating and reading or writing files need NumPy
alone.  Simulate with ``orvane_tools.simulation.simulate.simulate(SimulationConfig(...))``.
"""

from __future__ import annotations

from ._dtypes import (
    HIT_DTYPE,
    HIT_FEATURES_DTYPE,
    MULTIPMT_TRIGGER_DTYPE,
    RUN_INFO_DTYPE,
    TARVO_TRIGGER_DTYPE,
    HitIds,
    decode_hit_ids,
)
from ._errors import UserError
from .calibration import calibrate
from .files.baseline import first_samples_baseline, set_baseline_from_samples
from .files.hitfile import read_hit_file, read_hits_with_provenance, write_hit_file
from .files.importers import ImportOptions, import_files
from .files.triggerfile import (
    TriggerData,
    TriggerFileError,
    Truth,
    read_trigger_file,
    write_trigger_file,
)
from .plots.report import ReportOptions
from .plots.report import write_report as report
from .run import reconstruct_files
from .simulation.simulate import SimulationConfig

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
    "HitIds",
    "ImportOptions",
    "ReportOptions",
    "SimulationConfig",
    "TriggerData",
    "TriggerFileError",
    "Truth",
    "UserError",
    "__version__",
    "calibrate",
    "decode_hit_ids",
    "first_samples_baseline",
    "import_files",
    "read_hit_file",
    "read_hits_with_provenance",
    "read_trigger_file",
    "reconstruct_files",
    "report",
    "set_baseline_from_samples",
    "write_hit_file",
    "write_trigger_file",
]
