#!/usr/bin/env bash
# The main job on demo data: builds the programs, writes a simulated proxy installation under
# ./demo (logs of 400 days up to Friday 31 July 2026, the last day of a month), runs one cycle
# before the report hour and one at it (so all thirteen summary files and all six reports
# appear), prints the summary tables, and mails the reports to a local sink. The installation
# also gets the HTML twins of its reports and the dashboard page, whose paths it prints last.
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
# The cycle starts the mail sender from the installation directory, as the service does.
cp "$bin/mailer/postvane" "$demo/app/"
# Pages for people beside the files for the proxy; the XML and summary files stay the same.
"$bin/tools/tallyctl" report set --format xml+html --dashboard 1

echo "== cycle before the report hour (writes the summary files the weekly and monthly reports read)"
"$bin/tools/tallyctl" cycle --at "2026-07-31 17:58:00" --no-pause --quiet

# With no SMTP server configured, the mail goes to tallyctl's loopback sink, which saves it as
# an .eml file. It is stopped when the script ends, whatever the way.
sink_pid=""
trap '[ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null; true' EXIT
server=$("$bin/tools/tallyctl" smtp show | sed -n 's/^server: *//p')
if [ -z "$server" ]; then
    echo "== no SMTP server configured: a loopback sink takes the mail"
    "$bin/tools/tallyctl" sink --port 0 --port-file "$demo/sink.port" --out "$demo/mail" \
        --timeout 600 >"$demo/sink.log" 2>&1 &
    sink_pid=$!
    for _ in $(seq 100); do
        [ -s "$demo/sink.port" ] || ! kill -0 "$sink_pid" 2>/dev/null && break
        sleep 0.1
    done
    if [ ! -s "$demo/sink.port" ]; then
        cat "$demo/sink.log" >&2
        echo "run-demo: the mail sink did not start" >&2
        exit 1
    fi
    "$bin/tools/tallyctl" smtp set --server 127.0.0.1 --port "$(cat "$demo/sink.port")" \
        --auth None --to admin@example.com
fi

echo "== cycle at the report hour (18): all six reports, then the mail sender"
"$bin/tools/tallyctl" cycle --at "2026-07-31 18:00:05" --no-pause

echo "== summary files"
"$bin/tools/tallyctl" show "$demo/app"
echo
echo "Summary files and reports are in $demo/app/Logs:"
ls -l "$demo/app/Logs" | grep -E 'brisko\.|\.xml|\.html' || true
echo "Files handed to the mail sender:"
"$bin/tools/tallyctl" reg query 'HKLM\SOFTWARE\BriskoFilter' /v ToSendFile || true

if [ -n "$sink_pid" ]; then
    echo "== the mail"
    # The sender runs on its own; the sink ends once it has saved the message.
    for _ in $(seq 600); do
        kill -0 "$sink_pid" 2>/dev/null || break
        sleep 0.1
    done
    sink_status=0
    if kill -0 "$sink_pid" 2>/dev/null; then
        kill "$sink_pid"
        sink_status=1
    fi
    wait "$sink_pid" || sink_status=$?
    sink_pid=""
    eml=$(sed -n 's/^saved //p' "$demo/sink.log" | head -n 1)
    if [ "$sink_status" -ne 0 ] || [ -z "$eml" ]; then
        cat "$demo/sink.log" >&2
        echo "run-demo: no mail reached the sink" >&2
        exit 1
    fi
    echo "The reports were mailed; the message is saved as $eml with the attachments:"
    grep -o 'filename="[^"]*"' "$eml" | sed 's/^filename="//; s/"$//; s/^/  /'
fi

echo "== pages to open in a browser"
echo "  dashboard: $demo/app/Logs/summary.html"
for page in "$demo"/app/Logs/*.html; do
    [ "$(basename "$page")" = summary.html ] || echo "  report:    $page"
done
