#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing (run as root, or with sudo
# available).  Quiet when everything is already there.
set -euo pipefail

packages=(g++ make git clang-format libyaml-cpp-dev libgtest-dev libbenchmark-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v cmake >/dev/null 2>&1 || missing+=(cmake)

if ((${#missing[@]})); then
  echo "Installing Debian packages: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
