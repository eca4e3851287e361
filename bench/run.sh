#!/bin/sh
# Builds the benchmarks (Release) and prints the README's performance tables:
#   bench/run.sh [pellatrix_bench options, e.g. --rounds 9 --case walk]
# Trees are generated under $TMPDIR (default /tmp), which should be on the disk to measure; they
# need about 1.3 GB free for the large-file case and are removed afterwards.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target pellatrix_bench >/dev/null
echo "$(nproc) cores, $(uname -sr), $(findmnt -no FSTYPE -T "${TMPDIR:-/tmp}" | tail -n 1) under ${TMPDIR:-/tmp}; $(cp --version | head -1); load average $(cut -d' ' -f1-3 /proc/loadavg)"
exec "$build/bench/pellatrix_bench" --work "${TMPDIR:-/tmp}/pellatrix-bench-$$" "$@"
