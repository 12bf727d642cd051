#!/usr/bin/env bash
# The Debian package on this machine: it installs (programs on the path, the unit, the
# service's user, the registry file 0600), a package of a higher version upgrades it keeping
# the registry file byte for byte, "dpkg -r" removes programs and unit and keeps /etc/brisko
# and the logs, "dpkg -P" removes /etc/brisko too; lintian reports no error. Runs as root and
# leaves nothing installed. A machine that already has the package or /etc/brisko is refused.
# Usage: .ci/deb_check.sh BUILD_DIR   (a Linux release build)
set -euo pipefail
build=$(cd "${1:?usage: deb_check.sh BUILD_DIR}" && pwd)
work=$(mktemp -d)
fail() { echo "FAIL: $*"; exit 1; }
dpkg-query -W tallyvane >/dev/null 2>&1 && fail "tallyvane is installed here already"
[[ -e /etc/brisko ]] && fail "/etc/brisko exists here already"
trap 'dpkg -P tallyvane >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

cmake --build "$build" >/dev/null
version=$(cd "$build" && cpack -G DEB -B "$work/old" 2>&1 |
    sed -nE 's/.*package: .*tallyvane_([^_]+)_.*/\1/p')
old=$(ls "$work"/old/tallyvane_*.deb)
# The same programs as a higher version, as the next release would be.
higher="$version.1"
(cd "$build" && cpack -G DEB -B "$work/new" -R "$higher" >/dev/null)
new=$(ls "$work"/new/tallyvane_*.deb)

echo "-- lintian $(basename "$old")"
lintian --tag-display-limit 0 "$old" >"$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
grep -q '^E:' "$work/lintian.txt" && fail "lintian reports errors"

echo "-- install"
dpkg -i "$old" >/dev/null || fail "dpkg -i failed"
for program in tallyvane postvane tallyctl; do
    [[ "$(command -v "$program")" == /usr/bin/$program ]] || fail "$program not on the path"
done
[[ -f /lib/systemd/system/tallyvane.service ]] || fail "no unit"
grep -qx 'ExecStart=/usr/bin/tallyvane' /lib/systemd/system/tallyvane.service ||
    fail "the unit does not start /usr/bin/tallyvane"
getent passwd tallyvane >/dev/null || fail "no tallyvane user"
[[ "$(stat -c '%a %U' /etc/brisko/registry.reg)" == "600 tallyvane" ]] ||
    fail "registry file is $(stat -c '%a %U' /etc/brisko/registry.reg), not 600 tallyvane"
export BRISKO_REGISTRY=/etc/brisko/registry.reg
tallyctl reg add 'HKLM\SOFTWARE\BriskoFilter' /v apppath /t REG_SZ /d "$work/app/" /f >/dev/null ||
    fail "tallyctl cannot write the settings"
tallyctl reg add 'HKLM\SOFTWARE\BriskoFilter' /v ReportTime /t REG_SZ /d 7 /f >/dev/null
mkdir -p "$work/app/Logs" && echo kept >"$work/app/Logs/01_01_2026_client.log"
[[ "$(stat -c '%a %U' /etc/brisko/registry.reg)" == "600 tallyvane" ]] ||
    fail "a write by root took the registry file from the service"
cp -p /etc/brisko/registry.reg "$work/registry.before"

echo "-- upgrade to $higher"
dpkg -i "$new" >/dev/null || fail "dpkg -i of $higher failed"
[[ "$(dpkg-query -W -f='${Version}' tallyvane)" == "$higher" ]] || fail "$higher not installed"
cmp -s /etc/brisko/registry.reg "$work/registry.before" || fail "the upgrade changed the registry file"

echo "-- remove"
dpkg -r tallyvane >/dev/null || fail "dpkg -r failed"
for program in tallyvane postvane tallyctl; do
    [[ ! -e /usr/bin/$program ]] || fail "$program left behind"
done
[[ ! -e /lib/systemd/system/tallyvane.service ]] || fail "unit left behind"
cmp -s /etc/brisko/registry.reg "$work/registry.before" || fail "dpkg -r changed the registry file"
[[ -f "$work/app/Logs/01_01_2026_client.log" ]] || fail "logs removed"

echo "-- purge"
dpkg -P tallyvane >/dev/null || fail "dpkg -P failed"
[[ ! -e /etc/brisko ]] || fail "/etc/brisko left behind"

echo "deb checks passed ($(basename "$old"), upgraded to $higher)"
