#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one from its committed seed
# corpus for a bounded time. Exits non-zero on any finding: a crash, a
# sanitizer report, a broken property, a timeout or running out of memory.
#
#   scripts/fuzz.sh [seconds per target]   (default 30; three targets)
#
# New inputs go to build/fuzz/corpus/<target>; the committed seeds in
# fuzz/corpus/<target> are only read. Findings are left in
# build/fuzz/findings/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build="$root/build/fuzz"

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

rm -rf "$build/findings"
mkdir -p "$build/findings"
status=0
for seeds in "$root"/fuzz/corpus/*/; do
    name=$(basename "$seeds")
    target="$build/${name}_fuzz"
    if [[ ! -x "$target" ]]; then
        echo "fuzz: no target built for the corpus $name" >&2
        status=1
        continue
    fi
    work="$build/corpus/$name"
    mkdir -p "$work"
    echo "fuzz: $name for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/findings/${name}-" "$work" "$seeds" >"$build/$name.log" 2>&1; then
        echo "fuzz: $name FAILED; the end of $build/$name.log:" >&2
        tail -n 40 "$build/$name.log" >&2
        status=1
        continue
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' "$build/$name.log" || true
done
if compgen -G "$build/findings/*" >/dev/null; then
    echo "fuzz: findings left in $build/findings:" >&2
    ls -l "$build/findings" >&2
    status=1
fi
exit $status
