#!/usr/bin/env bash
# Builds every preset and runs every test: the Linux build (with it the medium, made twice and
# compared, and the Linux program run from it, in a minimal Debian 12 too), the Linux build under
# the address and undefined-behaviour sanitizers, a short run of the fuzz target, and the two
# Windows builds under Wine (the 64-bit one also from the medium, as drive D:).
set -euo pipefail
cd "$(dirname "$0")/.."
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

presets=(linux linux-asan linux-fuzz)
for preset in windows-x64 windows-x86; do
  if cmake --list-presets 2>/dev/null | grep -q "\"$preset\""; then presets+=("$preset"); fi
done

for preset in "${presets[@]}"; do
  echo "=== $preset"
  cmake --preset "$preset" -DPELLATRIX_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = windows-x86 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "this kernel runs no 32-bit code: the 32-bit Windows build is built but not tested"
  fi
  ctest --preset "$preset"
done
