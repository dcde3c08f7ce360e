#!/usr/bin/env bash
# Proves that the sdist holds everything a build needs and that the wheel built from it is
# self-contained:
#   1. downloads the build requirements into a wheelhouse (the only step that uses an index);
#   2. builds the sdist (python -m build --sdist) and a wheel from it, both with no package
#      index, with the system's yaml-cpp hidden from CMake;
#   3. checks the wheel with auditwheel: it must name a manylinux platform tag.
#   scripts/check-sdist.sh [OUT]   (default build/sdist-check; wheel in OUT/wheel)
# $PYTHON (default python3) runs the build; it needs the packages `build` and `auditwheel`
# (the `test` dependency group).  Skips the work when the wheel is newer than every source.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
python="${PYTHON:-python3}"
out="${1:-build/sdist-check}"
mkdir -p "$out/wheelhouse" "$out/wheel"

# Up to date when a wheel exists and no source file changed since its sdist was made.
wheel="$(ls "$out"/wheel/orvane-*.whl 2>/dev/null | head -n 1 || true)"
sdist="$(ls "$out"/dist/orvane-*.tar.gz 2>/dev/null | head -n 1 || true)"
if [[ -n "$wheel" && -n "$sdist" ]]; then
  stale=""
  while IFS= read -r -d '' file; do
    if [[ -e "$file" && "$file" -nt "$sdist" ]]; then
      stale="$file"
      break
    fi
  done < <(git ls-files -z -co --exclude-standard)
  if [[ -z "$stale" ]]; then
    echo "$wheel is up to date with the sources"
    exit 0
  fi
fi
rm -rf "$out/dist" "$out/wheel"

# Build requirements: the build-system table, and what scikit-build-core asks for when this
# machine lacks them (ninja, and cmake when older than CMakeLists.txt needs).
mapfile -t requires < <("$python" - <<'EOF'
try:
    import tomllib
except ModuleNotFoundError:  # Python < 3.11
    import tomli as tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["build-system"]["requires"]))
EOF
)
requires+=(ninja)
command -v cmake >/dev/null 2>&1 || requires+=("cmake>=3.24")
"$python" -m pip download -q --dest "$out/wheelhouse" "${requires[@]}"

# From here on, no index: only the wheelhouse (PIP_CONFIG_FILE=/dev/null drops pip's
# configured indexes and find-links).
offline=(env -u PIP_INDEX_URL -u PIP_EXTRA_INDEX_URL -u PIP_CONSTRAINT PIP_CONFIG_FILE=/dev/null
  PIP_NO_INDEX=1 PIP_FIND_LINKS="$root/$out/wheelhouse")
if ! log="$("${offline[@]}" "$python" -m build --sdist --outdir "$out/dist" . 2>&1)"; then
  echo "$log" >&2
  exit 1
fi
sdist="$(ls "$out"/dist/orvane-*.tar.gz)"
echo "sdist: $sdist ($(tar tzf "$sdist" | wc -l) files)"
"${offline[@]}" "$python" -m pip wheel -q --no-deps --wheel-dir "$out/wheel" \
  --config-settings=cmake.define.CMAKE_DISABLE_FIND_PACKAGE_yaml-cpp=ON "$sdist"
wheel="$(ls "$out"/wheel/orvane-*.whl)"

report="$("$python" -m auditwheel show "$wheel" 2>&1)"
echo "$report"
if ! grep -q '"manylinux_' <<<"$report"; then
  echo "auditwheel names no manylinux platform tag for $wheel" >&2
  exit 1
fi
