"""Columnar reconstruction through the object API of the extension.

FALLBACK, to be removed: it stands in for ``ChargeReconstruction.reconstruct_tarvo_numpy`` and
``ChargeReconstruction.reconstruct_multipmt_numpy`` while an extension without them is
installed.  It builds one trigger object per row, so it is much slower than the columnar
methods, but it gives the same hits, ids included.
"""

from __future__ import annotations

import types

import numpy as np

from ._dtypes import MAX_TRIGGER_POSITIONS, TRIGGER_INDEX_SHIFT


def _shift_ids(hits: np.ndarray, first_trigger: int) -> np.ndarray:
    # The object API numbers the positions of the list it is given from 0; the rows of a chunk
    # stand at first_trigger and after in the whole run.
    ids = hits["id"].view(np.uint64)
    ids += np.uint64(first_trigger << TRIGGER_INDEX_SHIFT)
    return hits


def _check_positions(first_trigger: int, count: int) -> None:
    if first_trigger < 0 or first_trigger + count > MAX_TRIGGER_POSITIONS:
        raise ValueError(
            f"trigger positions {first_trigger}..{first_trigger + count - 1} do not fit the "
            f"hit id's trigger field (at most {MAX_TRIGGER_POSITIONS} positions)"
        )


def reconstruct_tarvo_rows(
    orvane: types.ModuleType,
    reco: object,
    triggers: np.ndarray,
    samples: np.ndarray,
    offsets: np.ndarray,
    first_trigger: int,
    run_info: object,
) -> np.ndarray:
    """Hit rows of waveform trigger rows with their flat samples and offsets."""
    _check_positions(first_trigger, len(triggers))
    objects = []
    for i, row in enumerate(triggers.tolist()):
        trigger = orvane.TarvoTrigger()
        trigger.channel, trigger.trigger_time_s, trigger.trigger_time_ticks = row[:3]
        trigger.baseline, trigger.intsum = row[3:]
        trigger.waveform = samples[offsets[i] : offsets[i + 1]].tolist()
        objects.append(trigger)
    hits = orvane.hit_list_to_numpy(reco.reconstruct(objects, run_info))
    return _shift_ids(hits, first_trigger)


def reconstruct_multipmt_rows(
    orvane: types.ModuleType,
    reco: object,
    triggers: np.ndarray,
    first_trigger: int,
    run_info: object,
) -> np.ndarray:
    """Hit rows of multi-PMT trigger rows."""
    _check_positions(first_trigger, len(triggers))
    objects = []
    for time, channel, time_over_threshold, adc_sample in triggers.tolist():
        trigger = orvane.MultiPMTTrigger()
        trigger.time, trigger.channel = time, channel
        trigger.time_over_threshold, trigger.adc_sample = time_over_threshold, adc_sample
        objects.append(trigger)
    hits = orvane.hit_list_to_numpy(reco.reconstruct(objects, run_info))
    return _shift_ids(hits, first_trigger)
