#!/usr/bin/env bash
# Runs the unit tests of the portable code as Windows programs under wine (wine64 for a
# mingw64 or mingw64-test build, wine for an i686 one). A machine that cannot run 32-bit
# programs skips an i686 build and says so.
# Usage: .ci/wine_unit_tests.sh BUILD_DIR   (a Windows build configured with TALLY_BUILD_TESTS=ON)
set -euo pipefail
. "$(dirname "$0")/wine_loader.sh"
build=$(cd "${1:?usage: wine_unit_tests.sh BUILD_DIR}" && pwd)
exes=("$build"/tests/*_tests.exe)
[[ -f ${exes[0]} ]] || { echo "no test programs in $build"; exit 1; }
if ! wine=$(wine_loader "${exes[0]}" 2>&1); then
    echo "SKIPPED $build: $wine"
    exit 0
fi
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
cd "$work"
status=0
for exe in "${exes[@]}"; do
    name=$(basename "$exe" .exe)
    # Output goes to a file: wine's background processes keep inherited pipes open.
    if "$wine" "$exe" >"$work/$name.txt" 2>&1; then
        echo "$name: $(grep -a -E '^\[  PASSED  \]' "$work/$name.txt" | tr -d '\r')"
    else
        echo "$name: FAILED"
        grep -a -E '^\[  FAILED  \]|Failure' -A6 "$work/$name.txt" | tr -d '\r' | head -60
        status=1
    fi
done
exit $status
