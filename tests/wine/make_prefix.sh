#!/bin/sh
# Makes a fresh Wine prefix for one test run: removes the old one, boots a new one and waits
# until Wine has finished writing it. The 64-bit loader makes it, since it starts on every
# kernel; the prefix serves 32- and 64-bit programs alike.
set -eu
prefix="${1:?usage: make_prefix.sh PREFIX}"
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=wine
WINELOADER="$wine64" "$wine64" wineboot -i >/dev/null 2>&1
# Wine shows names that begin with "." as hidden by default; Windows and the Linux build do
# not, and the tests expect the same attributes from every platform.
"$wine64" reg add 'HKCU\Software\Wine' /v ShowDotFiles /t REG_SZ /d Y /f >/dev/null 2>&1
wineserver -w
test -d "$prefix/drive_c/windows"
