#!/usr/bin/env bash
# Installs what the tests need where it is missing (Debian packages, see
# scripts/install-deps.sh), then builds hwpurge every way it is built and
# runs every test: the host program and its tests, the same under
# AddressSanitizer and UBSan, Release builds with g++ and clang++ (warnings
# are errors in all of them), hwpurge.exe under Wine, a bounded fuzzing run,
# valgrind memcheck, the static checks (clang-format, clang-tidy, cppcheck,
# actionlint on the CI workflows), and the release check (reproducible
# package, signature re-attached).
# Anything missing fails the run; nothing is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

step() { printf '\n== %s\n' "$*"; }

step "what the tests need"
bash scripts/install-deps.sh tests

for preset in host sanitize gcc-release clang-release; do
    step "$preset: build and tests"
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

step "hwpurge.exe under Wine"
bash scripts/wine-tests.sh

step "fuzzing (libFuzzer, bounded time)"
bash scripts/fuzz.sh 20

step "valgrind memcheck"
bash scripts/valgrind.sh

step "static checks"
bash scripts/static-checks.sh

step "release check"
bash scripts/release-check.sh

step "all tests passed"
