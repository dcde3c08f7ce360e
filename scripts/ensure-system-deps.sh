#!/usr/bin/env bash
# Installs the Debian packages a task needs when they are missing (run as root, or with sudo
# available).  Quiet when everything is already there.
#   scripts/ensure-system-deps.sh demo    build and install the package: compiler, CMake, and
#                                         venv support and headers for $PYTHON
#   scripts/ensure-system-deps.sh test    also GoogleTest, clang-format and the system yaml-cpp
#                                         (the test run checks both the bundled and that one),
#                                         and Chromium with its driver (the report's page test)
#   scripts/ensure-system-deps.sh bench   also Google Benchmark
set -euo pipefail

task="${1:-test}"
python="${PYTHON:-python3}"

packages=(g++ make cmake)
case "$task" in
  demo) ;;
  # clang builds the fuzz targets and the sanitizer test runs.
  test) packages+=(git clang clang-format libgtest-dev libyaml-cpp-dev chromium chromium-driver) ;;
  bench) packages+=(libbenchmark-dev) ;;
  *) echo "usage: $0 demo|test|bench" >&2; exit 2 ;;
esac

# The Python that builds the package needs the venv module (Debian splits ensurepip out) and
# its C headers.  A Python that is not Debian's (pyenv, a source build) brings both itself.
python_path="$(command -v "$python" || true)"
if [[ -z "$python_path" ]]; then
  packages+=(python3-venv python3-dev)
elif [[ "$(readlink -f "$python_path")" == /usr/bin/* ]]; then
  version="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
  default="$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null || true)"
  if [[ "$version" == "$default" ]]; then
    prefix=python3
  else
    prefix="python$version"
  fi
  "$python" -c 'import ensurepip' 2>/dev/null || packages+=("$prefix-venv")
  "$python" -c 'import os, sysconfig, sys
sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' ||
    packages+=("$prefix-dev")
fi

missing=()
for p in "${packages[@]}"; do
  if [[ "$p" == cmake ]]; then
    command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  else
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  fi
done
# The sanitizer runtimes of that clang (libFuzzer, ThreadSanitizer), whatever its version.
if [[ "$task" == test ]] && { ! command -v clang++ >/dev/null 2>&1 ||
  [[ ! -e $(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a) ]]; }; then
  missing+=(libclang-rt-dev)
fi

if ((${#missing[@]})); then
  echo "Installing Debian packages: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
