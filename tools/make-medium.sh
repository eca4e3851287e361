#!/usr/bin/env bash
# Makes a distribution medium: an ISO 9660 image with Rock Ridge and Joliet names whose root
# holds Model/ (the sample medium's, or DIR's), Pellatrix.exe (32-bit, or 64-bit with
# --windows x64), the Linux program and its dialogs' module, autorun.inf and README.txt. It
# builds the programs first (Release, in build/medium-*). The same commit makes the same image
# byte for byte: every date in it is the commit's (SOURCE_DATE_EPOCH, unless already set).
set -euo pipefail

usage() {
    echo "usage: $0 [--model DIR] [--windows x86|x64] OUT.iso" >&2
    exit 2
}
root=$(cd "$(dirname "$0")/.." && pwd)
model=$root/examples/medium/Model
windows=x86
out=
while [ $# -gt 0 ]; do
    case $1 in
    --model) [ $# -ge 2 ] || usage; model=$2; shift 2 ;;
    --windows) [ $# -ge 2 ] && [[ $2 == x86 || $2 == x64 ]] || usage; windows=$2; shift 2 ;;
    -*) usage ;;
    *) [ -z "$out" ] || usage; out=$1; shift ;;
    esac
done
[ -n "$out" ] || usage
[ -d "$model" ] || { echo "$0: $model is not a folder" >&2; exit 2; }
model=$(cd "$model" && pwd)
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct || true)}
[ -n "$SOURCE_DATE_EPOCH" ] ||
    { echo "$0: not a git checkout: set SOURCE_DATE_EPOCH to the date for the image" >&2; exit 2; }
export SOURCE_DATE_EPOCH

# build FOLDER TARGET... [-- CMAKE OPTIONS]: the programs alone, without the tests.
build() {
    local folder=$root/build/$1 targets=()
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do targets+=("$1"); shift; done
    shift
    cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        "$@" >/dev/null
    cmake --build "$folder" --target "${targets[@]}"
}
build medium-linux pellatrix pellatrix_gtk --
triplet=$([ "$windows" = x86 ] && echo i686 || echo x86_64)
build "medium-windows-$windows" Pellatrix -- \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$triplet.cmake"

# The image's root, every date the commit's: xorriso takes the files' own modification times.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp -r "$model" "$stage/Model"
cp "$root/build/medium-windows-$windows/Pellatrix.exe" "$root/build/medium-linux/pellatrix" \
    "$root/build/medium-linux/pellatrix-gtk.so" "$root/resources/medium/autorun.inf" \
    "$root/resources/medium/README.txt" "$stage/"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

# -r: owned by root and read-only for everyone, as a CD gives them; -J: Joliet names too.
rm -f "$out"
xorriso -as mkisofs -quiet -r -J -joliet-long -V PELLATRIX -o "$out" "$stage"
echo "$out"
