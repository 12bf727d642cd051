#!/usr/bin/env bash
# The outbox against a real Postfix on loopback, with the retries driven by the sender's test
# clock (postvane -at) so nothing waits real minutes:
#   - the server stopped at the report hour and started 7 minutes later: the mail is kept
#     (exit 13, listed by `tallyctl mail queue`), the reports are rewritten, and a fresh
#     process (the service's cycle after a restart, `tallyctl cycle`) starts the sender for
#     the outbox, which delivers the attachments of the first try byte for byte;
#   - postgrey with a few seconds' delay greylists the first try (450) and the retry delivers;
#   - a recipient the server refuses (550) goes to outbox/failed after one try with an error
#     line, and `tallyctl mail failed` shows it;
#   - two report hours while the server is down give two mails, each delivered once.
# usage: .ci/outbox_check.sh [BUILD_DIR]   (mailer/postvane and tools/tallyctl; needs root)
# Ports: PV_OUTBOX_PORT (plain, default 2570), +1 (greylisting), +2 (postgrey's policy).
# Postfix is shared machine-wide: run this under `flock -o /tmp/postfix-ci.lock`.
set -euo pipefail

CI_DIR=$(cd "$(dirname "$0")" && pwd)
. "$CI_DIR/postfix_services.sh"
postfix_builds "${1:-build}"
PORT_PLAIN=${PV_OUTBOX_PORT:-2570}
PORT_GREY=$((PORT_PLAIN + 1))
PORT_POLICY=$((PORT_PLAIN + 2))
GREY_DELAY=3
BASE=/tmp/postvane-outbox
CONF="$BASE/config"
REALM=postvane.test
MAILDIR="$BASE/mail/report"
APP="$BASE/app/"
LOGS="$BASE/app/Logs"
export BRISKO_REGISTRY="$BASE/registry.reg"

say() { echo "outbox_check: $*"; }
die() {
    echo "outbox_check: FAILED: $*" >&2
    [ -f "$BASE/maillog" ] && tail -n 20 "$BASE/maillog" >&2
    exit 1
}

postfix_need_programs
if ! command -v postfix >/dev/null || ! command -v postgrey >/dev/null; then
    say "installing postfix and postgrey"
    postfix_install postfix postgrey
fi

# --- a private Postfix instance and postgrey on loopback ---------------------------------
if [ -f "$BASE/postgrey.pid" ]; then kill "$(cat "$BASE/postgrey.pid")" 2>/dev/null || true; fi
postfix_fresh_base "$BASE/grey" "$LOGS"
chown postgrey "$BASE/grey" 2>/dev/null || chmod 777 "$BASE/grey"
cat >"$CONF/main.cf" <<CF
$(postfix_main_base "127.0.0.0/8")
grey_restrictions = reject_unauth_destination, check_policy_service inet:127.0.0.1:$PORT_POLICY
CF
cat >"$CONF/master.cf" <<CF
127.0.0.1:$PORT_PLAIN inet n - n - - smtpd
127.0.0.1:$PORT_GREY inet n - n - - smtpd
  -o smtpd_recipient_restrictions=\$grey_restrictions
$(postfix_services)
CF
echo "report@$REALM report/" >"$CONF/vmailbox"
postfix -c "$CONF" check >"$BASE/check.log" 2>&1 || { cat "$BASE/check.log" >&2; die "postfix check"; }

server_up() {
    postfix -c "$CONF" start >/dev/null 2>&1 || die "postfix did not start"
    for _ in $(seq 50); do
        if (exec 3<>/dev/tcp/127.0.0.1/$PORT_PLAIN) 2>/dev/null; then return; fi
        sleep 0.2
    done
    die "postfix does not listen"
}
server_down() { postfix -c "$CONF" stop >/dev/null 2>&1 || true; sleep 0.5; }
cleanup() {
    server_down
    if [ -f "$BASE/postgrey.pid" ]; then kill "$(cat "$BASE/postgrey.pid")" 2>/dev/null || true; fi
}
trap cleanup EXIT

postgrey --inet="127.0.0.1:$PORT_POLICY" --delay="$GREY_DELAY" --dbdir="$BASE/grey" \
    --pidfile="$BASE/postgrey.pid" --daemonize --user=postgrey --group=postgrey \
    --max-age=1 --auto-whitelist-clients=0 2>"$BASE/postgrey.log" ||
    { cat "$BASE/postgrey.log" >&2; die "postgrey did not start"; }

# --- the installation: settings, and the sender beside the proxy for the cycle to start ----
"$TALLYCTL" reg add 'HKLM\SOFTWARE\BriskoFilter' /v apppath /d "$APP" /f >/dev/null
cp "$POSTVANE" "$APP/postvane"
settings() {  # settings PORT TO FILES
    "$TALLYCTL" smtp set --server 127.0.0.1 --port "$1" --auth None --to "$2" \
        --from "reports@$REALM" >/dev/null
    "$TALLYCTL" reg add 'HKLM\SOFTWARE\BriskoFilter' /v ToSendFile /d "$3" /f >/dev/null
}
write_reports() {  # write_reports TAG: two reports whose bytes say which version they are
    printf '<?xml version="1.0"?>\r\n<report>week %s \xe9</report>\r\n' "$1" >"$LOGS/week.xml"
    head -c 70000 /dev/urandom >"$LOGS/day_07_31_2026.xml"
    cp "$LOGS/week.xml" "$BASE/week.$1"
    cp "$LOGS/day_07_31_2026.xml" "$BASE/day.$1"
}
REPORTS="$LOGS/week.xml,$LOGS/day_07_31_2026.xml"

# run_postvane EXPECTED_STATUS ARGS...: the sender's exit status must be the one expected.
run_postvane() {
    local want=$1 status=0
    shift
    "$POSTVANE" "$@" 2>"$BASE/postvane.err" || status=$?
    [ "$status" = "$want" ] ||
        { cat "$BASE/postvane.err" >&2; die "postvane $* exited $status, not $want"; }
}

# wait_delivered COUNT: at most 20 s (the delivery itself takes well under a second).
wait_delivered() {
    for _ in $(seq 100); do
        [ "$(delivered)" -ge "$1" ] && break
        sleep 0.2
    done
    [ "$(delivered)" -eq "$1" ] || die "$(delivered) mails delivered, not $1"
}

# check_mail FILE WEEK DAY: the delivered mail's attachments are these two files, byte for byte.
check_mail() {
    python3 - "$@" <<'PY' || die "the mail $1 does not carry the files of its first try"
import email, email.policy, sys
path, week, day = sys.argv[1:4]
with open(path, "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.compat32)
parts = msg.get_payload()[1:]
names = [p.get_filename() for p in parts]
assert names == ["week.xml", "day_07_31_2026.xml"], names
for part, want in zip(parts, (week, day)):
    with open(want, "rb") as f:
        assert part.get_payload(decode=True) == f.read(), (part.get_filename(), want)
PY
}
newest() { echo "$MAILDIR/new/$(ls -t "$MAILDIR/new" | head -n 1)"; }

NOW=$(date +%s)

# --- 1. server down at the report hour, up 7 minutes later; a restart in between ----------
say "server down at the report hour"
server_down
write_reports first
settings "$PORT_PLAIN" "report@$REALM" "$REPORTS"
run_postvane 13 -at $((NOW - 420))
grep -q "kept in the outbox as" "$BASE/postvane.err" || die "no warning line for the kept mail"
"$TALLYCTL" mail queue >"$BASE/queue.txt"
grep -q "week.xml, day_07_31_2026.xml  tries 1" "$BASE/queue.txt" ||
    { cat "$BASE/queue.txt"; die "tallyctl mail queue does not show the waiting mail"; }
write_reports second  # the next report overwrites the files
server_up
# A fresh process of the cycle, as after a service restart: its outbox step starts the sender
# (on the real clock, 7 minutes after the first try, so the entry is due).
"$TALLYCTL" cycle --no-pause --quiet >/dev/null 2>&1 || die "tallyctl cycle"
wait_delivered 1
check_mail "$(newest)" "$BASE/week.first" "$BASE/day.first"
"$TALLYCTL" mail queue | grep -q "the outbox is empty" || die "the sent mail is still queued"
say "delivered on the retry with the files of the first try"

# --- 2. greylisting -------------------------------------------------------------------------
say "greylisting"
write_reports grey
settings "$PORT_GREY" "report@$REALM" "$REPORTS"
run_postvane 13 -at "$NOW"
grep -q "last reply: 450" "$BASE/postvane.err" || die "the first try was not greylisted"
sleep $((GREY_DELAY + 2))
run_postvane 0 -outbox -at $((NOW + 300))
wait_delivered 2
check_mail "$(newest)" "$BASE/week.grey" "$BASE/day.grey"
say "greylisted first, delivered on the retry"

# --- 3. a refused recipient -------------------------------------------------------------------
say "refused recipient"
settings "$PORT_PLAIN" "nobody@$REALM" "$REPORTS"
run_postvane 7 -at "$NOW"
grep -q "550" "$BASE/postvane.err" && grep -q "not tried again" "$BASE/postvane.err" ||
    { cat "$BASE/postvane.err" >&2; die "no error line for the refused recipient"; }
"$TALLYCTL" mail failed | grep -q "why: sending the report mail failed: the server refused a recipient" ||
    die "tallyctl mail failed does not show the refused mail"
run_postvane 0 -outbox -at $((NOW + 86400))
[ "$(delivered)" -eq 2 ] || die "a failed mail was sent"
ID=$("$TALLYCTL" mail failed | head -n 1 | cut -d' ' -f1)
"$TALLYCTL" mail drop "$ID" >/dev/null || die "tallyctl mail drop"
say "refused once, in failed/, reported as an error"

# --- 4. two report hours while the server is down ---------------------------------------------
say "two report hours while the server is down"
server_down
settings "$PORT_PLAIN" "report@$REALM" "$REPORTS"
write_reports hour1
run_postvane 13 -at "$NOW"
write_reports hour2
run_postvane 13 -at $((NOW + 3600))
[ "$("$TALLYCTL" mail queue | grep -c '  tries ')" -eq 2 ] || die "not two mails in the outbox"
server_up
run_postvane 0 -outbox -at $((NOW + 3600 + 1200))
wait_delivered 4
run_postvane 0 -outbox -at $((NOW + 7200))
sleep 1
[ "$(delivered)" -eq 4 ] || die "a mail was delivered twice"
first=$(ls -tr "$MAILDIR/new" | tail -n 2 | head -n 1)
second=$(ls -tr "$MAILDIR/new" | tail -n 1)
check_mail "$MAILDIR/new/$first" "$BASE/week.hour1" "$BASE/day.hour1"
check_mail "$MAILDIR/new/$second" "$BASE/week.hour2" "$BASE/day.hour2"
say "two mails, oldest first, each once"
say "all outbox checks passed"
