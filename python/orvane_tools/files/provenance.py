"""What a hit file records about how it was made.

Fields of the provenance document (a JSON object; hashes are SHA-256 in lower-case hex):

``format``          ``"orvane-provenance/1"``
``orvane_version``  version of the package that wrote the file
``settings``        ``{"path", "sha256", "text"}``: the settings file as given and its full text
``tables``          ``[{"key", "path", "sha256"}]``: every lookup table and channel table the
                    settings name (``key`` is where, e.g. ``reco.charge_lut.lut_file``; ``path``
                    as the library resolves it against the settings file's folder)
``inputs``          ``[{"path", "sha256"}]``: the trigger files the hits come from, with
                    ``provenance``, the trigger file's own (its raw files and the options of
                    their import), where it has one
``run_info``        the run information of the input (run number, time offsets, run start)
``triggers``        ``{"tarvo", "multipmt"}``: triggers of each kind in the input
``drops``           ``{"by_channel": [{"channel", CAUSE...}], "total": {CAUSE...}}``: the
                    records the library left out, per channel (only channels with any, by
                    number) and in all, for each cause of :data:`DROP_CAUSES`
``command_line``    the command's arguments (``sys.argv``), or null from the Python API
``time``            when the run started (UTC, ISO 8601)
``host``            the machine's name

Only ``command_line``, ``time`` and ``host`` differ between two runs on the same inputs with the
same settings.  A ``.npy`` or ``.csv`` file's sidecar adds ``data: {"name", "sha256"}``, the
hash of the data file it describes.
"""

from __future__ import annotations

import datetime
import hashlib
import json
import os
import socket
from collections.abc import Mapping
from pathlib import Path
from typing import Any

import numpy as np

from .._dtypes import field_names
from .._errors import UserError
from .hitfile import sha256_file
from .settings import SettingsSource, load_settings

FORMAT = "orvane-provenance/1"

#: Why records were left out, as the library counts them (the fields of ``orvane.drop_dtype``
#: after ``channel``): the trigger's channel has no row in the channel table
#: (``unknown_channels: drop``), ``drop_bad_edge``, ``drop_bad_integral``, and the triggers
#: whose waveform held more than 16 pulses (the first 16 kept).
DROP_CAUSES = ("unknown_channel", "bad_edge", "bad_integral", "truncated")

#: Records left out per channel and cause: ``{channel: {cause: count}}``.
Drops = dict[int, dict[str, int]]


def add_drops(total: Drops, more: np.ndarray | Mapping[int, Mapping[str, int]]) -> Drops:
    """Adds ``more`` (``orvane.drop_dtype`` rows, or counts as :data:`Drops`) to ``total`` and
    returns it."""
    if isinstance(more, np.ndarray):
        more = {int(row["channel"]): {c: int(row[c]) for c in DROP_CAUSES} for row in more}
    for channel, counts in more.items():
        per = total.setdefault(int(channel), dict.fromkeys(DROP_CAUSES, 0))
        for cause, count in counts.items():
            per[cause] = per.get(cause, 0) + int(count)
    return total


def drops_provenance(drops: Mapping[int, Mapping[str, int]]) -> dict[str, Any]:
    """The provenance's ``drops`` entry for the counts ``drops`` (:data:`Drops`)."""
    by_channel = [
        {"channel": int(channel), **{c: int(drops[channel].get(c, 0)) for c in DROP_CAUSES}}
        for channel in sorted(drops)
    ]
    total = {c: sum(row[c] for row in by_channel) for c in DROP_CAUSES}
    return {"by_channel": by_channel, "total": total}


def drops_from_provenance(entry: Any) -> Drops | None:
    """The counts of a provenance's ``drops`` entry (None when it is missing or not of the
    shape :func:`drops_provenance` writes)."""
    if not isinstance(entry, dict) or not isinstance(entry.get("by_channel"), list):
        return None
    drops: Drops = {}
    for row in entry["by_channel"]:
        if isinstance(row, dict) and isinstance(row.get("channel"), int):
            counts = {c: n for c, n in row.items() if c != "channel" and isinstance(n, int)}
            add_drops(drops, {row["channel"]: counts})
    return drops


def package_version() -> str:
    """The installed package's version."""
    from .. import __version__

    return __version__


def settings_tables(settings: SettingsSource) -> list[tuple[str, Path]]:
    """Files a settings file names: ``(key path, file)`` for every key that the extractors and
    the reconstructor classes declare as naming a table file (``extractors.channels.table``,
    a ``LUTReco``'s ``lut_file``, a ``ChannelLinearReco``'s ``table``, ...), each resolved
    against the settings file's folder.

    The settings are read by the library (``orvane.LoadedSettings.summary``), so a file is
    found exactly where reconstruction finds it.
    """
    loaded = load_settings(settings)
    try:
        summary = loaded.summary()
    except RuntimeError as exc:
        raise UserError(f"cannot read the settings file {loaded.file} for its provenance") from exc
    return [(key, Path(file)) for key, file in summary["table_keys"]]


def run_provenance(settings: SettingsSource, command_line: list[str] | None) -> dict[str, Any]:
    """The fields common to every output of one run (all but ``inputs``, ``run_info`` and
    ``triggers``).  The hashes are of the bytes the reconstruction was built from: with
    settings read already, no file is read again."""
    loaded = load_settings(settings)
    read = loaded.tables
    tables = []
    for key, table in settings_tables(loaded):
        content = read.get(str(table))
        try:
            digest = (
                hashlib.sha256(content).hexdigest() if content is not None else sha256_file(table)
            )
        except OSError as exc:
            raise UserError(f"cannot read {table}, named by {key} in {loaded.file}") from exc
        tables.append({"key": key, "path": str(table), "sha256": digest})
    raw = loaded.text
    return {
        "format": FORMAT,
        "orvane_version": package_version(),
        "settings": {
            "path": loaded.file,
            "sha256": hashlib.sha256(raw).hexdigest(),
            "text": raw.decode("utf-8", errors="replace"),
        },
        "tables": tables,
        "command_line": command_line,
        "time": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
        "host": socket.gethostname(),
    }


def input_provenance(
    common: dict[str, Any],
    path: str | os.PathLike,
    sha256: str,
    run_info: np.ndarray,
    n_tarvo: int,
    n_multipmt: int,
    origin: str | None = None,
) -> dict[str, Any]:
    """The provenance of one output: ``common`` plus its input, with the input's own
    provenance (``origin``, the JSON text of a trigger file's ``provenance`` member) when it
    has one."""
    row = run_info[0]
    document = dict(common)
    source: dict[str, Any] = {"path": str(path), "sha256": sha256}
    if origin is not None:
        try:
            source["provenance"] = json.loads(origin)
        except ValueError:
            source["provenance"] = origin  # kept as it is, though not JSON
    document["inputs"] = [source]
    document["run_info"] = {name: int(row[name]) for name in field_names(run_info.dtype)}
    document["triggers"] = {"tarvo": int(n_tarvo), "multipmt": int(n_multipmt)}
    return document
