"""NumPy row types shared with the extension module ``orvane``.

The same layouts are registered by the extension (``orvane.tarvo_trigger_dtype`` and friends);
they are spelled out here so that trigger files can be written and read without it.  The test
suite checks that both spellings agree.
"""

from __future__ import annotations

import operator
from typing import NamedTuple

import numpy as np
from numpy.typing import ArrayLike


def field_names(dtype: np.dtype) -> tuple[str, ...]:
    """The field names of a structured row type (a dtype without fields is a TypeError)."""
    if dtype.names is None:
        raise TypeError(f"{dtype} is not a structured dtype: it has no fields")
    return dtype.names


#: One waveform trigger without its samples (which live in a flat array beside the rows).
TARVO_TRIGGER_DTYPE = np.dtype(
    {
        "names": ["channel", "trigger_time_s", "trigger_time_ticks", "baseline", "intsum"],
        "formats": ["<i4", "<u4", "<u4", "<f4", "<f4"],
        "offsets": [0, 4, 8, 12, 16],
        "itemsize": 20,
    }
)

#: One multi-PMT trigger.
MULTIPMT_TRIGGER_DTYPE = np.dtype(
    {
        "names": ["time", "channel", "time_over_threshold", "adc_sample"],
        "formats": ["<f8", "<i4", "<f8", "<u2"],
        "offsets": [0, 8, 16, 24],
        "itemsize": 32,
    }
)

#: One hit; ``id`` holds the 64 bits of the unsigned hit id, read as signed.
HIT_DTYPE = np.dtype(
    {
        "names": ["channel", "id", "time", "charge", "time_uncertainty", "charge_uncertainty"],
        "formats": ["<i4", "<i8", "<f8", "<f8", "<f8", "<f8"],
        "offsets": [0, 8, 16, 24, 32, 40],
        "itemsize": 48,
    }
)

#: One feature record; -1 (integers) and NaN (floats) mark an unset feature.
HIT_FEATURES_DTYPE = np.dtype(
    {
        "names": [
            "channel",
            "pmt_type",
            "id",
            "trigger_time",
            "waveform_integral",
            "time_over_threshold",
            "adc_sample",
            "rising_edge_time",
        ],
        "formats": ["<i4", "<i4", "<i8", "<f8", "<f8", "<f8", "<f8", "<f8"],
        "offsets": [0, 4, 8, 16, 24, 32, 40, 48],
        "itemsize": 56,
    }
)

#: The run a trigger file belongs to (one row).
RUN_INFO_DTYPE = np.dtype(
    [
        ("run_number", "<u8"),
        ("time_offset_s", "<u8"),
        ("time_offset_ns", "<u8"),
        ("run_start_time_ns", "<i8"),
    ]
)

#: Position of the run number and of the trigger position in a hit id.
RUN_ID_SHIFT = 32
TRIGGER_INDEX_SHIFT = 4
#: Number of trigger positions the 28-bit trigger field of a hit id holds.
MAX_TRIGGER_POSITIONS = 1 << 28


class HitIds(NamedTuple):
    """The fields of hit ids, one array each (the shape of the ids)."""

    #: Bits 63..32 (uint64), as ``orvane.RunInfo.run_number_from_id``.
    run_number: np.ndarray
    #: Bits 31..4 (int64), as ``orvane.RunInfo.trigger_index_from_id``.
    trigger_position: np.ndarray
    #: Bits 3..0 (int64): the record of the trigger the hit was made from.
    record: np.ndarray


def _id_bits(hit_ids: ArrayLike) -> np.ndarray:
    ids = np.asarray(hit_ids)
    if not isinstance(hit_ids, np.ndarray) and ids.dtype.kind in "fO":
        # Python integers above 2**63 among them: taken one by one, refusing anything else.
        values = np.asarray(hit_ids, dtype=object)
        ids = np.array([operator.index(v) for v in values.ravel()], np.uint64).reshape(values.shape)
    if ids.dtype == np.uint64:
        return ids
    if ids.dtype.kind not in "iu":
        raise TypeError(f"hit ids must be integers, got an array of {ids.dtype}")
    # The id column of hit rows holds the 64 bits read as signed: the same bits, unsigned.
    return ids.astype(np.int64, copy=False).view(np.uint64)


def decode_hit_ids(hit_ids: ArrayLike) -> HitIds:
    """Run number, trigger position and record of each hit id, all at once.

    ``hit_ids`` is the ``id`` column of hit rows (int64, the unsigned ids' bits read as signed)
    or any array of ids (uint64, or Python integers).
    """
    ids = _id_bits(hit_ids)
    return HitIds(
        ids >> np.uint64(RUN_ID_SHIFT),
        trigger_positions(ids),
        (ids & np.uint64(0xF)).astype(np.int64),
    )


def trigger_positions(hit_ids: ArrayLike) -> np.ndarray:
    """Trigger position (bits 31..4) of each hit id, as int64."""
    ids = _id_bits(hit_ids)
    return ((ids >> np.uint64(TRIGGER_INDEX_SHIFT)) & np.uint64(0x0FFFFFFF)).astype(np.int64)


#: One pulse found by the pulse finder (``orvane.pulse_dtype``), joined to hits by ``id``.
PULSE_DTYPE = np.dtype(
    {
        "names": [
            "id",
            "channel",
            "first_sample",
            "last_sample",
            "baseline",
            "amplitude",
            "peak_time",
            "width",
            "rise_time",
            "baseline_rms",
            "index",
            "saturated",
            "no_return",
        ],
        "formats": ["<i8", "<i4", "<u4", "<u4", "<f8", "<f8", "<f8", "<f8", "<f8", "<f4", "u1"]
        + ["?", "?"],
        "offsets": [0, 8, 12, 16, 24, 32, 40, 48, 56, 64, 68, 69, 70],
        "itemsize": 72,
    }
)

#: The pulse quantities a hit file carries beside each hit (``--pulse-columns``); a hit
#: without a pulse (a multi-PMT hit) has -1 in the integers, NaN in the floats, false flags.
PULSE_COLUMNS_DTYPE = np.dtype(
    [
        ("first_sample", "<i8"),
        ("last_sample", "<i8"),
        ("index", "<i8"),
        ("baseline", "<f8"),
        ("amplitude", "<f8"),
        ("peak_time", "<f8"),
        ("width", "<f8"),
        ("rise_time", "<f8"),
        ("baseline_rms", "<f8"),
        ("saturated", "?"),
        ("no_return", "?"),
    ]
)

#: Hit rows with their pulse columns, as the command's chunks carry them.
HIT_PULSE_DTYPE = np.dtype(
    [(name, HIT_DTYPE[name]) for name in field_names(HIT_DTYPE)]
    + [(name, PULSE_COLUMNS_DTYPE[name]) for name in field_names(PULSE_COLUMNS_DTYPE)]
)
