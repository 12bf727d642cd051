# Sourced by the CI scripts that run a private Postfix instance: the instance's own services,
# the master.cf lines after its listeners, the same in each.
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
