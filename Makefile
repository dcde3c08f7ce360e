# Entry points for a fresh machine: `make demo` runs the main job, `make test` runs every test.
# Both install what they need: Debian packages (apt-get), a virtual environment in .venv and
# the package itself, built from this tree.

PYTHON ?= python3
# A second CPython for the test run, when this machine has one (pyenv or the system).
PYTHON2 ?= $(firstword $(wildcard $(HOME)/.pyenv/versions/3.12*/bin/python3) $(shell command -v python3.12 2>/dev/null))
VENV := .venv
VENV2 := .venv-2
JOBS ?= 2
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: all deps venv venv2 demo test test-cpp test-asan test-python test-python2 lint stubs bench clean

all: test

deps:
	@scripts/ensure-system-deps.sh

$(VENV)/bin/python:
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/python -m pip install -q --upgrade pip

venv: deps $(VENV)/bin/python
	$(VENV)/bin/python -m pip install -q ".[test]"

venv2: deps
	@if [ -z "$(PYTHON2)" ]; then echo "No second CPython found; skipping it."; else \
	  [ -x $(VENV2)/bin/python ] || $(PYTHON2) -m venv $(VENV2); \
	  $(VENV2)/bin/python -m pip install -q --upgrade pip && \
	  $(VENV2)/bin/python -m pip install -q ".[test]" --config-settings=build-dir=build/py2; fi

# Simulates a run, reconstructs it with the example settings and writes orvane-demo.png.
demo: deps $(VENV)/bin/python
	$(VENV)/bin/python -m pip install -q ".[plot]"
	$(VENV)/bin/orvane demo

test-cpp: deps
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

test-python: venv
	$(VENV)/bin/python -m pytest -q

test-python2: venv2
	@if [ -n "$(PYTHON2)" ]; then $(VENV2)/bin/python -m pytest -q; fi

# Formatting and lint: the C++ follows .clang-format, the Python is ruff-clean.
lint: venv
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.hpp')
	$(VENV)/bin/ruff check .
	$(VENV)/bin/ruff format --check .

test: lint test-cpp test-asan test-python test-python2

# Regenerates python/orvane.pyi from the module as built from this tree (the venv's install).
stubs: venv
	$(VENV)/bin/python scripts/generate_stubs.py

# Benchmarks, not part of the test run: waveform extraction in C++ (Google Benchmark), then the
# Python face (object API, columnar path, pure-NumPy baseline, conversions) and the columnar
# path's peak memory, each printing a table of medians and ratios, then the peak memory of
# `orvane reconstruct` on trigger files of 1, 4 and 8 million triggers.
bench: venv
	cmake --preset bench
	cmake --build --preset bench --target bench_extract bench_pulse_finder
	build/bench/benchmarks/bench_extract
	build/bench/benchmarks/bench_pulse_finder
	$(VENV)/bin/python benchmarks/bench_python.py
	$(VENV)/bin/python benchmarks/bench_memory.py
	$(VENV)/bin/python benchmarks/bench_stream.py
	$(VENV)/bin/python benchmarks/bench_pulse_efficiency.py

clean:
	rm -rf build $(VENV) $(VENV2)
