#!/bin/sh
# Makes a minimal Debian 12 without GTK (mmdebstrap --variant=minbase) in DIR, once: a DIR made
# before is kept. Exits 77 with one line where mmdebstrap cannot make it (no way to Debian's
# package registry). usage: minimal_debian.sh DIR
set -eu
dir=$1
[ -e "$dir/etc/debian_version" ] && exit 0
rm -rf "$dir.part"
mkdir -p "$(dirname "$dir")"
if ! mmdebstrap --variant=minbase bookworm "$dir.part" >"$dir.log" 2>&1; then
    echo "skipped: mmdebstrap could not make a minimal Debian 12 (is Debian's package registry reachable?); see $dir.log"
    rm -rf "$dir.part"
    exit 77
fi
mkdir -p "$dir.part/media/cdrom"
mv "$dir.part" "$dir"
