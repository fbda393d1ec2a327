#!/usr/bin/env bash
# Builds hwpurge every way it is built and runs every test: the host program
# and its tests, the same under AddressSanitizer and UBSan, and hwpurge.exe
# under Wine; then a bounded fuzzing run, valgrind memcheck and the static
# checks (clang-format, clang-tidy, cppcheck).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

step() { printf '\n== %s\n' "$*"; }

step "host build and tests"
cmake --preset host
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"

step "host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

step "hwpurge.exe under Wine"
bash scripts/wine-tests.sh

step "fuzzing (libFuzzer, bounded time)"
bash scripts/fuzz.sh 20

step "valgrind memcheck"
bash scripts/valgrind.sh

step "static checks"
bash scripts/static-checks.sh
