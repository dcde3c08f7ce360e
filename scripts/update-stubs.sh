#!/usr/bin/env bash
# Regenerates python/orvane.pyi from a freshly built module.
#   scripts/update-stubs.sh            builds build/stubs and imports the module from there
#   ORVANE_BUILD_DIR=DIR scripts/update-stubs.sh   uses (and builds) that build directory
# Needs pybind11-stubgen (pip install pybind11-stubgen) in the Python that runs it ($PYTHON).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
python="${PYTHON:-python3}"
build="${ORVANE_BUILD_DIR:-$root/build/stubs}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_PYTHON=ON \
    -DBUILD_TESTING=OFF -DPython_EXECUTABLE="$(command -v "$python")" \
    -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)" >/dev/null
cmake --build "$build" --target orvane -j"${JOBS:-2}"
PYTHONPATH="$build${PYTHONPATH:+:$PYTHONPATH}" "$python" "$root/scripts/generate_stubs.py" \
    --output-dir "$root/python"
