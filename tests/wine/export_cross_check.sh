#!/bin/sh
# One registry export through both programs: the host program reads a copy
# of it as its device database; Wine imports it with regedit and hwpurge.exe
# runs on Wine's SetupAPI. Both must print the same removal lines (in
# whatever order each system enumerates its nodes).
# usage: export_cross_check.sh <host hwpurge> <hwpurge.exe> <file.reg> <identifier>
# (WINE and WINEPREFIX set; the identifier must match none of Wine's own nodes)
set -eu
host=$1 exe=$2 export_file=$3 identifier=$4

if [ ! -x "$host" ]; then
    if [ "${CI:-}" = "true" ]; then
        echo "FAIL: the host program $host is not built"
        exit 1
    fi
    echo "SKIPPED: the host program $host is not built (cmake --preset host && cmake --build --preset host)"
    exit 77
fi

work=$(mktemp -d "${WINEPREFIX%/*}/export-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$export_file" "$work/enum.reg"
cp "$export_file" "$work/host-db.reg"

to_windows() { printf 'Z:%s\n' "$1" | tr / '\\'; }

"$WINE" regedit /S "$(to_windows "$work/enum.reg")"
HWPURGE_DEVICE_DB="$work/host-db.reg" "$host" "$identifier" >"$work/host.out" 2>"$work/host.err"
"$WINE" "$exe" "$identifier" >"$work/wine.out" 2>"$work/wine.raw"
# After a removal hwpurge reads the node's install parameters and the set's
# own; Wine has neither (the set's it refuses with error 87), so hwpurge
# reports that once and says Windows did not tell whether a restart is
# needed. Those lines are Wine's, and taken out here alone.
tr -d '\r' <"$work/wine.raw" | grep -v -e '^hwpurge: GetDeviceInstallParams(set) failed with error 87' \
    -e '^hwpurge: [0-9]* device nodes* may be removed only when Windows restarts$' >"$work/wine.err" || true
# A second run finds the nodes gone: the banner alone.
"$WINE" "$exe" "$identifier" >"$work/wine.again" 2>>"$work/wine.err"

grep '^ Removed: ' "$work/host.out" | sort >"$work/host.lines" || true
tr -d '\r' <"$work/wine.out" | grep '^ Removed: ' | sort >"$work/wine.lines" || true
echo "host program:"
cat "$work/host.lines"
echo "hwpurge.exe under Wine:"
cat "$work/wine.lines"
if [ ! -s "$work/host.lines" ]; then
    echo "FAIL: $identifier removes nothing from $export_file"
    exit 1
fi
if ! cmp -s "$work/host.lines" "$work/wine.lines"; then
    echo "FAIL: the removal lines differ"
    diff "$work/host.lines" "$work/wine.lines" || true
    exit 1
fi
if [ -s "$work/host.err" ] || [ -s "$work/wine.err" ]; then
    echo "FAIL: reports on standard error:"
    cat "$work/host.err" "$work/wine.err"
    exit 1
fi
if tr -d '\r' <"$work/wine.again" | grep -q '^ Removed: '; then
    echo "FAIL: a second run under Wine still finds nodes to remove"
    exit 1
fi
echo "same removal lines; the nodes are gone from Wine's database"
