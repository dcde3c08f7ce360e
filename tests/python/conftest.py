"""Shared fixtures of the Python tests: settings files."""

from __future__ import annotations

import itertools
import textwrap
from collections.abc import Callable
from pathlib import Path

import pytest

from builders import LINEAR_SETTINGS

REPO_ROOT = Path(__file__).resolve().parents[2]
EXAMPLE_SETTINGS = REPO_ROOT / "examples" / "settings.yaml"

SettingsWriter = Callable[[str], Path]


@pytest.fixture
def write_settings(tmp_path: Path) -> SettingsWriter:
    """Return a function that writes YAML text to a new settings file and returns its path."""
    counter = itertools.count()

    def write(text: str) -> Path:
        path = tmp_path / f"settings_{next(counter)}.yaml"
        path.write_text(textwrap.dedent(text))
        return path

    return write


@pytest.fixture
def settings_file(write_settings: SettingsWriter) -> Path:
    """A settings file with linear time and charge reconstructors for both trigger kinds."""
    return write_settings(LINEAR_SETTINGS)
