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

# Seconds each fuzz target runs in `make fuzz` (the test run gives each a few seconds).
FUZZ_SECONDS ?= 300
FUZZ_TARGETS := settings lut yaml
FUZZ_DIR := build/asan/tests/fuzz

.PHONY: all deps venv venv2 demo test test-cpp test-asan test-tsan test-python test-python2 lint stubs bench fuzz clean

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

# The C++ test sharing one ChargeReconstruction between threads, under ThreadSanitizer (only
# what that test needs is built).
test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# Runs each libFuzzer target for FUZZ_SECONDS in the sanitizer build, from the seeds in
# tests/fuzz/corpus (new inputs are kept in the build tree); a failing input is saved to
# $(FUZZ_DIR) and ends the run.
fuzz: deps
	cmake --preset asan
	cmake --build --preset asan --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@for name in $(FUZZ_TARGETS); do \
	  echo "== fuzz_$$name for $(FUZZ_SECONDS) s"; \
	  $(FUZZ_DIR)/fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -dict=tests/fuzz/$$name.dict -artifact_prefix=$(FUZZ_DIR)/ -print_final_stats=1 \
	    $(FUZZ_DIR)/corpus/$$name tests/fuzz/corpus/$$name || exit 1; \
	done

test-python: venv
	$(VENV)/bin/python -m pytest -q

test-python2: venv2
	@if [ -n "$(PYTHON2)" ]; then $(VENV2)/bin/python -m pytest -q; fi

# Formatting and lint: the C++ follows .clang-format, the Python is ruff-clean.
lint: venv
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.hpp')
	$(VENV)/bin/ruff check .
	$(VENV)/bin/ruff format --check .

test: lint test-cpp test-asan test-tsan test-python test-python2

# Regenerates python/orvane.pyi from the module as built from this tree (the venv's install).
stubs: venv
	$(VENV)/bin/python scripts/generate_stubs.py

# Benchmarks, not part of the test run: waveform extraction in C++ (Google Benchmark), then the
# columnar path against its yardsticks (the numba peer, a copy of the input, np.sum), the Python
# face (object API, columnar path, pure-NumPy baseline, conversions) and the columnar path's peak
# memory, each printing a table of medians and ratios, then the peak memory of
# `orvane reconstruct` on trigger files of 1, 4 and 8 million triggers, and the cost of a
# 10 000-channel table on the columnar path.
bench: deps $(VENV)/bin/python
	$(VENV)/bin/python -m pip install -q ".[test,bench]"
	cmake --preset bench
	cmake --build --preset bench --target bench_extract bench_pulse_finder
	build/bench/benchmarks/bench_extract
	build/bench/benchmarks/bench_pulse_finder
	$(VENV)/bin/python benchmarks/bench_targets.py
	$(VENV)/bin/python benchmarks/bench_python.py
	$(VENV)/bin/python benchmarks/bench_memory.py
	$(VENV)/bin/python benchmarks/bench_stream.py
	$(VENV)/bin/python benchmarks/bench_channels.py
	$(VENV)/bin/python benchmarks/bench_pulse_efficiency.py

clean:
	rm -rf build $(VENV) $(VENV2)
