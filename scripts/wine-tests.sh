#!/bin/sh
# Builds hwpurge.exe with MinGW-w64 and runs its tests under Wine, installing
# the cross compiler and Wine first where they are missing. The export cases
# compare hwpurge.exe with the host program, which is built here too (the demo
# preset: nothing beyond CMake and a compiler). A missing tool fails the run.
# Extra arguments go to ctest (e.g. -V).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/install-deps.sh windows

cmake --preset demo >/dev/null
cmake --build --preset demo -j "$jobs"
cmake --preset mingw -DHWPURGE_HOST_PROGRAM="$PWD/build/demo/hwpurge"
cmake --build --preset mingw -j "$jobs"
ctest --preset mingw "$@"
