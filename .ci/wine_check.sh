#!/usr/bin/env bash
# Windows checks under wine (wine64 for a mingw64 build, wine for a mingw32 build; a machine
# that cannot run 32-bit programs skips an i686 build and says so): the service registers,
# starts through the service control manager, reports running, logs "Service started" to the
# event log, stops while the worker is inside a pause and logs "Service stopped", and
# unregisters; run from a console it prints "Service started"; a missing apppath stops the
# service with its message. A failure names the step and shows the tail of wine's log.
# Usage: .ci/wine_check.sh BUILD_DIR   (a mingw64 or mingw32 build with Tallyvane.exe and
# tallyctl.exe)
set -euo pipefail
. "$(dirname "$0")/wine_loader.sh"
build=$(cd "${1:?usage: wine_check.sh BUILD_DIR}" && pwd)
[[ -x /usr/lib/wine/wine64 ]] || { echo "wine64 is not installed"; exit 1; }
if ! wine=$(wine_loader "$build/service/Tallyvane.exe" 2>&1); then
    echo "SKIPPED $build: $wine"
    exit 0
fi

work=$(mktemp -d)
# +eventlog prints each event's string, fixme+advapi the type and ID of the same call.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all,+eventlog,fixme+advapi
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
log="$work/wine.log"       # wine's own output: the event log trace lands here
exe="$build/service/Tallyvane.exe"
ctl="$build/tools/tallyctl.exe"
mkdir -p "$work/app/Logs"
apppath="Z:${work//\//\\}\\app\\"

# The waits below are hang guards: each is many times what the step takes on an idle machine
# (an emulated 32-bit wine is some ten times slower than a native one), so a busy machine
# still passes and only a step that never happens fails.
current="setting up the wine prefix"
step() { current="$*"; echo "-- $*"; }
fail() {
    echo "FAIL in step '$current': $*"
    echo "--- the last 60 lines of wine's log ($build)"
    tail -n 60 "$log" || true
    exit 1
}
run() { "$wine" "$@" >>"$work/out.txt" 2>>"$log"; }
state() { "$wine" sc query Tallyvane 2>>"$log" | tr -d '\r' | awk '/STATE/ {print $4}'; }
wait_state() {  # wait_state STATE SECONDS
    local deadline=$(( $(date +%s%N) + $2 * 1000000000 ))
    while (( $(date +%s%N) < deadline )); do
        [[ "$(state)" == "$1" ]] && return 0
        sleep 0.1
    done
    return 1
}
# logged TEXT: true once TEXT is in wine's log. An event is written a moment after the state
# it follows (the stop event before the process ends); an emulated 32-bit program takes a few
# seconds more than a native one.
logged() {
    local deadline=$(( $(date +%s%N) + 60 * 1000000000 ))
    until grep -aqF "$1" "$log"; do
        (( $(date +%s%N) < deadline )) || return 1
        sleep 0.1
    done
}

# event_ids TEXT: "TYPE ID" of the event whose string is TEXT, from the call's fixme line on
# the same thread just before it.
event_ids() {
    awk -v text="ReportEventW L\"$1\"" '
        /fixme:advapi:ReportEventW \(/ { split($0, t, ":"); split($0, f, ","); last[t[1]] = f[2] " " f[4] }
        index($0, text) { split($0, t, ":"); print last[t[1]]; exit }' "$log"
}
carries() {  # carries TEXT TYPE ID
    [[ "$(event_ids "$1")" == "$2 $3" ]] ||
        fail "'$1' logged as type and ID '$(event_ids "$1")', not '$2 $3'"
}

cd "$work"
/usr/lib/wine/wine64 wineboot --init >>"$log" 2>&1 || fail "wine prefix could not be created"
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p >>"$log" 2>&1  # keeps services alive between sc commands
run "$ctl" reg add 'HKLM\SOFTWARE\BriskoFilter' /v apppath /t REG_SZ /d "$apppath" /f

step "register as a service"
run "$exe" -Service || fail "-Service exited with $?"
"$wine" sc query Tallyvane >/dev/null 2>>"$log" || fail "service not registered"
sources='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application'
for source in Tallyvane Postvane; do
    "$wine" reg query "$sources\\$source" /v EventMessageFile 2>>"$log" | grep -qi 'Tallyvane.exe' ||
        fail "event source $source not registered"
done

step "start through the service control manager"
run sc start Tallyvane
wait_state RUNNING 120 || fail "service did not report running"
logged 'ReportEventW L"Service started"' || fail "no 'Service started' in the event log"
carries 'Service started' 0x0004 0x40000001  # information, message 1

step "stop while the worker is inside a pause"
sleep 1
start=$(date +%s%N)
run sc stop Tallyvane
# A stop takes some 200 ms natively (printed below); the bound only catches one that never ends.
wait_state STOPPED 60 || fail "service did not stop within 60 s"
echo "   stopped in $(( ($(date +%s%N) - start) / 1000000 )) ms"
logged 'ReportEventW L"Service stopped"' || fail "no 'Service stopped' in the event log"
carries 'Service stopped' 0x0004 0x40000002  # information, message 2

step "unregister"
run "$exe" -UnregServer || fail "-UnregServer exited with $?"
if "$wine" sc query Tallyvane >/dev/null 2>>"$log"; then fail "service still registered"; fi
if "$wine" reg query "$sources\\Tallyvane" >/dev/null 2>>"$log"; then fail "event source left"; fi

step "run from a console as an ordinary process"
run "$exe" -RegServer || fail "-RegServer exited with $?"
"$wine" "$exe" >"$work/console.txt" 2>>"$log" &
console=$!
for _ in $(seq 600); do grep -q 'Service started' "$work/console.txt" && break; sleep 0.1; done
grep -q 'Service started' "$work/console.txt" || fail "no 'Service started' on standard output"
# Gone before the next step registers the service again.
kill "$console" 2>/dev/null || true
for _ in $(seq 300); do kill -0 "$console" 2>/dev/null || break; sleep 0.1; done
kill -9 "$console" 2>/dev/null || true
wait "$console" 2>/dev/null || true

step "a missing apppath stops the service at once"
run "$ctl" reg delete 'HKLM\SOFTWARE\BriskoFilter' /v apppath /f
run "$exe" -Service || fail "-Service exited with $?"
run sc start Tallyvane
wait_state STOPPED 60 || fail "service without apppath did not stop"
logged 'Unable to get the Brisko Web Proxy path from registry. Please reinstall the application in order to fix this problem' ||
    fail "no missing-path message in the event log"
carries 'Unable to get the Brisko Web Proxy path from registry. Please reinstall the application in order to fix this problem' \
    0x0001 0xc0000005  # error, message 5
run "$exe" -UnregServer

echo "wine service checks passed"
