#!/bin/sh
# The Linux program and its dialogs' module start on the oldest glibc the README names: no
# symbol of theirs is versioned past it, neither needs the C++ runtime or libgcc_s from the
# system, and the program needs nothing but the C library (no GTK).
# usage: glibc_floor_test.sh README PROGRAM MODULE
set -eu
floor=$(sed -n 's/.*starts on glibc \([0-9.]*\) or newer.*/\1/p' "$1")
newest=$(objdump -T "$2" "$3" | grep -o 'GLIBC_[0-9.]*' | cut -d_ -f2 | sort -uV | tail -n 1)
[ "$(printf '%s\n' "$newest" "$floor" | sort -V | tail -n 1)" = "$floor" ] ||
    { echo "glibc $newest needed, newer than the floor '$floor'"; exit 1; }
! objdump -T "$2" "$3" | grep -m 3 -E 'GLIBCXX_|CXXABI_|GCC_[0-9]' || exit 1
! objdump -p "$2" | grep NEEDED | grep -vE 'lib(c|m)\.so|ld-linux'
