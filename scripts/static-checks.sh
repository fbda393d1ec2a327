#!/usr/bin/env bash
# Static checks: the tree follows .clang-format, and clang-tidy (.clang-tidy)
# and cppcheck find nothing. Needs the host build's compile_commands.json.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
[ -f "$build/compile_commands.json" ] || cmake --preset host >/dev/null

echo "clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "clang-tidy"
git ls-files 'cli/*.cpp' 'removal/*.cpp' 'platform/host/*.cpp' |
  xargs -P "$(nproc 2>/dev/null || echo 2)" -n 1 clang-tidy -p "$build" --quiet 2>/dev/null

echo "cppcheck"
# cstyleCast: INVALID_HANDLE_VALUE and friends are the platform's own casts.
# constParameter: the simulated functions keep Windows' exact signatures.
cppcheck --enable=warning,style,performance,portability --std=c++17 --inline-suppr --error-exitcode=1 -q \
  -I . --library=googletest -D__linux__ \
  --suppress=useStlAlgorithm --suppress=missingIncludeSystem --suppress=cstyleCast \
  --suppress=constParameter:platform/host/setupapi.cpp --suppress=constParameter:platform/host/kernel32.cpp \
  cli removal platform/host tests/*.cpp tests/facts fuzz bench
echo "static checks clean"
