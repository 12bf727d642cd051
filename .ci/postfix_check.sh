#!/usr/bin/env bash
# Mails a report through a real Postfix with Cyrus SASL (sasldb) on loopback, once per
# authentication method and once without, and checks that every delivered message's
# attachments decode to the report files byte for byte. A wrong password must end postvane
# with the authentication exit status.
#
# usage: .ci/postfix_check.sh [BUILD_DIR]   (BUILD_DIR holds mailer/postvane, tools/tallyctl)
# Needs root (installs postfix, sasl2-bin, libsasl2-modules with apt-get when missing).
# Ports: PV_SMTP_PORT (with AUTH, default 2525) and PV_SMTP_PORT+1 (no AUTH).
set -euo pipefail

BUILD_DIR=$(cd "${1:-build}" && pwd)
POSTVANE="$BUILD_DIR/mailer/postvane"
TALLYCTL="$BUILD_DIR/tools/tallyctl"
PORT_AUTH=${PV_SMTP_PORT:-2525}
PORT_PLAIN=$((PORT_AUTH + 1))
BASE=/tmp/postvane-postfix
CONF="$BASE/config"
USER_NAME=reporter
PASSWORD='Pa55-w0rd!'
REALM=postvane.test
MAILDIR="$BASE/mail/report"

delivered() {
    if [ -d "$MAILDIR/new" ]; then ls "$MAILDIR/new" | wc -l; else echo 0; fi
}
say() { echo "postfix_check: $*"; }
die() {
    echo "postfix_check: FAILED: $*" >&2
    [ -f "$BASE/maillog" ] && tail -n 30 "$BASE/maillog" >&2
    exit 1
}

for f in "$POSTVANE" "$TALLYCTL"; do
    [ -x "$f" ] || die "$f is not built"
done

# --- packages ---------------------------------------------------------------------------
if ! command -v postfix >/dev/null || ! command -v saslpasswd2 >/dev/null ||
    ! compgen -G "/usr/lib/*/sasl2/libntlm.so*" >/dev/null; then
    say "installing postfix and Cyrus SASL"
    printf '%s\n' "postfix postfix/main_mailer_type select Local only" \
        "postfix postfix/mailname string $REALM" | debconf-set-selections
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq postfix sasl2-bin libsasl2-modules \
        >/dev/null
fi
python3 -c 'import email' || die "python3 is needed to check the delivered mail"

# --- a private Postfix instance on loopback ----------------------------------------------
if [ -f "$CONF/main.cf" ]; then
    postfix -c "$CONF" stop >/dev/null 2>&1 || true
fi
rm -rf "$BASE"
mkdir -p "$CONF" "$BASE/mail" "$BASE/reports" "$BASE/queue" "$BASE/data"
chown postfix "$BASE/data"
chmod 755 "$BASE"
chown 65534:65534 "$BASE/mail"

cat >"$CONF/main.cf" <<CF
compatibility_level = 3.6
queue_directory = $BASE/queue
data_directory = $BASE/data
mail_owner = postfix
setgid_group = postdrop
myhostname = mx.$REALM
mydomain = $REALM
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mydestination =
mynetworks = 127.0.0.0/8
local_transport = error:local delivery is off
default_transport = error:outbound mail is off
relay_transport = error:outbound mail is off
alias_maps =
alias_database =
virtual_mailbox_domains = $REALM
virtual_mailbox_base = $BASE/mail
virtual_mailbox_maps = texthash:$CONF/vmailbox
virtual_uid_maps = static:65534
virtual_gid_maps = static:65534
virtual_minimum_uid = 100
maillog_file = $BASE/maillog
maillog_file_prefixes = /tmp, /var
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
cyrus_sasl_config_path = $CONF/sasl
smtpd_sasl_local_domain = $REALM
smtpd_sasl_security_options = noanonymous
smtpd_relay_restrictions = permit_mynetworks, permit_sasl_authenticated, reject_unauth_destination
smtputf8_enable = no
biff = no
CF

# The AUTH port accepts mail only from authenticated clients, so a delivery there proves the
# authentication worked; the other port offers no AUTH at all.
cat >"$CONF/master.cf" <<CF
127.0.0.1:$PORT_AUTH inet n - n - - smtpd
  -o smtpd_sasl_auth_enable=yes
  -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject
127.0.0.1:$PORT_PLAIN inet n - n - - smtpd
  -o smtpd_sasl_auth_enable=no
pickup    unix n - n 60 1 pickup
cleanup   unix n - n - 0 cleanup
qmgr      unix n - n 300 1 qmgr
rewrite   unix - - n - - trivial-rewrite
bounce    unix - - n - 0 bounce
defer     unix - - n - 0 bounce
trace     unix - - n - 0 bounce
verify    unix - - n - 1 verify
flush     unix n - n 1000? 0 flush
proxymap  unix - - n - - proxymap
showq     unix n - n - - showq
error     unix - - n - - error
retry     unix - - n - - error
discard   unix - - n - - discard
virtual   unix - n n - - virtual
anvil     unix - - n - 1 anvil
scache    unix - - n - 1 scache
postlog   unix-dgram n - n - 1 postlogd
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

postfix -c "$CONF" check >"$BASE/check.log" 2>&1 || { cat "$BASE/check.log" >&2; die "postfix check"; }
postfix -c "$CONF" start >"$BASE/start.log" 2>&1 || { cat "$BASE/start.log" >&2; die "postfix did not start"; }
trap 'postfix -c "$CONF" stop >/dev/null 2>&1 || true' EXIT
for _ in $(seq 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/$PORT_AUTH) 2>/dev/null; then break; fi
    sleep 0.2
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

# --- one run of postvane ------------------------------------------------------------------
# run NAME PORT AUTH USER PASSWORD EXPECTED_STATUS
run() {
    local name=$1 port=$2 auth=$3 user=$4 password=$5 expected=$6
    export BRISKO_REGISTRY="$BASE/registry-${name// /_}.reg"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BriskoFilter]\r\n"ToSendFile"="%s"\r\n' \
        "$ATTACH" >"$BRISKO_REGISTRY"
    "$TALLYCTL" smtp set --server 127.0.0.1 --port "$port" --auth "$auth" --user "$user" \
        --password "$password" --to "Report Desk <report@$REALM>" --from "tallyvane@$REALM"
    local before status=0
    before=$(delivered)
    timeout 120 "$POSTVANE" 2>"$BASE/stderr-$name" || status=$?
    if [ "$status" != "$expected" ]; then
        cat "$BASE/stderr-$name" >&2
        die "$name: postvane exit status $status, expected $expected"
    fi
    if [ "$expected" != 0 ]; then
        grep -q "code 0x" "$BASE/stderr-$name" || die "$name: no failure line on stderr"
        say "$name: refused as expected: $(cat "$BASE/stderr-$name")"
        return
    fi
    for _ in $(seq 100); do
        [ "$(delivered)" -gt "$before" ] && break
        sleep 0.2
    done
    [ "$(delivered)" -gt "$before" ] || die "$name: no mail delivered"
    local newest
    newest=$(ls -t "$MAILDIR/new" | head -n 1)
    python3 - "$MAILDIR/new/$newest" "$ATTACH" "$name" <<'PY' || die "$name: delivered mail differs"
import email, email.policy, os, sys
path, attach, name = sys.argv[1], sys.argv[2], sys.argv[3]
with open(path, "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.compat32)
want = [p.strip() for p in attach.replace(";", ",").split(",") if p.strip()]
assert msg["Subject"] == "Email Reports from Brisko Web Proxy", msg["Subject"]
assert msg.get_content_type() == "multipart/mixed", msg.get_content_type()
parts = msg.get_payload()
assert parts[0].get_content_type() == "text/plain"
assert "The REPORT is attached" in parts[0].get_payload(decode=True).decode("latin-1")
got = parts[1:]
assert len(got) == len(want), (len(got), len(want))
for part, file in zip(got, want):
    assert part.get_filename() == os.path.basename(file), part.get_filename()
    with open(file, "rb") as f:
        expected = f.read()
    data = part.get_payload(decode=True) or b""
    assert data == expected, (file, len(data), len(expected))
print(f"postfix_check: {name}: delivered, {len(got)} attachments identical")
PY
}

run "no-auth" "$PORT_PLAIN" "None" "" "" 0
run "login" "$PORT_AUTH" "AUTH LOGIN" "$USER_NAME" "$PASSWORD" 0
run "plain" "$PORT_AUTH" "AUTH PLAIN" "$USER_NAME" "$PASSWORD" 0
run "cram-md5" "$PORT_AUTH" "CRAM MD5" "$USER_NAME" "$PASSWORD" 0
run "ntlm" "$PORT_AUTH" "NTLM" "$USER_NAME" "$PASSWORD" 0
run "ntlm-domain" "$PORT_AUTH" "NTLM" "WORKGROUP\\$USER_NAME" "$PASSWORD" 0
run "wrong-password" "$PORT_AUTH" "AUTH LOGIN" "$USER_NAME" "not-the-password" 6
say "all deliveries checked"
