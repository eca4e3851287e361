#!/bin/sh
# Makes the test run's Wine prefix afresh (WINEPREFIX, and the rest of the Wine environment, from
# CTest): boots a new one and waits until Wine has finished writing it. The 64-bit loader makes
# it, since it starts on every kernel; the prefix serves 32- and 64-bit programs alike.
set -eu
rm -rf "$WINEPREFIX" # in the build folder (tests/wine/cross_testing.cmake)
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=wine
WINELOADER="$wine64" "$wine64" wineboot -i >/dev/null 2>&1
# Wine shows names that begin with "." as hidden by default; Windows and the Linux build do not.
"$wine64" reg add 'HKCU\Software\Wine' /v ShowDotFiles /t REG_SZ /d Y /f >/dev/null 2>&1
# Windows on Wine's virtual desktop: there a message box closes at once, where on a bare Xvfb,
# with no window manager, Wine waits two seconds for each closed window.
"$wine64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$wine64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wineserver -w
test -d "$WINEPREFIX/drive_c/windows"
