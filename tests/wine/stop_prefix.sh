#!/bin/sh
# Stops the test run's Wine server, if it is still running, so that no process outlives the run.
: "${WINEPREFIX:?WINEPREFIX must name the test run's Wine prefix}"
export WINEPREFIX
wineserver -k 2>/dev/null || true # already gone: nothing to stop
