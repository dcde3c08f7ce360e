"""Access to the extension module ``orvane``, imported only when reconstruction needs it."""

from __future__ import annotations

import types

import numpy as np

from ._dtypes import (
    HIT_DTYPE,
    HIT_FEATURES_DTYPE,
    MULTIPMT_TRIGGER_DTYPE,
    TARVO_TRIGGER_DTYPE,
)
from ._errors import UserError

#: Row types the extension registers, and the layouts this package writes them in.
EXTENSION_DTYPES = {
    "hit_dtype": HIT_DTYPE,
    "hit_features_dtype": HIT_FEATURES_DTYPE,
    "tarvo_trigger_dtype": TARVO_TRIGGER_DTYPE,
    "multipmt_trigger_dtype": MULTIPMT_TRIGGER_DTYPE,
}


def load_extension() -> types.ModuleType:
    """Import ``orvane``, with a message that says what to do when it is missing."""
    try:
        import orvane
    except ImportError as exc:
        raise UserError(
            "the extension module 'orvane' cannot be imported; install the package with "
            "'pip install .' from the source tree"
        ) from exc
    return orvane


def check_extension_dtypes(orvane: types.ModuleType) -> None:
    """Fail if a row type of the extension differs from the layout files are written in."""
    for name, ours in EXTENSION_DTYPES.items():
        theirs = getattr(orvane, name, None)
        if theirs is not None and np.dtype(theirs) != ours:
            raise RuntimeError(f"orvane.{name} is {np.dtype(theirs)}, expected {ours}")


def run_info_object(orvane: types.ModuleType, row: np.ndarray) -> object:
    """An ``orvane.RunInfo`` holding the values of one run information row."""
    info = orvane.RunInfo()
    info.run_number = int(row["run_number"])
    info.time_offset_s = int(row["time_offset_s"])
    info.time_offset_ns = int(row["time_offset_ns"])
    info.run_start_time_ns = int(row["run_start_time_ns"])
    return info
