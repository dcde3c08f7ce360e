#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing (run as root, or with sudo
# available).  Quiet when everything is already there.
set -euo pipefail

# clang builds the fuzz targets and the sanitizer test runs.
packages=(g++ make git clang clang-format libyaml-cpp-dev libgtest-dev libbenchmark-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
# The sanitizer runtimes of that clang (libFuzzer, ThreadSanitizer), whatever its version.
if ! command -v clang++ >/dev/null 2>&1 ||
  [[ ! -e $(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a) ]]; then
  missing+=(libclang-rt-dev)
fi

if ((${#missing[@]})); then
  echo "Installing Debian packages: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
