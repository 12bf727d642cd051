#!/usr/bin/env bash
# Judges one delivered report mail as a content filter would: SpamAssassin's local tests
# (spamassassin -t -L: no network, so no DNS or blocklist rule can fire) on the message as it
# was delivered over loopback, and again with its Received line rewritten as if the sender
# had reached the server from an outside address, where the greeting name counts. No rule
# may fire that the message itself causes; the score of each run is printed. A control run
# with the greeting replaced by a bare host name must show the HELO rules, or this check
# could not see them.
#
# usage: .ci/spam_check.sh MAIL_FILE
#   MAIL_FILE: the message as Postfix delivered it (its first Received line is Postfix's, for
#   a connection from 127.0.0.1).
# Needs spamassassin (Debian package spamassassin) and python3.
set -euo pipefail

MAIL=$1
# An address outside every reserved range (documentation networks count as illegal).
OUTSIDE=81.2.69.142
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

say() { echo "spam_check: $*"; }
die() {
    echo "spam_check: FAILED: $*" >&2
    exit 1
}

command -v spamassassin >/dev/null || die "spamassassin is not installed"
[ -f "$MAIL" ] || die "$MAIL: no such file"

# Rules that fire here for reasons outside the message:
# - HTML_MESSAGE, T_HTML_ATTACH: informational (0.001, 0.01), for any message carrying HTML;
#   the reports' HTML twins are pages, sent as text/html as they should be.
# - URI_NO_WWW_INFO_CGI, URI_NO_WWW_BIZ_CGI: the filter reports list the addresses the proxy
#   blocked, and the simulated logs block pages with queries on .info and .biz hosts.
COMMON="HTML_MESSAGE T_HTML_ATTACH URI_NO_WWW_INFO_CGI URI_NO_WWW_BIZ_CGI"
# - ALL_TRUSTED: delivered over loopback, every relay is this machine's own.
AS_DELIVERED="$COMMON ALL_TRUSTED"
# - RDNS_NONE: the invented outside address has no reverse name in the rewritten line, as a
#   real relay would have recorded from DNS.
FROM_OUTSIDE="$COMMON RDNS_NONE"
# The rules a bare host name as the greeting fires from outside.
HELO_RULES="FSL_HELO_NON_FQDN_1 HELO_NO_DOMAIN"

# rewrite MAIL OUT HELO: the first Received line as if the client at $OUTSIDE (no reverse
# name) had greeted with HELO; "literal" keeps the message's own greeting, with its address
# literal moved to the outside address.
rewrite() {
    python3 - "$1" "$2" "$3" "$OUTSIDE" <<'PY'
import re, sys
src, out, helo, outside = sys.argv[1:5]
data = open(src, "rb").read()
head, sep, body = data.partition(b"\n\n")
pattern = re.compile(rb"^(Received: from )(\S+) \(localhost \[127\.0\.0\.1\]\)", re.M)
found = pattern.search(head)
if not found:
    sys.exit("no Received line of a loopback connection in the message")
said = found.group(2)
if helo == "literal":
    new = b"[" + outside.encode() + b"]" if said == b"[127.0.0.1]" else said
else:
    new = helo.encode()
replacement = found.group(1) + new + b" (unknown [" + outside.encode() + b"])"
head = head[:found.start()] + replacement + head[found.end():]
open(out, "wb").write(head + sep + body)
PY
}

# judge NAME FILE ALLOWED: runs SpamAssassin, prints the score and rules, and fails on a
# rule not in ALLOWED. The rules are left in $WORK/NAME.rules, one a line.
judge() {
    local name=$1 file=$2 allowed=$3 verdict rule unexpected=""
    spamassassin -t -L <"$file" >"$WORK/$name.out" 2>"$WORK/$name.err" ||
        { cat "$WORK/$name.err" >&2; die "$name: spamassassin failed"; }
    verdict=$(python3 - "$WORK/$name.out" "$WORK/$name.rules" <<'PY'
import email, email.policy, re, sys
msg = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.compat32)
# Folded: the list of tests goes on after a comma and a line break.
status = re.sub(r"\s+", " ", str(msg["X-Spam-Status"] or "")).replace(", ", ",")
score = re.search(r"score=(-?[0-9.]+)", status)
tests = re.search(r"tests=([A-Z0-9_,]*)", status)
if not score:
    sys.exit("no X-Spam-Status in the output")
rules = [t for t in (tests.group(1).split(",") if tests else []) if t and t != "none"]
open(sys.argv[2], "w").write("".join(r + "\n" for r in rules))
print(f"score {score.group(1)}, rules: {' '.join(rules) or '(none)'}")
PY
    ) || die "$name: no verdict in SpamAssassin's output"
    say "$name: $verdict"
    while read -r rule; do
        [[ " $allowed " == *" $rule "* ]] || unexpected+=" $rule"
    done <"$WORK/$name.rules"
    [ -z "$unexpected" ] || { echo "spam_check: $name:$unexpected fired" >&2; return 1; }
}

helo=$(python3 - "$MAIL" <<'PY'
import re, sys
m = re.search(rb"^Received: from (\S+) \(localhost \[127\.0\.0\.1\]\)", open(sys.argv[1], "rb").read(), re.M)
print(m.group(1).decode() if m else "")
PY
)
[ -n "$helo" ] || die "no Received line of a loopback connection in $MAIL"
# The greeting: a fully qualified name, or an address literal where the machine has none.
[[ $helo == \[*\] || $helo == *.* ]] || die "the greeting '$helo' is neither a full name nor an address literal"
say "greeting: $helo"

judge "as delivered" "$MAIL" "$AS_DELIVERED" || die "rules the message causes fired as delivered"
rewrite "$MAIL" "$WORK/outside.eml" literal
judge "from outside" "$WORK/outside.eml" "$FROM_OUTSIDE" ||
    die "rules the message causes fired when it came from outside"

# Control: the same message greeting with a bare host name must be caught.
rewrite "$MAIL" "$WORK/bare.eml" vm
judge "control, bare HELO" "$WORK/bare.eml" "$FROM_OUTSIDE $HELO_RULES" || true
for rule in $HELO_RULES; do
    grep -qx "$rule" "$WORK/control, bare HELO.rules" ||
        die "control: $rule did not fire for a bare HELO; this check would not see one"
done
say "the report mail passes: no rule of its own fires"
