#!/usr/bin/env bash
# The alerts end to end: a simulated installation with injected log lines (a spike day, a
# client over its daily limit, a malware burst with hostile URLs and user names) run through
# `tallyctl cycle`, whose service-built worker hands each alert to the real mail sender; the
# loopback sink must receive exactly one mail per alert, a second cycle the same day none, and
# no injected header. Then the metrics file is checked with promtool and scraped through a
# real prometheus-node-exporter with its textfile collector.
# Usage: .ci/alerts_check.sh BUILD_DIR   (a Linux build holding tools/tallyctl, mailer/postvane)
set -euo pipefail
BUILD=$(cd "${1:?usage: alerts_check.sh BUILD_DIR}" && pwd)
TALLYCTL="$BUILD/tools/tallyctl"
POSTVANE="$BUILD/mailer/postvane"
die() { echo "alerts_check: $*" >&2; exit 1; }
say() { echo "alerts_check: $*"; }

if ! command -v promtool >/dev/null || ! command -v prometheus-node-exporter >/dev/null; then
    "$(dirname "$0")/../scripts/install-deps.sh" --packages prometheus prometheus-node-exporter curl
fi

WORK=$(mktemp -d)
SINK_PID="" EXPORTER_PID=""
cleanup() {
    [ -n "$SINK_PID" ] && kill "$SINK_PID" 2>/dev/null || true
    [ -n "$EXPORTER_PID" ] && kill "$EXPORTER_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
[ -n "${KEEP_WORK:-}" ] && trap - EXIT
export BRISKO_REGISTRY="$WORK/registry.reg"
APP="$WORK/app"
LOGS="$APP/Logs"

"$TALLYCTL" simulate --app "$APP" --days 40 --clients 3 --seed 7 --until 2026-07-31 >/dev/null ||
    die "simulate failed"
# The service would start the sender from the proxy's directory.
cp "$POSTVANE" "$APP/"

b64() { printf '%s' "$1" | base64 -w0; printf '\r\n'; }
record() { b64 "$1*GET http://files.example.com/big.iso HTTP/1.1 Time:09:30:00"; }
# A history of 300 MB a day keeps 192.168.10.11's 600 MB today from being a spike.
for back in $(seq 1 28); do
    stamp=$(date -d "2026-07-31 12:00 $back days ago" +%d_%m_%Y)
    record 314572800 >>"$LOGS/${stamp}_192.168.10.11"
done
record 157286400 >>"$LOGS/31_07_2026_192.168.10.10"  # 150 MB: a spike, under the limit
record 629145600 >>"$LOGS/31_07_2026_192.168.10.11"  # 600 MB: over the limit
long=$(head -c 3000 /dev/zero | tr '\0' 'x')
for t in 09:10:01 09:10:02 09:10:03; do
    b64 "31/07/2026 192.168.10.12 - $t http://bad.example/$long?$(printf '\r\nBcc:evil@example.com\xe9') Malware_Sites " \
        >>"$LOGS/Filter_31_07_2026.log"
done
users=$(cat "$APP/brisko.users")
{ b64 "$(printf 'mallory\r\nBcc: evil@example.com\xe9')|192.168.10.12"; printf '%s' "$users"; } \
    >"$APP/brisko.users"

"$TALLYCTL" alerts set --daily-mb 500 --spike-factor 3 --spike-min-mb 100 \
    --filters "Malware Sites,Phishing" --filter-count 3 --metrics-file "$WORK/textfile/tallyvane.prom"
mkdir -p "$WORK/textfile" "$WORK/sink"

"$TALLYCTL" sink --out "$WORK/sink" --port-file "$WORK/port" --count 4 --timeout 60 \
    >"$WORK/sink.log" 2>&1 &
SINK_PID=$!
for _ in $(seq 50); do [ -s "$WORK/port" ] && break; sleep 0.1; done
[ -s "$WORK/port" ] || die "the sink did not start"
"$TALLYCTL" smtp set --server 127.0.0.1 --port "$(cat "$WORK/port")" --auth None \
    --to "Alert Desk <alerts@example.com>" --from "tallyvane@example.com" >/dev/null

"$TALLYCTL" cycle --at "2026-07-31 10:00:00" --no-pause --quiet >"$WORK/cycle1.log"
# The sender runs detached: wait for the three mails, bounded.
for _ in $(seq 300); do
    [ "$(find "$WORK/sink" -name 'mail-*.eml' | wc -l)" -ge 3 ] && break
    sleep 0.1
done
"$TALLYCTL" cycle --at "2026-07-31 10:05:00" --no-pause --quiet >"$WORK/cycle2.log"
sleep 3
mails=$(find "$WORK/sink" -name 'mail-*.eml' | wc -l)
[ "$mails" = 3 ] || die "$mails alert mails in the sink, expected 3"
subjects=$(grep -h '^Subject:' "$WORK"/sink/mail-*.eml | tr -d '\r' | sort)
expected=$'Subject: Alert: 192.168.10.10 traffic spike\nSubject: Alert: 192.168.10.11 daily limit\nSubject: Alert: 192.168.10.12 filter events'
[ "$subjects" = "$expected" ] || die "subjects: $subjects"
if grep -il '^Bcc:' "$WORK"/sink/mail-*.eml; then die "a field added a header"; fi
grep -q 'Content-Type: multipart' "$WORK"/sink/mail-*.eml && die "an alert mail has attachments"
grep -c '^ *Alert: ' "$WORK/cycle1.log" | grep -qx 3 || die "not one log line per alert"
[ -z "$(grep '^ *Alert: ' "$WORK/cycle2.log" || true)" ] || die "the second cycle alerted again"
say "3 alert mails, one per rule, none repeated"
"$TALLYCTL" alerts show >"$WORK/show.txt"
[ "$(grep -c "^  10:00  192.168.10.1" "$WORK/show.txt")" = 3 ] || die "alerts show: $(cat "$WORK/show.txt")"

METRICS="$WORK/textfile/tallyvane.prom"
promtool check metrics <"$METRICS" || die "promtool check metrics failed"
port=$((20000 + RANDOM % 20000))
prometheus-node-exporter --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$WORK/textfile" --web.listen-address="127.0.0.1:$port" \
    >"$WORK/exporter.log" 2>&1 &
EXPORTER_PID=$!
scraped=""
for _ in $(seq 100); do
    scraped=$(curl -fsS "http://127.0.0.1:$port/metrics" 2>/dev/null || true)
    [ -n "$scraped" ] && break
    sleep 0.1
done
grep -q 'node_textfile_scrape_error 0' <<<"$scraped" || die "the textfile collector refused the file"
grep -q '^tallyvane_client_traffic_bytes_total{client="192.168.10.11"} ' <<<"$scraped" ||
    die "the client figures are not scraped"
grep -q '^tallyvane_alerts_total{rule="spike"} 1' <<<"$scraped" || die "the alerts are not scraped"
say "metrics file passes promtool and is scraped by node_exporter"
