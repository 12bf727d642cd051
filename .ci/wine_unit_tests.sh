#!/usr/bin/env bash
# Runs the unit tests of the portable code as Windows programs under wine64.
# Usage: .ci/wine_unit_tests.sh BUILD_DIR   (a mingw64-test build)
set -euo pipefail
build=$(cd "${1:?usage: wine_unit_tests.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
cd "$work"
status=0
for exe in "$build"/tests/*_tests.exe; do
    name=$(basename "$exe" .exe)
    # Output goes to a file: wine's background processes keep inherited pipes open.
    if /usr/lib/wine/wine64 "$exe" >"$work/$name.txt" 2>&1; then
        echo "$name: $(grep -a -E '^\[  PASSED  \]' "$work/$name.txt" | tr -d '\r')"
    else
        echo "$name: FAILED"
        grep -a -E '^\[  FAILED  \]|Failure' -A6 "$work/$name.txt" | tr -d '\r' | head -60
        status=1
    fi
done
exit $status
