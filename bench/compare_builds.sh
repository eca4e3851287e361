#!/bin/sh
# Compares the walk (or copy) of two or more builds of pellatrix_bench on one generated tree,
# alternating the builds round by round; prints each build's median seconds. For measuring a
# change: keep the binary from before it, build, and run
#   bench/compare_builds.sh walk 15 /tmp/before/pellatrix_bench build/bench-dev/bench/pellatrix_bench
set -eu
mode=$1 rounds=$2
shift 2
here=$(dirname "$0")
make_tree=${MAKE_TREE:-$(dirname "$2")/pellatrix_make_tree}
[ -x "$make_tree" ] || make_tree=$here/../build/bench-dev/bench/pellatrix_make_tree
work=$(mktemp -d "${TMPDIR:-/tmp}/pellatrix-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$make_tree" "$work/Model" ${TREE_OPTIONS:-} >/dev/null
run_one() { # binary -> seconds
    if [ "$mode" = walk ]; then
        "$make_tree" "$work/Model" --restore ${TREE_OPTIONS:-} >/dev/null
        "$1" --walk-once "$work/Model" 2>&1 >/dev/null
    else
        rm -rf "$work/dest"
        "$1" --copy-once "$work/Model" "$work/dest" 2>&1 >/dev/null
    fi
}
for binary in "$@"; do run_one "$binary" >/dev/null; done # warm-up
i=0
while [ $i -lt "$rounds" ]; do
    n=0
    for binary in "$@"; do
        n=$((n + 1))
        echo "$n $(run_one "$binary")" >>"$work/times"
    done
    i=$((i + 1))
done
n=0
for binary in "$@"; do
    n=$((n + 1))
    median=$(awk -v n=$n '$1 == n { print $2 }' "$work/times" | sort -n |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
    echo "$binary: median $median s over $rounds runs"
done
