#!/bin/sh
# Runs a Windows test program under Wine, through the loader that PELLATRIX_WINE names for this
# build, in the environment that CTest gives (tests/wine/cross_testing.cmake); on a virtual X
# display where there is none, since Windows programs make windows. With --host first, runs a
# host program that starts Windows programs itself (the e2e harness, with its own display).
# Either way skipped, saying why, where the loader cannot start.
if ! "$PELLATRIX_WINE" --version >/dev/null 2>&1; then
    echo "this kernel runs no 32-bit code: the 32-bit Windows build is built but not tested"
    exit 77
fi
if [ "${1:-}" = --host ]; then
    shift
    exec "$@"
fi
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a "$PELLATRIX_WINE" "$@"
fi
exec "$PELLATRIX_WINE" "$@"
