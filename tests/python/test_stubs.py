"""The type stub shipped with the module describes the module as built."""

from __future__ import annotations

import importlib.metadata
import importlib.util
import re
import subprocess
import sys
from pathlib import Path
from types import ModuleType

import pytest

import orvane

REPO_ROOT = Path(__file__).resolve().parents[2]
GENERATOR = REPO_ROOT / "scripts" / "generate_stubs.py"
CHECKED_IN = REPO_ROOT / "python" / "orvane.pyi"
STALE = "the stub is stale: regenerate it with scripts/update-stubs.sh (or make stubs)"


def _load_generator() -> ModuleType:
    spec = importlib.util.spec_from_file_location("generate_stubs", GENERATOR)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def _lines(text: str) -> list[str]:
    """Lines without trailing blanks; blank lines at either end do not count."""
    return [line.rstrip() for line in text.strip().splitlines()]


@pytest.fixture(scope="module")
def generated(tmp_path_factory: pytest.TempPathFactory) -> list[str]:
    """The stub generated from the imported module, as lines."""
    if importlib.util.find_spec("pybind11_stubgen") is None:
        pytest.skip("pybind11-stubgen is not installed (pip install --group test)")
    generator = _load_generator()
    installed = importlib.metadata.version("pybind11-stubgen")
    if installed != generator.STUBGEN_VERSION:
        pytest.skip(
            f"pybind11-stubgen {installed} is installed; the stub is made with "
            f"{generator.STUBGEN_VERSION}, whose output it is compared with"
        )
    module_dir = Path(orvane.__file__).parent
    stub = generator.generate(tmp_path_factory.mktemp("stubs"), module_dir=module_dir)
    return _lines(stub.read_text())


def test_checked_in_stub_is_current(generated: list[str]) -> None:
    assert generated == _lines(CHECKED_IN.read_text()), STALE


def test_installed_stub_is_current(generated: list[str]) -> None:
    installed = Path(orvane.__file__).with_name("orvane.pyi")
    if not installed.exists():
        pytest.skip("no stub next to the imported module (imported from a build tree)")
    assert generated == _lines(installed.read_text()), STALE


def test_stub_names_python_types_only() -> None:
    text = CHECKED_IN.read_text()
    assert "tessel::" not in text and "std::" not in text
    assert "hit_dtype: numpy.dtype[numpy.void]" in text


def test_type_checker_sees_the_installed_types(tmp_path: Path) -> None:
    """mypy, run outside the source tree, finds the module's stub and the companion package's
    annotations: a wrong argument to each is an arg-type error, not an untyped import."""
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed (pip install --group test)")
    if not Path(orvane.__file__).with_name("orvane.pyi").exists():
        pytest.skip("no stub next to the imported module (imported from a build tree)")
    probe = tmp_path / "probe.py"
    probe.write_text(
        "import orvane\n"
        "import orvane_tools\n"
        "orvane.ChargeReconstruction(1)\n"
        "orvane_tools.read_trigger_file(1)\n"
    )
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--no-error-summary", probe.name],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        check=False,
    )
    errors = re.findall(r"^probe\.py:(\d+): error: .*\[([a-z-]+)\]$", result.stdout, re.MULTILINE)
    assert errors == [("3", "arg-type"), ("4", "arg-type")], result.stdout + result.stderr
