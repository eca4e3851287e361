#!/bin/sh
# Makes a fresh Wine prefix for one test run: removes the old one, boots a new one and waits
# until Wine has finished writing it.
set -eu
prefix="${1:?usage: make_prefix.sh PREFIX}"
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
# Wine shows names that begin with "." as hidden by default; Windows and the Linux build do
# not, and the tests expect the same attributes from every platform.
wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /t REG_SZ /d Y /f >/dev/null 2>&1
wineserver -w
test -d "$prefix/drive_c/windows"
