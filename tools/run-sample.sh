#!/usr/bin/env bash
# Builds the Linux program and runs it on the sample medium in examples/medium, as a person
# would run it from a CD: with the medium as its current directory. The copies land in
# "C:\Tolvex\Model\", which on Linux is $XDG_DATA_HOME/Tolvex/Model (~/.local/share/Tolvex/Model).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux
cd examples/medium
exec ../../build/linux/pellatrix
