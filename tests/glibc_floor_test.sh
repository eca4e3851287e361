#!/bin/sh
# The Linux program and its dialogs' module start on the oldest glibc the README names: no
# symbol of theirs is versioned past it, and neither needs a C++ runtime or GCC's runtime
# library from the system. The program itself needs nothing but the C library (no GTK).
# usage: glibc_floor_test.sh README PROGRAM MODULE
set -eu
floor=$(sed -n 's/.*starts on glibc \([0-9.]*\) or newer.*/\1/p' "$1" | head -n 1)
[ -n "$floor" ] || { echo "$1 names no oldest glibc"; exit 1; }
shift
status=0
for binary in "$@"; do
    versions=$(objdump -T "$binary")
    newest=$(echo "$versions" | grep -o 'GLIBC_[0-9.]*' | cut -d_ -f2 | sort -uV | tail -n 1)
    if [ "$(printf '%s\n%s\n' "$newest" "$floor" | sort -V | tail -n 1)" != "$floor" ]; then
        echo "$binary needs glibc $newest, newer than $floor:"
        echo "$versions" | grep "GLIBC_$newest"
        status=1
    fi
    if echo "$versions" | grep -E 'GLIBCXX_|CXXABI_|GCC_[0-9]'; then
        echo "$binary needs the C++ runtime or libgcc_s from the system"
        status=1
    fi
done
if objdump -p "$1" | grep NEEDED | grep -vE 'lib(c|m)\.so|ld-linux'; then
    echo "$1 needs more than the C library"
    status=1
fi
exit $status
