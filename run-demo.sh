#!/usr/bin/env bash
# The main job on demo data: builds the programs, writes a simulated proxy installation under
# ./demo (logs of 400 days up to Friday 31 July 2026, the last day of a month), runs one cycle
# before the report hour and one at it (so all thirteen summary files and all six reports
# appear), prints the summary tables, and mails the reports to a local sink.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)"

bin=build/linux
demo="$PWD/demo"
rm -rf "$demo"
mkdir -p "$demo"
export BRISKO_REGISTRY="$demo/registry.reg"

"$bin/tools/tallyctl" simulate --app "$demo/app" --days 400 --clients 12 --seed 7 --until 2026-07-31
cp "$bin/mailer/postvane" "$demo/app/" 2>/dev/null || true

echo "== cycle before the report hour (writes the summary files the weekly and monthly reports read)"
"$bin/tools/tallyctl" cycle --at "2026-07-31 17:58:00" --no-pause --quiet
echo "== cycle at the report hour (18): all six reports, then the mail sender"
"$bin/tools/tallyctl" cycle --at "2026-07-31 18:00:05" --no-pause

echo "== summary files"
"$bin/tools/tallyctl" show "$demo/app"
echo
echo "Summary files and reports are in $demo/app/Logs:"
ls -l "$demo/app/Logs" | grep -E 'brisko\.|\.xml' || true
echo "Files handed to the mail sender:"
"$bin/tools/tallyctl" reg query 'HKLM\SOFTWARE\BriskoFilter' /v ToSendFile || true
