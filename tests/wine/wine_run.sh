#!/bin/sh
# Runs a Windows program under Wine, quietly, in the prefix that WINEPREFIX names (the build
# folder's own, made fresh once per test run by make_prefix.sh), through the loader that
# PELLATRIX_WINE names for this build.
: "${WINEPREFIX:?WINEPREFIX must name the test run's Wine prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko install prompts: the programs need neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine="${PELLATRIX_WINE:-wine}"
if ! "$wine" --version >/dev/null 2>&1; then
    echo "this kernel runs no 32-bit code: the 32-bit Windows build is built but not tested"
    exit 77
fi
# Windows programs make windows (Form1's, message boxes): give them a virtual X display.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    exec xvfb-run -a "$wine" "$@"
fi
exec "$wine" "$@"
