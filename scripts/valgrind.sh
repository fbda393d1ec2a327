#!/usr/bin/env bash
# Runs the host program and the whole test program under valgrind memcheck:
# any memory error, and any block definitely, indirectly or possibly lost at
# exit, fails the run. Blocks still reachable at exit (the simulated
# system's locale object and code-page converters, kept for the process)
# are not leaks.
#
#   scripts/valgrind.sh [build dir]   (default: build/host, brought up to date first)
#
# The host program runs on its built-in sample machine and on a copy of
# examples/sample-enum.reg, in a single-byte and a double-byte code page,
# with and without failures; the test program runs every test. The tests
# have no death tests, so nothing forks under valgrind's watch.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
if [[ -z "$build" ]]; then
    (cd "$root" && cmake --preset host >/dev/null && cmake --build --preset host -j"$(nproc)" >/dev/null)
    build=$root/build/host
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Suppressions for what is not this program's doing.
cat >"$work/suppressions" <<'SUPP'
{
   glibc 2.36's loader compares rpath strings a word at a time (iconv loading its gconv modules)
   Memcheck:Addr8
   fun:strncmp
   fun:is_dst
   ...
}
SUPP

memcheck() {
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
        --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
        --track-origins=yes --suppressions="$work/suppressions" -q "$@"
}

failed=0
# run LABEL [NAME=VALUE...] PROGRAM [ARG...]: the assignments are the
# simulated machine's environment.
run() {
    local label=$1
    shift
    local assignments=()
    while [[ $# -gt 0 && $1 == *=* ]]; do
        assignments+=("$1")
        shift
    done
    local status=0
    ( [[ ${#assignments[@]} -eq 0 ]] || export "${assignments[@]}"; memcheck "$@") >"$work/out" 2>"$work/err" || status=$?
    # The programs' own statuses are 0 to 3; valgrind's is 99.
    if [[ $status -gt 3 ]] || grep -q '^==[0-9]*==' "$work/err"; then
        echo "valgrind: $label: FAILED (status $status)" >&2
        cat "$work/err" >&2
        failed=1
    else
        echo "valgrind: $label: clean (status $status, $(wc -l <"$work/out") lines of output)"
    fi
}

cp "$root/examples/sample-enum.reg" "$work/enum.reg"
run "hwpurge on the built-in sample" "$build/hwpurge" 'USB\VID_1A2B'
run "hwpurge, no argument" "$build/hwpurge"
run "hwpurge, failing reads and removals" HWPURGE_SIM_FAULTS='remove=5,read@6=31' "$build/hwpurge" 'usb\vid_1a2b'
run "hwpurge on an export file, code page 932" HWPURGE_DEVICE_DB="$work/enum.reg" HWPURGE_ACP=932 \
    "$build/hwpurge" 'USB\VID_1A2B&PID_4100'
run "hwpurge on the rewritten export file" HWPURGE_DEVICE_DB="$work/enum.reg" "$build/hwpurge" 'USB\VID_1A2B'
run "hwpurge-preview on the built-in sample, JSON, code page 932" HWPURGE_ACP=932 \
    "$build/hwpurge-preview" --json 'USB\VID_1A2B'
run "hwpurge-preview, a failing read" HWPURGE_SIM_FAULTS='read@6=31' "$build/hwpurge-preview" 'usb\vid_1a2b'

status=0
memcheck "$build/tests/hwpurge_tests" --gtest_brief=1 >"$work/tests" 2>&1 || status=$?
if [[ $status -ne 0 ]] || grep -q '^==[0-9]*==' "$work/tests"; then
    echo "valgrind: hwpurge_tests: FAILED (status $status)" >&2
    grep -v '^\[' "$work/tests" | tail -n 60 >&2
    failed=1
else
    echo "valgrind: hwpurge_tests: clean; $(grep -E '^\[  PASSED  \]' "$work/tests")"
fi
exit $failed
