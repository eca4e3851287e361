#!/usr/bin/env bash
# Builds the Linux program and runs it on the sample medium in examples/medium, as a person
# would run it from a CD: with the medium as its current directory. The copies land in
# "C:\Tolvex\Model\", which on Linux is $XDG_DATA_HOME/Tolvex/Model (~/.local/share/Tolvex/Model).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux
cd examples/medium
# Git keeps no read-only bit: make the sample's read-only files read-only again, as a CD
# delivers them, so that the run shows the walk making their copies writable.
chmod a-w Model/model.ini Model/textures/checker.pbm
exec ../../build/linux/pellatrix
