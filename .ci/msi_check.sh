#!/usr/bin/env bash
# The Windows installer package under wine: installing with APPPATH puts the programs into
# Program Files, registers the service (automatic start) and starts it, registers both event
# sources and sets apppath; a package of a higher version upgrades in place (one product, one
# service, apppath kept); uninstalling removes programs, service, event sources and the
# service's registrations and keeps the settings key and the proxy's Logs.
# Usage: .ci/msi_check.sh BUILD_DIR   (a mingw64 or mingw32 build; builds its "msi" target)
set -euo pipefail
. "$(dirname "$0")/wine_loader.sh"
build=$(cd "${1:?usage: msi_check.sh BUILD_DIR}" && pwd)
wxs=$(cd "$(dirname "$0")/.." && pwd)/packaging/windows/tallyvane.wxs
cmake --build "$build" --target msi >/dev/null
msi=$(ls "$build"/Tallyvane-*.msi | head -n 1)
if ! wine=$(wine_loader "$build/service/Tallyvane.exe" 2>&1); then
    echo "SKIPPED $build: $wine"
    exit 0
fi
case "$msi" in *-x64.msi) arch=x64 programs='C:\Program Files\Tallyvane' ;;
                *) arch=x86 programs='C:\Program Files (x86)\Tallyvane' ;; esac

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
log="$work/wine.log"
mkdir -p "$work/app/Logs"
echo kept >"$work/app/Logs/01_01_2026_client.log"
apppath="Z:${work//\//\\}\\app\\"
fail() { echo "FAIL: $*"; echo "--- wine log"; tail -n 40 "$log" || true; exit 1; }
w() { /usr/lib/wine/wine64 "$@" 2>>"$log" | tr -d '\r'; }
ctl() { "$wine" "$programs\\tallyctl.exe" "$@" 2>>"$log" | tr -d '\r'; }
exists() { [[ -e "$(/usr/lib/wine/wine64 winepath -u "$1" 2>>"$log")" ]]; }
has_key() { /usr/lib/wine/wine64 reg query "$1" >/dev/null 2>>"$log"; }
state() { w sc query Tallyvane | awk '/STATE/ {print $4}'; }
wait_state() {  # wait_state STATE SECONDS
    local deadline=$(( $(date +%s) + $2 ))
    until [[ "$(state)" == "$1" ]]; do
        (( $(date +%s) < deadline )) || return 1
        sleep 0.2
    done
}
eventlog='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'
# The installed products' entries; a 32-bit package's are in the 32-bit view.
uninstall_entries() {
    w reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s
    w reg query 'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall' /s || true
}
products() { uninstall_entries | grep -c 'DisplayName.*Tallyvane and Postvane' || true; }

cd "$work"
/usr/lib/wine/wine64 wineboot --init >>"$log" 2>&1 || fail "wine prefix could not be created"
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p >>"$log" 2>&1  # keeps services alive between commands

echo "-- install $(basename "$msi") with APPPATH"
w msiexec /i "$msi" /qn APPPATH="${apppath%\\}" >/dev/null || fail "msiexec /i failed"
for exe in Tallyvane.exe Postvane.exe tallyctl.exe; do
    exists "$programs\\$exe" || fail "$exe not installed"
done
service='HKLM\SYSTEM\CurrentControlSet\Services\Tallyvane'  # wine's sc has no "qc"
w reg query "$service" /v Start | grep -q '0x2' || fail "service not registered for automatic start"
w reg query "$service" /v ImagePath | grep -qF "$programs\Tallyvane.exe" || fail "service's program"
wait_state RUNNING 30 || fail "service did not start"
for source in Tallyvane Postvane; do
    w reg query "$eventlog\\$source" /v EventMessageFile | grep -qF "$programs\\$source.exe" ||
        fail "event source $source not registered"
    w reg query "$eventlog\\$source" /v TypesSupported | grep -q '0x7' ||
        fail "event source $source: no TypesSupported"
done
# Given without its closing backslash, apppath gets one.
ctl reg query 'HKLM\SOFTWARE\BriskoFilter' /v apppath | grep -qF "$apppath" ||
    fail "apppath not set to $apppath"
ctl reg add 'HKLM\SOFTWARE\BriskoFilter' /v ReportTime /t REG_SZ /d 7 /f >/dev/null

echo "-- upgrade to a higher version, without APPPATH"
next="$work/next.msi"
version=$(basename "$msi" | sed -E 's/^Tallyvane-([0-9]+)\.([0-9]+)\.([0-9]+).*/\1.\2.\3/')
higher=$(awk -F. '{print $1 "." $2 "." $3 + 1}' <<<"$version")
(cd "$build/packaging/msi-files" && wixl -a "$arch" -D Arch="$arch" -D Version="$higher" \
    -D SourceDir=. -o "$next" "$wxs" 2>>"$log") ||
    fail "the higher version could not be built"
w msiexec /i "$next" /qn >/dev/null || fail "msiexec /i of $higher failed"
[[ "$(products)" == 1 ]] || fail "$(products) products installed after the upgrade, not one"
uninstall_entries | grep -q "DisplayVersion.*$higher" || fail "version $higher not installed"
[[ $(w reg query 'HKLM\SYSTEM\CurrentControlSet\Services' | grep -ci '\\Tallyvane$') == 1 ]] ||
    fail "not exactly one service entry"
w reg query "$service" /v Start | grep -q '0x2' || fail "service lost by the upgrade"
wait_state RUNNING 30 || fail "service not running after the upgrade"
ctl reg query 'HKLM\SOFTWARE\BriskoFilter' /v apppath | grep -qF "$apppath" || fail "apppath lost"

echo "-- uninstall"
w msiexec /x "$next" /qn >/dev/null || fail "msiexec /x failed"
[[ "$(products)" == 0 ]] || fail "the product is still installed"
for exe in Tallyvane.exe Postvane.exe tallyctl.exe; do
    ! exists "$programs\\$exe" || fail "$exe left behind"
done
if w sc query Tallyvane >/dev/null; then fail "service still registered"; fi
for key in "$eventlog\\Tallyvane" "$eventlog\\Postvane" \
    'HKCR\AppID\{1B9D4CC0-FE54-418D-BDDF-036639A2A4FE}' 'HKCR\AppID\Tallyvane.EXE'; do
    ! has_key "$key" || fail "$key left behind"
done
# The settings stay: read them with a tallyctl of the same architecture, now from the build.
ctl() { "$wine" "$build/tools/tallyctl.exe" "$@" 2>>"$log" | tr -d '\r'; }
ctl reg query 'HKLM\SOFTWARE\BriskoFilter' /v apppath | grep -qF "$apppath" || fail "apppath removed"
ctl reg query 'HKLM\SOFTWARE\BriskoFilter' /v ReportTime | grep -q 7 || fail "ReportTime removed"
[[ -f "$work/app/Logs/01_01_2026_client.log" ]] || fail "Logs removed"

echo "msi checks passed ($arch)"
