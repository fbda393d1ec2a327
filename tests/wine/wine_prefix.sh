#!/bin/sh
# Boots a fresh Wine prefix for one test run and keeps its server up until
# the run ends, so every case starts in well under a second.
# usage: wine_prefix.sh boot|stop   (WINE, WINESERVER and WINEPREFIX set)
set -eu
case "$1" in
boot)
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # Output to a file: a server left running must not hold the test's pipe.
    # Two minutes after its last client at most, should the stop case never run.
    "$WINESERVER" -p120 </dev/null >/dev/null 2>&1
    log="$WINEPREFIX.boot.log"
    if ! "$WINE" wineboot -i >"$log" 2>&1; then
        cat "$log"
        echo "wineboot failed"
        exit 1
    fi
    echo "prefix ready: $WINEPREFIX"
    ;;
stop)
    "$WINESERVER" -k >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 boot|stop" >&2
    exit 2
    ;;
esac
