# Entry points for a fresh machine: `make demo` runs the main job, `make test` runs every test.
# Both install what they need: Debian packages (apt-get), a virtual environment in .venv and
# the package itself, built from this tree with the yaml-cpp it carries (extern/yaml-cpp).

PYTHON ?= python3
# A second CPython for the test run, when this machine has one (pyenv or the system).
PYTHON2 ?= $(firstword $(wildcard $(HOME)/.pyenv/versions/3.12*/bin/python3) $(shell command -v python3.12 2>/dev/null))
VENV := .venv
VENV2 := .venv-2
JOBS ?= 2
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

# yaml-cpp: the module in .venv is built by `pip install .` from the bundled copy, with the
# system's hidden from CMake (proof that no system library is needed); the one in .venv-2 is
# built from the sdist in an isolated environment with no package index
# (scripts/check-sdist.sh).  The C++ tests cover the system's (Debian's 0.7) in the default
# preset and the bundled 0.8 in the asan preset.
HIDE_SYSTEM_YAML_CPP := --config-settings=cmake.define.CMAKE_DISABLE_FIND_PACKAGE_yaml-cpp=ON
# .venv builds with the build requirements of pyproject.toml installed in it, not in a new
# isolated environment each time, whose new path would make CMake rebuild the bindings.
BUILD_REQUIRES = $(shell sed -n 's/^requires = \[\(.*\)\]$$/\1/p' pyproject.toml | tr ',' ' ') ninja
PIP_BUILD = $(VENV)/bin/python -m pip install -q $(BUILD_REQUIRES) && \
  $(VENV)/bin/python -m pip install -q --no-build-isolation $(HIDE_SYSTEM_YAML_CPP)
# The test environments get every extra pyproject.toml declares, so that no test is skipped for
# a missing optional package (ORVANE_TESTS_NO_SKIP below makes a skip fail the run).
TEST_EXTRAS = $(shell awk '/^\[/ { t = ($$0 == "[project.optional-dependencies]") } \
  t && /^[A-Za-z0-9_-]+ *=/ { print $$1 }' pyproject.toml | paste -sd, -)
BUILD_NOTE = @echo "Building the C++ extension module into $(1) (quiet; 2 to 7 minutes on 2 cores the first time, depending on load; seconds after that)..."

# Seconds each fuzz target runs in `make fuzz` (the test run gives each a few seconds).
FUZZ_SECONDS ?= 300
FUZZ_TARGETS := settings lut yaml pulse_finder
FUZZ_DIR := build/asan/tests/fuzz

.PHONY: all deps deps-demo deps-bench venv venv2 demo test test-cpp test-asan test-tsan \
	test-python test-python2 test-sdist lint stubs bench fuzz clean

all: test

deps:
	@PYTHON=$(PYTHON) scripts/ensure-system-deps.sh test

deps-demo:
	@PYTHON=$(PYTHON) scripts/ensure-system-deps.sh demo

deps-bench:
	@PYTHON=$(PYTHON) scripts/ensure-system-deps.sh bench

$(VENV)/bin/python:
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/python -m pip install -q --upgrade pip

venv: deps $(VENV)/bin/python
	$(call BUILD_NOTE,$(VENV))
	$(PIP_BUILD) --group test ".[$(TEST_EXTRAS)]"
	@so=$$($(VENV)/bin/python -c 'import orvane; print(orvane.__file__)'); \
	  if ldd "$$so" | grep yaml-cpp; then echo "$$so needs a shared yaml-cpp" >&2; exit 1; fi

# The second CPython gets the wheel built from the sdist with no package index and checked by
# auditwheel (scripts/check-sdist.sh); the test tools and extras come from the index.
venv2: deps
	@if [ -z "$(PYTHON2)" ]; then echo "No second CPython found; skipping it."; else \
	  [ -x $(VENV2)/bin/python ] || $(PYTHON2) -m venv $(VENV2); \
	  $(VENV2)/bin/python -m pip install -q --upgrade pip && \
	  $(VENV2)/bin/python -m pip install -q --group test && \
	  echo "Building the sdist, then a wheel from it with no package index (about 5 minutes the first time)..." && \
	  PYTHON=$(VENV2)/bin/python scripts/check-sdist.sh build/sdist-check-2 && \
	  $(VENV2)/bin/python -m pip install -q --force-reinstall --no-deps build/sdist-check-2/wheel/orvane-*.whl && \
	  $(VENV2)/bin/python -m pip install -q "$$(ls build/sdist-check-2/wheel/orvane-*.whl)[$(TEST_EXTRAS)]"; fi

# Simulates a run, reconstructs it with the example settings, calibrates it from its own data,
# and writes orvane-demo.png and the run report orvane-demo-report/.
demo: deps-demo $(VENV)/bin/python
	$(call BUILD_NOTE,$(VENV))
	$(PIP_BUILD) ".[plot,calibrate]"
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
	ORVANE_TESTS_NO_SKIP=1 $(VENV)/bin/python -m pytest -q

test-python2: venv2
	@if [ -n "$(PYTHON2)" ]; then ORVANE_TESTS_NO_SKIP=1 $(VENV2)/bin/python -m pytest -q; \
	  else $(MAKE) --no-print-directory test-sdist; fi

# The sdist holds everything a build needs, and the wheel built from it is portable (with the
# first CPython; the test run does this with the second when there is one).
test-sdist: venv
	PYTHON=$(VENV)/bin/python scripts/check-sdist.sh build/sdist-check

# Formatting and lint: the C++ follows .clang-format, the Python is ruff-clean, and the
# companion package and the module's stub are mypy-clean (pyproject.toml, [tool.mypy]).
lint: venv
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.hpp' ':!:extern/')
	$(VENV)/bin/ruff check .
	$(VENV)/bin/ruff format --check .
	$(VENV)/bin/mypy

test: lint test-cpp test-asan test-tsan test-python test-python2

# Regenerates python/orvane.pyi from the module as built from this tree (the venv's install).
stubs: venv
	$(VENV)/bin/python scripts/generate_stubs.py

# Benchmarks, not part of the test run: waveform extraction in C++ (Google Benchmark), then the
# columnar path against its yardsticks (the numba peer, a copy of the input, np.sum), the Python
# face (object API, columnar path, pure-NumPy baseline, conversions) and the columnar path's peak
# memory, each printing a table of medians and ratios, then the peak memory of
# `orvane reconstruct` on trigger files of 1, 4 and 8 million triggers, and the cost of a
# 10 000-channel table on the columnar path, and the run report's pass and drawing.
bench: deps-bench $(VENV)/bin/python
	$(PIP_BUILD) --group test ".[bench,plot,parquet]"
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
	$(VENV)/bin/python benchmarks/bench_digitizer.py --records 5000
	$(VENV)/bin/python benchmarks/bench_report.py

clean:
	rm -rf build $(VENV) $(VENV2)
