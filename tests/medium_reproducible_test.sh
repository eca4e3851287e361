#!/bin/sh
# The commit checked out, cloned into two folders at different depths, makes the same medium
# byte for byte (tools/make-medium.sh --windows x64). What is not committed is not tested. The
# first image is kept at OUT.iso: the tests that run the programs from a medium use it.
# usage: medium_reproducible_test.sh OUT.iso
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$source" rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for clone in one two/deeper; do
    git clone -q --no-checkout "$source" "$work/$clone"
    git -C "$work/$clone" checkout -q "$commit"
    "$work/$clone/tools/make-medium.sh" --windows x64 "$work/$clone.iso" >/dev/null 2>&1 ||
        { echo "make-medium.sh failed in $work/$clone"; exit 1; }
done
sha256sum "$work/one.iso" "$work/two/deeper.iso"
cmp "$work/one.iso" "$work/two/deeper.iso"
mkdir -p "$(dirname "$1")"
cp "$work/one.iso" "$1"
