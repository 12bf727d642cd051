# Sourced by the CI scripts that run a private Postfix instance on loopback: what each of them
# sets up the same way. The caller sets CI_DIR, BASE (the instance's folder), CONF, REALM and
# MAILDIR, and a die function.

# postfix_builds [BUILD_DIR [WINDOWS_BUILD...]]: the builds a check mails from: BUILD_DIR
# (default build) with POSTVANE and TALLYCTL in it, and WINDOWS_BUILDS.
postfix_builds() {
    BUILD_DIR=$(cd "${1:-build}" && pwd)
    shift || true
    WINDOWS_BUILDS=()
    for dir in "$@"; do WINDOWS_BUILDS+=("$(cd "$dir" && pwd)"); done
    POSTVANE="$BUILD_DIR/mailer/postvane"
    TALLYCTL="$BUILD_DIR/tools/tallyctl"
}

# postfix_need_programs: the caller's die unless POSTVANE and TALLYCTL are built.
postfix_need_programs() {
    for f in "$POSTVANE" "$TALLYCTL"; do
        [ -x "$f" ] || die "$f is not built"
    done
}

# delivered: how many mails the report mailbox (MAILDIR) holds.
delivered() {
    if [ -d "$MAILDIR/new" ]; then ls "$MAILDIR/new" | wc -l; else echo 0; fi
}

# postfix_install PACKAGE...: Postfix (as a local-only system) and what else the check needs.
postfix_install() {
    printf '%s\n' "postfix postfix/main_mailer_type select Local only" \
        "postfix postfix/mailname string $REALM" | debconf-set-selections
    "$CI_DIR/../scripts/install-deps.sh" --packages "$@"
}

# postfix_fresh_base [FOLDER...]: stops an instance an earlier run left, and makes BASE anew
# with the instance's folders and the given ones.
postfix_fresh_base() {
    if [ -f "$CONF/main.cf" ]; then postfix -c "$CONF" stop >/dev/null 2>&1 || true; fi
    rm -rf "$BASE"
    mkdir -p "$CONF" "$BASE/mail" "$BASE/queue" "$BASE/data" "$@"
    chown postfix "$BASE/data"
    chmod 755 "$BASE"
    chown 65534:65534 "$BASE/mail"
}

# postfix_main_base MYNETWORKS: the main.cf lines every instance shares: nothing leaves the
# machine, mail for REALM goes to mailboxes under BASE/mail, the log to BASE/maillog.
postfix_main_base() {
    cat <<CF
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
mynetworks = $1
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
smtputf8_enable = no
biff = no
CF
}

# The instance's own services, the master.cf lines after its listeners.
postfix_services() {
    cat <<'CF'
pickup    unix n - n 60 1 pickup
cleanup   unix n - n - 0 cleanup
qmgr      unix n - n 300 1 qmgr
tlsmgr    unix - - n 1000? 1 tlsmgr
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
}
