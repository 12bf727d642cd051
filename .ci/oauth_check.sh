#!/usr/bin/env bash
# Mails a report with OAuth 2.0 through a real Postfix whose SASL service is Dovecot with
# the oauth2 passdb, which asks the test token service (.ci/token_service.py, HTTPS with a CA
# made here) whether each token is active: token service -> postvane -> Postfix -> Dovecot ->
# token service, nothing mocked. Checks XOAUTH2 over STARTTLS and OAUTHBEARER over implicit
# TLS, both grants, the device login of `tallyctl smtp oauth login`, the cached token reused
# (the service counts requests), a short-lived token fetched anew, a rotated refresh token
# stored with the old one spent, a revoked refresh token ending with the invalid_grant
# status, a token the server refuses replaced once, SMTPTLS=none refused before anything is
# fetched or connected, and a token endpoint whose certificate names another host refused.
# Delivered attachments are compared byte for byte. With Windows build directories,
# Postvane.exe delivers with XOAUTH2 under wine too (WinHTTP and Schannel, the CA in the
# host's store for the run).
#
# usage: .ci/oauth_check.sh [BUILD_DIR [WINDOWS_BUILD_DIR...]]
# Needs root (installs postfix and dovecot-core when missing). Run it under
# `flock -o /tmp/postfix-ci.lock`: Postfix and Dovecot are shared machine-wide.
# Ports: PV_OAUTH_PORT (STARTTLS, default 2625), +1 (implicit TLS), +2 (token service), +3
# (the token service with a certificate for another name).
set -euo pipefail

CI_DIR=$(cd "$(dirname "$0")" && pwd)
. "$CI_DIR/postfix_services.sh"
postfix_builds "$@"
PORT_STARTTLS=${PV_OAUTH_PORT:-2625}
PORT_TLS=$((PORT_STARTTLS + 1))
PORT_TOKENS=$((PORT_STARTTLS + 2))
PORT_WRONG_NAME=$((PORT_STARTTLS + 3))
BASE=/tmp/postvane-oauth
CONF="$BASE/config"
REALM=postvane.test
USER_ADDRESS="report@$REALM"
CLIENT_ID=postvane-test
CLIENT_SECRET=s3cret-of-the-client
MAILDIR="$BASE/mail/report"
SERVICE="https://127.0.0.1:$PORT_TOKENS"

say() { echo "oauth_check: $*"; }
die() {
    echo "oauth_check: FAILED: $*" >&2
    [ -f "$BASE/maillog" ] && tail -n 20 "$BASE/maillog" >&2
    [ -f "$BASE/dovecot.log" ] && tail -n 20 "$BASE/dovecot.log" >&2
    exit 1
}

postfix_need_programs

# --- packages ---------------------------------------------------------------------------
if ! command -v postfix >/dev/null || ! command -v dovecot >/dev/null; then
    say "installing postfix and dovecot-core"
    postfix_install postfix dovecot-core
fi

# --- certificates: the mail server, the token service, one for another name ---------------
if [ -f "$BASE/dovecot.pid" ]; then kill "$(cat "$BASE/dovecot.pid")" 2>/dev/null || true; fi
if [ -f "$BASE/tokens.pid" ]; then kill "$(cat "$BASE/tokens.pid")" 2>/dev/null || true; fi
postfix_fresh_base "$BASE/reports" "$BASE/tls" "$BASE/dovecot-run"
(
    cd "$BASE/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
        -subj "/CN=Postvane OAuth Test CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    issue() {  # issue NAME SUBJECT_ALT_NAME
        openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
        printf '%s\n' "subjectAltName=$2" "basicConstraints=CA:FALSE" \
            "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >"$1.ext"
        openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
            -extfile "$1.ext" -out "$1.pem" 2>/dev/null
        chmod 644 "$1.key"
    }
    issue mx "DNS:mx.$REALM,IP:127.0.0.1"
    issue tokens "DNS:localhost,IP:127.0.0.1"
    issue elsewhere "DNS:elsewhere.$REALM"
)
CA_FILE="$BASE/tls/ca.pem"

# Everything started here is stopped, however the script ends.
SYSTEM_CA=/usr/local/share/ca-certificates/postvane-oauth-test-ca.crt
cleanup() {
    postfix -c "$CONF" stop >/dev/null 2>&1 || true
    [ -f "$BASE/dovecot.pid" ] && kill "$(cat "$BASE/dovecot.pid")" 2>/dev/null || true
    [ -f "$BASE/tokens.pid" ] && kill "$(cat "$BASE/tokens.pid")" 2>/dev/null || true
    if [ -f "$SYSTEM_CA" ]; then rm -f "$SYSTEM_CA" && update-ca-certificates --fresh >/dev/null 2>&1; fi
    if [ -n "${WINE_WORK:-}" ]; then
        WINEPREFIX="$WINE_WORK/prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINE_WORK"
    fi
}
trap cleanup EXIT

# --- the token service ------------------------------------------------------------------
python3 "$CI_DIR/token_service.py" "$PORT_TOKENS" "$BASE/tls/tokens.pem" "$BASE/tls/tokens.key" \
    "$PORT_WRONG_NAME" "$BASE/tls/elsewhere.pem" "$BASE/tls/elsewhere.key" \
    2>"$BASE/tokens.log" &
echo $! >"$BASE/tokens.pid"
control() {  # control NAME [FORM]: the service's answer
    curl -sS --cacert "$CA_FILE" --data "${2:-}" "$SERVICE/control/$1"
}
count() {  # count NAME: one of the service's counters
    control counts | python3 -c "import json,sys; print(json.load(sys.stdin)['$1'])"
}

# --- Dovecot: SASL for Postfix, tokens checked by introspection ---------------------------
cat >"$BASE/dovecot.conf" <<CF
base_dir = $BASE/dovecot-run
state_dir = $BASE/dovecot-run
log_path = $BASE/dovecot.log
protocols = none
ssl = no
disable_plaintext_auth = no
auth_mechanisms = xoauth2 oauthbearer
auth_verbose = yes
auth_cache_size = 0
passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $BASE/dovecot-oauth2.conf.ext
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=/nonexistent
}
service auth {
  unix_listener $BASE/queue/private/auth {
    mode = 0660
    user = postfix
    group = postfix
  }
}
service anvil {
  chroot =
}
CF
cat >"$BASE/dovecot-oauth2.conf.ext" <<CF
introspection_mode = post
introspection_url = $SERVICE/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
tls_ca_cert_file = $CA_FILE
timeout_msecs = 10000
CF

# --- Postfix ----------------------------------------------------------------------------
cat >"$CONF/main.cf" <<CF
$(postfix_main_base "")
smtpd_sasl_type = dovecot
smtpd_sasl_path = private/auth
smtpd_sasl_auth_enable = yes
smtpd_tls_auth_only = yes
smtpd_tls_cert_file = $BASE/tls/mx.pem
smtpd_tls_key_file = $BASE/tls/mx.key
smtpd_relay_restrictions = permit_sasl_authenticated, reject
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
CF
# Mail is taken only from authenticated clients, so a delivery proves the token worked.
cat >"$CONF/master.cf" <<CF
127.0.0.1:$PORT_STARTTLS inet n - n - - smtpd
  -o smtpd_tls_security_level=may
127.0.0.1:$PORT_TLS inet n - n - - smtpd
  -o smtpd_tls_wrappermode=yes
  -o smtpd_tls_security_level=encrypt
$(postfix_services)
CF
echo "$USER_ADDRESS report/" >"$CONF/vmailbox"

postfix -c "$CONF" check >"$BASE/check.log" 2>&1 || { cat "$BASE/check.log" >&2; die "postfix check"; }
postfix -c "$CONF" start >"$BASE/start.log" 2>&1 || { cat "$BASE/start.log" >&2; die "postfix did not start"; }
mkdir -p "$BASE/queue/private"
dovecot -c "$BASE/dovecot.conf" || die "dovecot did not start"
# It writes its pid once it runs in the background: without it the cleanup could not stop it.
for _ in $(seq 100); do [ -s "$BASE/dovecot-run/master.pid" ] && break; sleep 0.1; done
cp "$BASE/dovecot-run/master.pid" "$BASE/dovecot.pid" || die "dovecot wrote no pid file"

for port in "$PORT_STARTTLS" "$PORT_TLS" "$PORT_TOKENS"; do
    for _ in $(seq 50); do
        if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then break; fi
        sleep 0.2
    done
done
[ -S "$BASE/queue/private/auth" ] || die "dovecot's auth socket is missing"

# --- the report files and the settings ----------------------------------------------------
python3 - "$BASE/reports" <<'PY'
import os, random, sys
rnd = random.Random(11)
files = {"week.xml": b'<?xml version="1.0"?>\r\n<report>w\xe9ek</report>\r\n',
         "57.bin": bytes(rnd.randrange(256) for _ in range(57)),
         "large.bin": bytes(rnd.randrange(256) for _ in range(200000))}
for name, data in files.items():
    with open(os.path.join(sys.argv[1], name), "wb") as f:
        f.write(data)
PY
ATTACH="$BASE/reports/week.xml,$BASE/reports/57.bin,$BASE/reports/large.bin"
export BRISKO_REGISTRY="$BASE/registry.reg"
"$TALLYCTL" reg add 'HKLM\SOFTWARE\BriskoFilter' /v ToSendFile /t REG_SZ /d "$ATTACH" /f >/dev/null
"$TALLYCTL" smtp set --server 127.0.0.1 --port "$PORT_STARTTLS" --auth XOAUTH2 --tls starttls \
    --ca-file "$CA_FILE" --user "$USER_ADDRESS" --to "Report Desk <$USER_ADDRESS>"
"$TALLYCTL" smtp oauth set --provider custom --token-url "$SERVICE/token" \
    --device-url "$SERVICE/device" --client-id "$CLIENT_ID" --client-secret "$CLIENT_SECRET" \
    --scope "smtp.send"
[ "$(stat -c %a "$BRISKO_REGISTRY")" = 600 ] || die "the settings file is not its owner's alone"

stored() {  # stored NAME: a value of the settings file as written
    sed -n "s/^\"$1\"=\"\\(.*\\)\"\r\$/\\1/p" "$BRISKO_REGISTRY"
}
secrets_absent() {  # secrets_absent FILE...: no token or secret in what was printed
    local token
    for token in "$CLIENT_SECRET" "$(stored SMTPOAuthRefreshToken)" \
        "$(stored SMTPOAuthAccessToken | cut -d' ' -f2)"; do
        [ -n "$token" ] || continue
        ! grep -qF -- "$token" "$@" "$BASE/maillog" || die "a token or secret was printed"
    done
}

# check_delivery NAME BEFORE: the newest delivered mail carries the report files unchanged.
check_delivery() {
    for _ in $(seq 100); do
        [ "$(delivered)" -gt "$2" ] && break
        sleep 0.2
    done
    [ "$(delivered)" -gt "$2" ] || die "$1: no mail delivered"
    python3 - "$MAILDIR/new/$(ls -t "$MAILDIR/new" | head -n 1)" "$ATTACH" "$1" <<'PY' ||
import email, email.policy, os, sys
path, attach, name = sys.argv[1:]
with open(path, "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.compat32)
files = attach.split(",")
parts = msg.get_payload()[1:]
assert len(parts) == len(files), (len(parts), len(files))
for part, file in zip(parts, files):
    with open(file, "rb") as f:
        assert part.get_payload(decode=True) == f.read(), file
print(f"oauth_check: {name}: delivered, {len(parts)} attachments identical")
PY
        die "$1: the delivered mail differs"
}

# send NAME EXPECTED_STATUS [TEXT]: one run of postvane; a failure must say TEXT.
send() {
    local name=$1 expected=$2 text=${3:-} before status=0
    before=$(delivered)
    timeout 120 "$POSTVANE" 2>"$BASE/stderr-$name" || status=$?
    secrets_absent "$BASE/stderr-$name"
    if [ "$status" != "$expected" ]; then
        cat "$BASE/stderr-$name" >&2
        die "$name: postvane exit status $status, expected $expected"
    fi
    if [ "$expected" = 0 ]; then
        check_delivery "$name" "$before"
    else
        grep -qF -- "$text" "$BASE/stderr-$name" || die "$name: the line does not say '$text'"
        say "$name: refused as expected: $(cat "$BASE/stderr-$name")"
    fi
}
expect_count() {  # expect_count NAME VALUE WHY
    [ "$(count "$1")" = "$2" ] || die "$3: the service counted $(count "$1") $1, expected $2"
}
forget_cache() { "$TALLYCTL" smtp oauth set --scope smtp.send; }

# --- client credentials -------------------------------------------------------------------
send "xoauth2-starttls-client-credentials" 0
expect_count client_credentials 1 "the first run"
send "cached-token-reused" 0
expect_count token 1 "a cached token with an hour left"
"$TALLYCTL" smtp set --auth OAUTHBEARER --tls tls --port "$PORT_TLS"
send "oauthbearer-tls" 0
expect_count token 1 "the cached token over the other mechanism"

"$TALLYCTL" smtp oauth test >"$BASE/test.out" 2>&1 || { cat "$BASE/test.out"; die "oauth test"; }
grep -q "expires" "$BASE/test.out" && grep -q "scope: smtp.send" "$BASE/test.out" ||
    die "oauth test does not print expiry and scope: $(cat "$BASE/test.out")"
secrets_absent "$BASE/test.out"

# A token with less than five minutes left is not used again.
control lifetime "seconds=60" >/dev/null
forget_cache
before=$(count token)
send "short-lived-1" 0
send "short-lived-2" 0
expect_count token $((before + 2)) "tokens with a minute left"
control lifetime "seconds=3600" >/dev/null

# The server refuses the cached token: exactly one fresh token and one more AUTH.
forget_cache
send "prime-cache" 0
before=$(count token)
control revoke-access >/dev/null
send "refused-token-renewed" 0
expect_count token $((before + 1)) "a refused token"

# --- the device login and rotating refresh tokens -----------------------------------------
"$TALLYCTL" smtp oauth set --client-secret "" --account user >/dev/null
(timeout 60 "$TALLYCTL" smtp oauth login >"$BASE/login.out" 2>&1; echo $? >"$BASE/login.status") &
for _ in $(seq 100); do
    [ "$(control pending-logins | python3 -c 'import json,sys; print(json.load(sys.stdin)["pending"])')" = 1 ] && break
    sleep 0.1
done
control slow-down-once >/dev/null
sleep 1
control approve >/dev/null
for _ in $(seq 300); do [ -f "$BASE/login.status" ] && break; sleep 0.1; done
[ "$(cat "$BASE/login.status" 2>/dev/null)" = 0 ] || { cat "$BASE/login.out"; die "oauth login"; }
grep -q "WDJB-MJHT" "$BASE/login.out" && grep -q "https://login.postvane.test/device" "$BASE/login.out" ||
    die "the login does not show the code and URL: $(cat "$BASE/login.out")"
grep -q "refresh token is stored" "$BASE/login.out" || die "the login does not say it stored the token"
expect_count slow_down_sent 1 "the login"
secrets_absent "$BASE/login.out"

first=$(stored SMTPOAuthRefreshToken)
[ -n "$first" ] || die "no refresh token stored"
forget_cache
before=$(count refresh_token)
send "refresh-grant" 0
expect_count refresh_token $((before + 1)) "the refresh grant"
second=$(stored SMTPOAuthRefreshToken)
[ -n "$second" ] && [ "$second" != "$first" ] || die "the rotated refresh token was not stored"
[ "$(control refresh-valid "token=$first" | python3 -c 'import json,sys; print(json.load(sys.stdin)["valid"])')" = False ] ||
    die "the old refresh token is still valid"

control revoke-refresh >/dev/null
forget_cache
send "revoked-refresh-token" 12 "tallyctl smtp oauth login"

# --- refusals before anything is sent ------------------------------------------------------
before=$(count token)
connections=$(grep -c "connect from" "$BASE/maillog" || true)
"$TALLYCTL" smtp set --tls none --port "$PORT_STARTTLS"
send "clear-text-refused" 11 "only over TLS"
expect_count token "$before" "a run without TLS"
[ "$(grep -c "connect from" "$BASE/maillog" || true)" = "$connections" ] ||
    die "a run without TLS connected to the mail server"

"$TALLYCTL" smtp set --tls starttls
"$TALLYCTL" smtp oauth set --token-url "https://127.0.0.1:$PORT_WRONG_NAME/token" \
    --client-secret "$CLIENT_SECRET"
send "token-endpoint-wrong-name" 9 "name mismatch"

# --- Windows builds under wine: WinHTTP and Schannel, XOAUTH2 over STARTTLS ---------------
if ((${#WINDOWS_BUILDS[@]})); then
    cp "$CA_FILE" "$SYSTEM_CA"
    update-ca-certificates >/dev/null 2>&1
    WINE_WORK=$(mktemp -d /tmp/postvane-oauth-wine.XXXXXX)
    export WINEPREFIX="$WINE_WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || die "no wine prefix"
    /usr/lib/wine/wineserver -w
    win_path() { printf 'Z:%s' "${1//\//\\}"; }
    attach_win="$(win_path "$BASE/reports/week.xml"),$(win_path "$BASE/reports/57.bin"),$(win_path "$BASE/reports/large.bin")"
    . "$CI_DIR/wine_loader.sh"
    for build in "${WINDOWS_BUILDS[@]}"; do
        name=wine-$(basename "$build")
        WINE=$(wine_loader "$build/mailer/Postvane.exe") || { say "$name: skipped"; continue; }
        ctl() { "$WINE" "$build/tools/tallyctl.exe" "$@" >/dev/null 2>&1 || die "$name: tallyctl $*"; }
        ctl reg add 'HKLM\SOFTWARE\BriskoFilter' /v ToSendFile /t REG_SZ /d "$attach_win" /f
        ctl smtp set --server 127.0.0.1 --port "$PORT_STARTTLS" --auth XOAUTH2 --tls starttls \
            --ca-file "" --user "$USER_ADDRESS" --to "$USER_ADDRESS"
        ctl smtp oauth set --provider custom --token-url "$SERVICE/token" --client-id "$CLIENT_ID" \
            --client-secret "$CLIENT_SECRET" --scope smtp.send
        before=$(delivered)
        tokens_before=$(count client_credentials)
        status=0
        timeout 300 "$WINE" "$build/mailer/Postvane.exe" >/dev/null 2>"$BASE/stderr-$name" || status=$?
        if [ "$status" != 0 ]; then
            tr -d '\r' <"$BASE/stderr-$name" | grep -a "Postvane" >&2 || true
            die "$name: Postvane.exe exit status $status"
        fi
        expect_count client_credentials $((tokens_before + 1)) "$name"
        check_delivery "$name" "$before"
        # WinHTTP's own checks are off: ours must refuse a certificate for another name.
        ctl smtp oauth set --token-url "https://127.0.0.1:$PORT_WRONG_NAME/token"
        status=0
        timeout 300 "$WINE" "$build/mailer/Postvane.exe" >/dev/null 2>"$BASE/stderr-$name" || status=$?
        [ "$status" = 9 ] && tr -d '\r' <"$BASE/stderr-$name" | grep -q "name mismatch" ||
            die "$name: a token endpoint with a wrong-name certificate gave status $status"
        say "$name: token endpoint with a wrong-name certificate refused"
    done
fi

say "all OAuth checks passed"
