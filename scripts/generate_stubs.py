#!/usr/bin/env python3
"""Write the type stub ``orvane.pyi`` of the importable ``orvane`` module.

pybind11-stubgen reads the signatures of the module that ``python -c "import orvane"`` finds;
three spots of its output are then normalised, so that the stub is the same whatever machine,
Python version or NumPy version made it:

* the element types of ``VectorHit`` and ``VectorHitFeatures``: the module binds these lists
  before their element classes, so their methods name the elements by C++ name
  (``tessel::Hit``); the namespace is dropped, leaving the Python class;
* the row data types (``hit_dtype``, ``hit_features_dtype``, ...): annotated as
  ``numpy.dtype[numpy.void]`` (NumPy versions differ in the class of a structured dtype);
* docstrings of class constants (``TarvoTrigger.SECONDS_PER_TICK``) are left out: before
  Python 3.12 a static property loses its docstring, so only some interpreters could show it.

Two more make the stub agree with ``object``, so that a type checker accepts it:

* ``__eq__`` and ``__ne__`` of the bound lists take any object: given another type they answer
  NotImplemented, and Python falls back to comparing identities;
* ``__hash__ = None`` of those lists (mutable, so unhashable) is written as typeshed writes
  ``list.__hash__``: ``ClassVar[None]``, ignoring the ``assignment`` error of a checker that
  sees ``object.__hash__`` narrowed.

Any other invalid expression makes pybind11-stubgen fail, so a new C++ name in a signature is
caught rather than silently written as ``...``.
"""

from __future__ import annotations

import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

MODULE = "orvane"
# The stub is compared exactly, so it is made with one pybind11-stubgen version (pinned in the
# `test` dependency group of pyproject.toml).
STUBGEN_VERSION = "3.0.0"
DTYPE_ATTRIBUTES = (
    "hit_dtype",
    "hit_features_dtype",
    "multipmt_trigger_dtype",
    "tarvo_trigger_dtype",
)

# A class constant's line and the docstring block right after it.
CLASS_CONSTANT_DOC = re.compile(
    r'^(?P<indent> *)(?P<field>\w+: typing\.ClassVar\[.*\n)(?P=indent)"""\n(?:.*\n)*?(?P=indent)"""\n',
    flags=re.MULTILINE,
)


# A list's comparison with one of its own class: ``def __eq__(self, arg0: VectorUInt16) -> bool:``.
COMPARISON = re.compile(r"(?P<head>def __(?:eq|ne)__\(self, \w+: )\w+(?P<tail>\) -> bool:)")
UNHASHABLE = "__hash__: typing.ClassVar[None] = None"
UNHASHABLE_STUB = (
    "__hash__: typing.ClassVar[None]  # type: ignore[assignment]  # mutable, so unhashable"
)


def normalise(text: str) -> str:
    """Return the stub text with C++ element names and dtype annotations made stable."""
    text = re.sub(r"\btessel::(\w+)", r"\1", text)
    text = CLASS_CONSTANT_DOC.sub(r"\g<indent>\g<field>", text)
    text = COMPARISON.sub(r"\g<head>object\g<tail>", text)
    text = text.replace(UNHASHABLE, UNHASHABLE_STUB)
    for name in DTYPE_ATTRIBUTES:
        text = re.sub(
            rf"^{name}: .*$", f"{name}: numpy.dtype[numpy.void]", text, flags=re.MULTILINE
        )
    if "numpy.dtypes." not in text:
        text = text.replace("import numpy.dtypes\n", "")
    return text


def generate(
    output_dir: Path, python: str = sys.executable, module_dir: Path | None = None
) -> Path:
    """Generate the stub with ``python`` into ``output_dir``; return the stub's path.

    ``module_dir``, when given, is searched first for the module.
    """
    env = dict(os.environ)
    if module_dir is not None:
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(module_dir), env.get("PYTHONPATH")]))
    with tempfile.TemporaryDirectory() as raw:
        subprocess.run(
            [
                python,
                "-m",
                "pybind11_stubgen",
                MODULE,
                "--output-dir",
                raw,
                "--ignore-invalid-expressions",
                r"^tessel::\w+$",
                "--print-invalid-expressions-as-is",
                "--exit-code",
            ],
            check=True,
            env=env,
        )
        text = (Path(raw) / f"{MODULE}.pyi").read_text()
    output_dir.mkdir(parents=True, exist_ok=True)
    stub = output_dir / f"{MODULE}.pyi"
    stub.write_text(normalise(text))
    return stub


def main(argv: list[str] | None = None) -> int:
    """Command line: ``generate_stubs.py [--output-dir DIR]`` (default: the python/ folder)."""
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument(
        "--output-dir", type=Path, default=Path(__file__).resolve().parents[1] / "python"
    )
    args = parser.parse_args(argv)
    print(generate(args.output_dir))
    return 0


if __name__ == "__main__":
    sys.exit(main())
