"""The settings check behind ``orvane check SETTINGS``, and the refusal of a settings file
with problems before any work.

The check itself is the extension's ``orvane.check_settings``; this module turns its problems
into an error the ``orvane`` command prints one paragraph per problem, and describes a sound
file.  A command reads its settings once (:func:`load_settings`): the check, the summary, the
reconstruction and the provenance all come from that one ``orvane.LoadedSettings``.
"""

from __future__ import annotations

import os
import re
import textwrap
from typing import Any

from .._errors import UserError
from .._extension import load_extension

#: A settings file given by its path, or read already (``orvane.LoadedSettings``).
SettingsSource = Any

__all__ = [
    "SettingsProblemsError",
    "SettingsSource",
    "describe_settings",
    "load_settings",
    "require_valid_settings",
    "settings_problems",
]


class SettingsProblemsError(UserError):
    """A settings file with problems: ``problems`` holds every ``orvane.SettingsProblem``."""

    def __init__(self, path: str | os.PathLike, problems: list[Any]) -> None:
        count = "a problem" if len(problems) == 1 else f"{len(problems)} problems"
        super().__init__(f"the settings file {os.fspath(path)} has {count}")
        self.path = os.fspath(path)
        self.problems = list(problems)

    def paragraphs(self, width: int = 100) -> list[str]:
        """One paragraph per problem, wrapped to ``width`` with continuation lines indented,
        and a hint after them for a mistake that causes several (a table with semicolons)."""
        texts = [problem.message for problem in self.problems] + _hints(self.problems)
        return [
            textwrap.fill(
                text,
                width=width,
                initial_indent="  ",
                subsequent_indent="    ",
                break_long_words=False,
                break_on_hyphens=False,
            )
            for text in texts
        ]


def _hints(problems: list[Any]) -> list[str]:
    # A table saved with ';' between columns (as spreadsheets of some locales do) reads as one
    # column, so each column the settings need is reported missing.
    files = {
        problem.file
        for problem in problems
        if problem.expected.startswith("a column")
        and ";" in problem.found
        and "," not in problem.found
    }
    return [
        f"hint: {file} separates its columns with ';'; tables are comma-separated: put ',' "
        "between columns and write numbers with a decimal point"
        for file in sorted(files)
    ]


def load_settings(settings: SettingsSource) -> Any:
    """The settings file ``settings`` read once (an ``orvane.LoadedSettings``; one given is
    returned as it is), refused with the reason in words when it is not a settings file at all.

    Raises
    ------
    UserError
        ``settings`` is missing, a directory, not a regular file, unreadable or a NumPy file.
    """
    orvane = load_extension()
    if isinstance(settings, orvane.LoadedSettings):
        return settings
    path = os.fspath(settings)
    if not os.path.isfile(path):
        if os.path.isdir(path):
            reason = "it is a directory"
        elif os.path.exists(path):  # a FIFO or a device: opening it could block or never end
            reason = "not a regular file"
        else:
            reason = "no such file"
        raise UserError(f"cannot read the settings file {path}: {reason}")
    loaded = orvane.LoadedSettings(path)
    if loaded.text is None:
        # The check says why: "it cannot be read: Permission denied".
        raise UserError(f"cannot read the settings file {path}: {loaded.check()[0].found}")
    if loaded.text.startswith((b"PK", b"\x93NUMPY")):
        raise UserError(
            f"{path} is a NumPy file, not a settings file (YAML); is the order of the "
            "arguments right?"
        )
    return loaded


def settings_problems(settings: SettingsSource) -> list[Any]:
    """Every problem of the settings file ``settings`` and the tables it names (empty: sound).

    Raises
    ------
    UserError
        The settings file is missing, a directory or a NumPy file.
    """
    return list(load_settings(settings).check())


def require_valid_settings(settings: SettingsSource) -> Any:
    """The settings read once (``orvane.LoadedSettings``); :class:`SettingsProblemsError`
    unless they are sound.

    The ``orvane`` command calls this before any work, so that a mistake in the settings (a
    misspelled key, ``min_value`` above ``max_value``, an empty ``reco`` section) stops the run
    instead of silently changing its result.
    """
    loaded = load_settings(settings)
    problems = list(loaded.check())
    if problems:
        raise SettingsProblemsError(loaded.file, problems)
    return loaded


def _yaml_int(text: str) -> int | None:
    """An integer as YAML 1.1 reads it (``0x1F`` hexadecimal, ``010`` octal), else None."""
    match = re.fullmatch(r"([-+]?)(0x[0-9a-fA-F]+|0[0-7]+|[0-9]+)", text.strip())
    if match is None:
        return None
    sign, digits = match.groups()
    if digits.startswith("0x"):
        value = int(digits, 0)
    elif len(digits) > 1 and digits.startswith("0"):
        if not set(digits) <= set("01234567"):
            return None  # not an octal number (nor a decimal one, to YAML)
        value = int(digits, 8)
    else:
        value = int(digits)
    return -value if sign == "-" else value


def _pmt_types(text: str) -> str:
    value = _yaml_int(text)
    if text == "" or value == -1:
        return "every PMT type"
    if value is None or str(value) == text:
        return f"PMT type {text}"
    return f"PMT type {value} (written {text})"  # 010 is octal: say what the library reads


def describe_settings(settings: SettingsSource) -> str:
    """A few lines on what a sound settings file configures: extractor options,
    reconstructors in the order they are applied, and table files."""
    summary = load_settings(settings).summary()
    options = ", ".join(f"{key} {value}" for key, value in summary["extractors"].items())
    lines = [f"extractors: {options}", "reconstructors, in the order they are applied:"]
    reco = summary["reco"]
    name_width = max((len(r["name"]) for r in reco), default=0)
    class_width = max((len(r["class"]) for r in reco), default=0)
    for i, r in enumerate(reco, start=1):
        line = (
            f"  {i}. {r['name']:<{name_width}}  {r['class']:<{class_width}}  "
            f"{r['feature']} -> {r['hit_property']}, {_pmt_types(r['pmt_type'])}"
        )
        if r["table"]:
            line += f", table {r['table']}"
        lines.append(line)
    tables = summary["tables"]
    lines.append("tables: " + (", ".join(tables) if tables else "none"))
    return "\n".join(lines)
