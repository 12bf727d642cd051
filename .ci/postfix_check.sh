#!/usr/bin/env bash
# Mails a report through a real Postfix with Cyrus SASL (sasldb) on loopback, once per
# authentication method and once without, in clear text, over STARTTLS and over implicit TLS,
# and checks that every delivered message's attachments decode to the report files byte for
# byte. A wrong password must end postvane with the authentication exit status; a certificate
# from an unknown CA, a name mismatch (also a certificate naming its host only in the subject's
# CN) and a server without STARTTLS must end it before AUTH, with the password never on the
# wire. With Windows build directories, Postvane.exe of each
# delivers under wine too: LOGIN, CRAM-MD5 and NTLM through SSPI, and STARTTLS and TLS
# through Schannel. One real report mail is judged by SpamAssassin (.ci/spam_check.sh).
#
# usage: .ci/postfix_check.sh [BUILD_DIR [WINDOWS_BUILD_DIR...]]
#   BUILD_DIR holds mailer/postvane and tools/tallyctl; a WINDOWS_BUILD_DIR (mingw64, mingw32)
#   holds mailer/Postvane.exe and tools/tallyctl.exe.
# Needs root (installs postfix, sasl2-bin, libsasl2-modules, spamassassin with apt-get when
# missing). For the Windows runs it sets "client ntlmv2 auth = no" in /etc/samba/smb.conf
# and adds the test CA to the system's CA store, both only while it runs.
# Ports: PV_SMTP_PORT (with AUTH, default 2525), +1 (no AUTH, no TLS), +2 (STARTTLS, AUTH only
# after TLS), +3 (implicit TLS), +4 (the wire recorder), +5 (implicit TLS with a certificate
# that names localhost only in its subject).
set -euo pipefail

CI_DIR=$(cd "$(dirname "$0")" && pwd)
. "$CI_DIR/postfix_services.sh"
postfix_builds "$@"
PORT_AUTH=${PV_SMTP_PORT:-2525}
PORT_PLAIN=$((PORT_AUTH + 1))
PORT_STARTTLS=$((PORT_AUTH + 2))
PORT_TLS=$((PORT_AUTH + 3))
PORT_RECORDER=$((PORT_AUTH + 4))
PORT_CN_ONLY=$((PORT_AUTH + 5))
BASE=/tmp/postvane-postfix
CONF="$BASE/config"
USER_NAME=reporter
PASSWORD='Pa55-w0rd!'
REALM=postvane.test
MAILDIR="$BASE/mail/report"

say() { echo "postfix_check: $*"; }
die() {
    echo "postfix_check: FAILED: $*" >&2
    [ -f "$BASE/maillog" ] && tail -n 30 "$BASE/maillog" >&2
    exit 1
}

postfix_need_programs

# --- packages ---------------------------------------------------------------------------
if ! command -v postfix >/dev/null || ! command -v saslpasswd2 >/dev/null ||
    ! compgen -G "/usr/lib/*/sasl2/libntlm.so*" >/dev/null; then
    say "installing postfix and Cyrus SASL"
    postfix_install postfix sasl2-bin libsasl2-modules
fi
if ! command -v spamassassin >/dev/null; then
    say "installing spamassassin"
    "$CI_DIR/../scripts/install-deps.sh" --packages spamassassin
fi
python3 -c 'import email' || die "python3 is needed to check the delivered mail"

# --- a private Postfix instance on loopback ----------------------------------------------
postfix_fresh_base "$BASE/reports"

cat >"$CONF/main.cf" <<CF
$(postfix_main_base "127.0.0.0/8")
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
cyrus_sasl_config_path = $CONF/sasl
smtpd_sasl_local_domain = $REALM
smtpd_sasl_security_options = noanonymous
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject_unauth_destination
CF

# The AUTH ports accept mail only from authenticated clients, so a delivery there proves the
# authentication worked; the plain port offers no AUTH and no STARTTLS at all.
TLS_OPTS="-o smtpd_tls_cert_file=$BASE/tls/server.pem -o smtpd_tls_key_file=$BASE/tls/server.key"
cat >"$CONF/master.cf" <<CF
127.0.0.1:$PORT_AUTH inet n - n - - smtpd
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
127.0.0.1:$PORT_PLAIN inet n - n - - smtpd
  -o smtpd_sasl_auth_enable=no
127.0.0.1:$PORT_STARTTLS inet n - n - - smtpd
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_tls_security_level=may
  -o smtpd_tls_auth_only=yes
  $TLS_OPTS
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
127.0.0.1:$PORT_TLS inet n - n - - smtpd
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_tls_wrappermode=yes
  -o smtpd_tls_security_level=encrypt
  $TLS_OPTS
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
127.0.0.1:$PORT_CN_ONLY inet n - n - - smtpd
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_tls_wrappermode=yes
  -o smtpd_tls_security_level=encrypt
  -o smtpd_tls_cert_file=$BASE/tls/cn-only.pem -o smtpd_tls_key_file=$BASE/tls/cn-only.key
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
$(postfix_services)
CF

echo "report@$REALM report/" >"$CONF/vmailbox"

# Debian's Postfix looks for smtpd.conf in the instance's own config directory's sasl/.
mkdir -p "$CONF/sasl"
cat >"$CONF/sasl/smtpd.conf" <<CF
pwcheck_method: auxprop
auxprop_plugin: sasldb
mech_list: PLAIN LOGIN CRAM-MD5 NTLM
sasldb_path: $BASE/sasldb2
CF
echo "$PASSWORD" | saslpasswd2 -f "$BASE/sasldb2" -p -c -u "$REALM" "$USER_NAME"
chown postfix "$BASE/sasldb2"
chmod 640 "$BASE/sasldb2"

# --- a test CA and the server's certificate (for mx.postvane.test and 127.0.0.1) ----------
mkdir -p "$BASE/tls"
(
    cd "$BASE/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
        -subj "/CN=Postvane Test CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr \
        -subj "/CN=mx.$REALM" 2>/dev/null
    printf '%s\n' "subjectAltName=DNS:mx.$REALM,IP:127.0.0.1" "basicConstraints=CA:FALSE" \
        "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile server.ext -out server.pem 2>/dev/null
    # The name only in the subject's CN, no subjectAltName: to be refused as a name mismatch.
    openssl req -newkey rsa:2048 -nodes -keyout cn-only.key -out cn-only.csr \
        -subj "/CN=localhost" 2>/dev/null
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
        "extendedKeyUsage=serverAuth" >cn-only.ext
    openssl x509 -req -in cn-only.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile cn-only.ext -out cn-only.pem 2>/dev/null
    chmod 644 server.key cn-only.key
)
CA_FILE="$BASE/tls/ca.pem"

postfix -c "$CONF" check >"$BASE/check.log" 2>&1 || { cat "$BASE/check.log" >&2; die "postfix check"; }
postfix -c "$CONF" start >"$BASE/start.log" 2>&1 || { cat "$BASE/start.log" >&2; die "postfix did not start"; }

# Everything this script changes outside $BASE is put back, however it ends.
SMB_CONF=/etc/samba/smb.conf
SMB_SAVED="$BASE/smb.conf.saved"
SYSTEM_CA=/usr/local/share/ca-certificates/postvane-test-ca.crt
cleanup() {
    postfix -c "$CONF" stop >/dev/null 2>&1 || true
    if [ -f "$SMB_SAVED" ]; then cp "$SMB_SAVED" "$SMB_CONF" && rm -f "$SMB_SAVED"; fi
    if [ -f "$SYSTEM_CA" ]; then rm -f "$SYSTEM_CA" && update-ca-certificates --fresh >/dev/null 2>&1; fi
    if [ -n "${WINE_WORK:-}" ]; then
        WINEPREFIX="$WINE_WORK/prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINE_WORK"
    fi
}
trap cleanup EXIT
for port in "$PORT_AUTH" "$PORT_STARTTLS" "$PORT_TLS" "$PORT_CN_ONLY"; do
    for _ in $(seq 50); do
        if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then break; fi
        sleep 0.2
    done
done

# --- the report files ------------------------------------------------------------------
python3 - "$BASE/reports" <<'PY'
import os, random, sys
d = sys.argv[1]
rnd = random.Random(5)
files = {
    "week.xml": b'<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<report>w\xe9ek</report>\r\n',
    "57.bin": bytes(rnd.randrange(256) for _ in range(57)),
    "58.bin": bytes(rnd.randrange(256) for _ in range(58)),
    "empty.xml": b"",
    "large.bin": bytes(rnd.randrange(256) for _ in range(300000)),
}
for name, data in files.items():
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)
PY
ATTACH="$BASE/reports/week.xml,$BASE/reports/57.bin;$BASE/reports/58.bin, $BASE/reports/empty.xml,$BASE/reports/large.bin,"

# newest_delivery NAME BEFORE: waits until more than BEFORE mails are delivered and prints
# the path of the newest.
newest_delivery() {
    for _ in $(seq 100); do
        [ "$(delivered)" -gt "$2" ] && break
        sleep 0.2
    done
    [ "$(delivered)" -gt "$2" ] || die "$1: no mail delivered"
    echo "$MAILDIR/new/$(ls -t "$MAILDIR/new" | head -n 1)"
}

# check_delivery NAME BEFORE: the newest delivered mail against the report files.
check_delivery() {
    local name=$1 newest
    newest=$(newest_delivery "$name" "$2")
    python3 - "$newest" "$ATTACH" "$name" <<'PY' || die "$name: delivered mail differs"
import email, email.policy, os, sys
path, attach, name = sys.argv[1], sys.argv[2], sys.argv[3]
with open(path, "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.compat32)
want = [p.strip() for p in attach.replace(";", ",").split(",") if p.strip()]
subject = str(msg["Subject"]).replace("\r", "").replace("\n", "")  # unfolded
assert subject.startswith("Email Reports from Brisko Web Proxy - "), subject
assert subject.endswith(" weekly, other files"), subject
assert msg.get_content_type() == "multipart/mixed", msg.get_content_type()
parts = msg.get_payload()
assert parts[0].get_content_type() == "text/plain"
text = parts[0].get_payload(decode=True).decode("ascii")
assert "Weekly website traffic" in text and "zip" not in text, text
got = parts[1:]
assert len(got) == len(want), (len(got), len(want))
types = {".xml": "application/xml", ".html": "text/html"}
for part, file in zip(got, want):
    assert part.get_filename() == os.path.basename(file), part.get_filename()
    assert os.path.basename(file) in text, file
    # None of these files declares UTF-8: no charset (week.xml says ISO-8859-1 itself).
    want_type = types.get(os.path.splitext(file)[1], "application/octet-stream")
    assert part.get_content_type() == want_type, (file, part.get_content_type())
    assert part.get_param("charset") is None, (file, part.get_param("charset"))
    with open(file, "rb") as f:
        expected = f.read()
    data = part.get_payload(decode=True) or b""
    assert data == expected, (file, len(data), len(expected))
print(f"postfix_check: {name}: delivered, {len(got)} attachments identical")
PY
}

# The wire recorder: relays one connection from PORT_RECORDER to a port and keeps every byte
# the client sent, so a refusal can be checked for what never left the client.
start_recorder() {  # start_recorder TARGET_PORT FILE
    python3 - "$PORT_RECORDER" "$1" "$2" <<'PY' &
import socket, sys, threading
listen, target, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", listen))
server.listen(1)
server.settimeout(60)
open(path + ".ready", "w").close()
client, _ = server.accept()
upstream = socket.create_connection(("127.0.0.1", target), timeout=60)
client.settimeout(60)
def pump(src, dst, record):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            if record is not None:
                record.write(data)
                record.flush()
            dst.sendall(data)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass
with open(path, "wb") as record:
    back = threading.Thread(target=pump, args=(upstream, client, None))
    back.start()
    pump(client, upstream, record)
    back.join()
PY
    RECORDER_PID=$!
    for _ in $(seq 100); do [ -f "$2.ready" ] && return; sleep 0.05; done
    die "the wire recorder did not start"
}

# --- one run of postvane (Linux) ----------------------------------------------------------
# run NAME PORT AUTH USER PASSWORD EXPECTED_STATUS [smtp set options...]
# A refusal (EXPECTED_STATUS not 0) goes through the wire recorder: no AUTH and no password
# may have been sent.
run() {
    local name=$1 port=$2 auth=$3 user=$4 password=$5 expected=$6
    shift 6
    export BRISKO_REGISTRY="$BASE/registry-${name// /_}.reg"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter]\r\n"ToSendFile"="%s"\r\n' \
        "$ATTACH" >"$BRISKO_REGISTRY"
    local wire="$BASE/wire-$name"
    if [ "$expected" != 0 ]; then
        start_recorder "$port" "$wire"
        port=$PORT_RECORDER
    fi
    "$TALLYCTL" smtp set --server 127.0.0.1 --port "$port" --auth "$auth" --user "$user" \
        --password "$password" --to "Report Desk <report@$REALM>" --from "tallyvane@$REALM" "$@"
    local before status=0
    before=$(delivered)
    timeout 120 "$POSTVANE" 2>"$BASE/stderr-$name" || status=$?
    if [ "$status" != "$expected" ]; then
        cat "$BASE/stderr-$name" >&2
        die "$name: postvane exit status $status, expected $expected"
    fi
    if [ "$expected" != 0 ]; then
        wait "$RECORDER_PID" || true
        grep -q "code 0x" "$BASE/stderr-$name" || die "$name: no failure line on stderr"
        if [ -n "${REFUSED_BEFORE_AUTH:-}" ]; then
            ! grep -aq "AUTH" "$wire" || die "$name: AUTH was sent"
            ! grep -aqF "$password" "$wire" || die "$name: the password was sent"
            ! grep -aqF "$(printf '%s' "$password" | base64)" "$wire" || die "$name: the password was sent"
        fi
        say "$name: refused as expected: $(cat "$BASE/stderr-$name")"
        return
    fi
    check_delivery "$name" "$before"
}

run "no-auth" "$PORT_PLAIN" "None" "" "" 0
run "login" "$PORT_AUTH" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 0
run "plain" "$PORT_AUTH" "AUTH PLAIN" "$USER_NAME" "$PASSWORD" 0
run "cram-md5" "$PORT_AUTH" "CRAM MD5" "$USER_NAME" "$PASSWORD" 0
run "ntlm" "$PORT_AUTH" "NTLM" "$USER_NAME" "$PASSWORD" 0
run "ntlm-domain" "$PORT_AUTH" "NTLM" "WORKGROUP\\$USER_NAME" "$PASSWORD" 0
run "wrong-password" "$PORT_AUTH" "AUTH LOGIN" "$USER_NAME" "not-the-password" 6

for method in "AUTH LOGIN" "AUTH PLAIN" "CRAM MD5" "NTLM"; do
    tag=$(echo "$method" | tr 'A-Z ' 'a-z-')
    run "starttls-$tag" "$PORT_STARTTLS" "$method" "$USER_NAME" "$PASSWORD" 0 \
        --tls starttls --ca-file "$CA_FILE"
    run "tls-$tag" "$PORT_TLS" "$method" "$USER_NAME" "$PASSWORD" 0 --tls tls --ca-file "$CA_FILE"
done

REFUSED_BEFORE_AUTH=1
# The test CA is not among the system's roots: an unknown issuer.
run "unknown-ca-starttls" "$PORT_STARTTLS" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 9 --tls starttls --ca-file ""
run "unknown-ca-tls" "$PORT_TLS" "AUTH PLAIN" "$USER_NAME" "$PASSWORD" 9 --tls tls --ca-file ""
grep -q "unknown issuer" "$BASE/stderr-unknown-ca-tls" || die "unknown-ca-tls: the reason is not given"
# The certificate is for mx.postvane.test and 127.0.0.1, not for localhost.
run_mismatch() {
    run "name-mismatch" "$PORT_STARTTLS" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 9 --tls starttls \
        --ca-file "$CA_FILE" --server localhost
}
run_mismatch
grep -q "name mismatch" "$BASE/stderr-name-mismatch" || die "name-mismatch: the reason is not given"
run "name-in-subject-only" "$PORT_CN_ONLY" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 9 --tls tls \
    --ca-file "$CA_FILE" --server localhost
grep -q "name mismatch" "$BASE/stderr-name-in-subject-only" ||
    die "name-in-subject-only: the reason is not given"
run "starttls-not-offered" "$PORT_PLAIN" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 8 --tls starttls \
    --ca-file "$CA_FILE"
grep -q "does not offer STARTTLS" "$BASE/stderr-starttls-not-offered" ||
    die "starttls-not-offered: the reason is not given"
unset REFUSED_BEFORE_AUTH
say "all Linux deliveries and refusals checked"

# --- the report mail as a content filter judges it ----------------------------------------
# A real installation's reports (simulated logs, the cycles before and at the report hour,
# the HTML twins on) mailed without authentication; .ci/spam_check.sh judges the delivery.
# The installation holds no sender, so the cycle starts none: postvane runs here.
report_mail_for_filter() {
    export BRISKO_REGISTRY="$BASE/registry-report-mail.reg"
    rm -f "$BRISKO_REGISTRY"
    "$TALLYCTL" simulate --app "$BASE/app" --days 40 --clients 3 --seed 7 --until 2026-07-31 \
        >/dev/null || die "report-mail: simulate failed"
    "$TALLYCTL" report set --format xml+html
    "$TALLYCTL" cycle --at "2026-07-31 17:58:00" --no-pause --quiet >/dev/null
    "$TALLYCTL" cycle --at "2026-07-31 18:00:05" --no-pause --quiet >/dev/null
    "$TALLYCTL" smtp set --server 127.0.0.1 --port "$PORT_PLAIN" --auth None \
        --to "Report Desk <report@$REALM>" --from "tallyvane@$REALM"
    local before status=0 newest
    before=$(delivered)
    timeout 120 "$POSTVANE" 2>"$BASE/stderr-report-mail" || status=$?
    [ "$status" = 0 ] || { cat "$BASE/stderr-report-mail" >&2; die "report-mail: exit status $status"; }
    newest=$(newest_delivery report-mail "$before")
    "$CI_DIR/spam_check.sh" "$newest" || die "report-mail: judged as spam-like"
}
report_mail_for_filter

# --- an alert through the real server ------------------------------------------------------
# A spike day in a simulated installation: the cycle hands the alert to the sender, started
# from the installation's directory as the service starts it, and Postfix delivers it with its
# subject and nothing attached; the sender removes the mail file once sent.
alert_mail_through_postfix() {
    export BRISKO_REGISTRY="$BASE/registry-alert.reg"
    rm -f "$BRISKO_REGISTRY"
    rm -rf "$BASE/alert-app"
    "$TALLYCTL" simulate --app "$BASE/alert-app" --days 40 --clients 3 --seed 7 \
        --until 2026-07-31 >/dev/null || die "alert-mail: simulate failed"
    cp "$POSTVANE" "$BASE/alert-app/"
    printf '%s\r\n' "$(printf '157286400*GET http://files.example.com/big.iso HTTP/1.1 Time:09:30:00' |
        base64 -w0)" >>"$BASE/alert-app/Logs/31_07_2026_192.168.10.10"
    "$TALLYCTL" alerts set --spike-factor 3
    "$TALLYCTL" smtp set --server 127.0.0.1 --port "$PORT_PLAIN" --auth None \
        --to "Report Desk <report@$REALM>" --from "tallyvane@$REALM" >/dev/null
    local before newest
    before=$(delivered)
    "$TALLYCTL" cycle --at "2026-07-31 10:00:00" --no-pause --quiet >/dev/null
    newest=$(newest_delivery alert-mail "$before")
    grep -q '^Subject: Alert: 192.168.10.10 traffic spike' "$newest" || die "alert-mail: subject"
    if grep -qi '^Content-Type: multipart' "$newest"; then die "alert-mail: attachments"; fi
    for _ in $(seq 50); do
        [ -z "$(ls "$BASE/alert-app/Logs/alerts")" ] && break
        sleep 0.1
    done
    [ -z "$(ls "$BASE/alert-app/Logs/alerts")" ] || die "alert-mail: the mail file stayed"
    say "alert-mail: the spike alert delivered"
}
alert_mail_through_postfix

# --- Postvane.exe under wine --------------------------------------------------------------
((${#WINDOWS_BUILDS[@]})) || exit 0
export WINEDEBUG=-all
WINE_WORK=$(mktemp -d)
export WINEPREFIX="$WINE_WORK/prefix"
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || die "no wine prefix"
/usr/lib/wine/wineserver -w

win_path() { printf 'Z:%s' "${1//\//\\}"; }
ATTACH_WIN="$(win_path "$BASE/reports/week.xml"),$(win_path "$BASE/reports/57.bin");$(win_path "$BASE/reports/58.bin"), $(win_path "$BASE/reports/empty.xml"),$(win_path "$BASE/reports/large.bin"),"

. "$CI_DIR/wine_loader.sh"

# wine_run NAME PORT AUTH USER PASSWORD EXPECTED [smtp set options...]
wine_run() {
    local name="$WINE_TAG-$1" port=$2 auth=$3 user=$4 password=$5 expected=$6
    shift 6
    "$WINE" "$WIN_CTL" reg add 'HKLM\SOFTWARE\BriskoFilter' /v ToSendFile /t REG_SZ \
        /d "$ATTACH_WIN" /f >/dev/null 2>&1 || die "$name: ToSendFile not set"
    "$WINE" "$WIN_CTL" smtp set --server 127.0.0.1 --port "$port" --auth "$auth" --user "$user" \
        --password "$password" --to "Report Desk <report@$REALM>" --from "tallyvane@$REALM" \
        --tls none --ca-file "" "$@" >/dev/null 2>&1 || die "$name: smtp set failed"
    local before status=0
    before=$(delivered)
    timeout 180 "$WINE" "$WIN_PV" >"$BASE/stdout-$name" 2>"$BASE/stderr-$name" || status=$?
    if [ "$status" != "$expected" ]; then
        tr -d '\r' <"$BASE/stderr-$name" | grep -a "Postvane" >&2 || true
        die "$name: Postvane.exe exit status $status, expected $expected"
    fi
    if [ "$expected" != 0 ]; then
        say "$name: refused as expected: $(tr -d '\r' <"$BASE/stderr-$name" | grep -a "Postvane" | head -n 1)"
        return
    fi
    check_delivery "$name" "$before"
}

# NTLM through wine's SSPI runs Samba's ntlm_auth, which must be allowed NTLMv1 answers: the
# server's challenge carries no target information.
cp "$SMB_CONF" "$SMB_SAVED"
sed -i '/^\[global\]/a \   client ntlmv2 auth = no' "$SMB_CONF"

run_windows_build() {
    local build=$1 phase=$2
    WIN_PV="$build/mailer/Postvane.exe"
    WIN_CTL="$build/tools/tallyctl.exe"
    [ -f "$WIN_PV" ] && [ -f "$WIN_CTL" ] || die "$build: Postvane.exe or tallyctl.exe not built"
    if ! WINE=$(wine_loader "$WIN_PV" 2>"$BASE/loader.txt"); then
        say "SKIPPED $build: $(cat "$BASE/loader.txt")"
        return
    fi
    WINE_TAG=win64
    [[ $WINE == */wine64 ]] || WINE_TAG=win32
    if [ "$phase" = clear ]; then
        wine_run login "$PORT_AUTH" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 0
        wine_run cram-md5 "$PORT_AUTH" "CRAM MD5" "$USER_NAME" "$PASSWORD" 0
        wine_run ntlm "$PORT_AUTH" "NTLM" "$USER_NAME" "$PASSWORD" 0
        wine_run ntlm-domain "$PORT_AUTH" "NTLM" "WORKGROUP\\$USER_NAME" "$PASSWORD" 0
        # Without a user name the running account is used; wine has no credentials for it.
        wine_run ntlm-running-account "$PORT_AUTH" "NTLM" "" "" 6
        grep -aq "authenticating with the mail server failed" "$BASE/stderr-$WINE_TAG-ntlm-running-account" ||
            die "$WINE_TAG: no failure line for NTLM with the running account"
        # The test CA is not installed yet: SMTPCAFile alone makes it trusted.
        wine_run starttls-ca-file "$PORT_STARTTLS" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 0 \
            --tls starttls --ca-file "$(win_path "$CA_FILE")"
        wine_run unknown-ca "$PORT_TLS" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 9 --tls tls
        grep -aq "unknown issuer" "$BASE/stderr-$WINE_TAG-unknown-ca" ||
            die "$WINE_TAG: the unknown issuer is not named"
        # Schannel's policy takes a name from the subject when there is no subjectAltName.
        wine_run name-in-subject-only "$PORT_CN_ONLY" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 9 \
            --tls tls --ca-file "$(win_path "$CA_FILE")" --server localhost
        grep -aq "name mismatch" "$BASE/stderr-$WINE_TAG-name-in-subject-only" ||
            die "$WINE_TAG: the name only in the subject is not refused as a name mismatch"
    else
        wine_run starttls "$PORT_STARTTLS" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 0 --tls starttls
        wine_run tls "$PORT_TLS" "CRAM MD5" "$USER_NAME" "$PASSWORD" 0 --tls tls
        wine_run tls-ntlm "$PORT_TLS" "NTLM" "$USER_NAME" "$PASSWORD" 0 --tls tls
        wine_run name-mismatch "$PORT_STARTTLS" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 9 \
            --tls starttls --server localhost
        grep -aq "name mismatch" "$BASE/stderr-$WINE_TAG-name-mismatch" ||
            die "$WINE_TAG: the name mismatch is not named"
    fi
}

for build in "${WINDOWS_BUILDS[@]}"; do run_windows_build "$build" clear; done
# Schannel trusts the system's store, which wine takes from the host's CA store.
cp "$CA_FILE" "$SYSTEM_CA"
update-ca-certificates >/dev/null 2>&1 || die "update-ca-certificates failed"
for build in "${WINDOWS_BUILDS[@]}"; do run_windows_build "$build" store; done
say "all Windows deliveries and refusals checked"
