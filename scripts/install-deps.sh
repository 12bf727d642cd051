#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, only when something is missing.
# Usage: scripts/install-deps.sh [--windows | --fuzz]   (--windows adds the mingw-w64 cross
# compilers, wine for both Windows targets (wine64, and wine32 from the i386 architecture),
# Samba's ntlm_auth for wine's NTLM (winbind), xmllint and xsltproc for the report checks,
# Chromium with a font to render the pages in, clang-format for CI's formatting check, the
# packaging tools (wixl and msitools for the Windows installer, lintian and dpkg-dev for the
# Debian package), and what --fuzz adds alone: clang with libFuzzer for the fuzzers)
#        scripts/install-deps.sh --packages NAME...   (only the named packages, when missing:
# for the CI scripts that need a server or tool of their own)
#        scripts/install-deps.sh --source-entry DIR SUITE AS   (prints the package source the
# script would write for suite AS, made from the entry for SUITE under the apt directory DIR,
# and installs nothing: for trying it on a copy of a machine's sources)
set -euo pipefail

# source_entry DIR SUITE AS: the first enabled package source in the apt configuration under
# DIR (normally /etc/apt: sources.list, sources.list.d/*.list, deb822 sources.list.d/*.sources)
# that serves SUITE, rewritten to serve suite AS, component main, from the same mirror with
# the same options and keyring, in the entry's own format. Prints the format ("list" or
# "sources") on the first line and the entry after it; prints nothing and fails when no
# entry serves SUITE. So the machine's own mirror (a company mirror or proxy) is used, and
# no host is named here.
source_entry() {
    local dir=$1 suite=$2 as=$3 files=()
    [[ -f $dir/sources.list ]] && files+=("$dir/sources.list")
    local f
    for f in "$dir"/sources.list.d/*.list "$dir"/sources.list.d/*.sources; do
        [[ -f $f ]] && files+=("$f")
    done
    ((${#files[@]})) || return 1
    local entry
    for f in "${files[@]}"; do
        if [[ $f == *.sources ]]; then
            entry=$(awk -v suite="$suite" -v as="$as" '
                # deb822: a paragraph of "Field: value" lines, continuation lines indented.
                function lower(s) { return tolower(s) }
                BEGIN { RS = ""; FS = "\n" }
                {
                    delete value; n = 0; field = ""
                    for (i = 1; i <= NF; i++) {
                        line = $i
                        if (line ~ /^#/) { continue }
                        if (line ~ /^[ \t]/ && field != "") { value[field] = value[field] "\n" line; continue }
                        colon = index(line, ":")
                        if (colon == 0) { continue }
                        field = lower(substr(line, 1, colon - 1))
                        order[++n] = field
                        name[field] = substr(line, 1, colon - 1)
                        v = substr(line, colon + 1); sub(/^[ \t]+/, "", v); sub(/[ \t]+$/, "", v)
                        value[field] = v
                    }
                    if (lower(value["enabled"]) == "no") { next }
                    if ((" " value["types"] " ") !~ /[ \t]deb[ \t]/) { next }
                    if ((" " value["suites"] " ") !~ ("[ \t]" suite "[ \t]")) { next }
                    split(value["uris"], uris, /[ \t]+/)
                    if (uris[1] == "" || uris[1] ~ /^cdrom:/) { next }
                    print "sources"
                    print "Types: deb"
                    print "URIs: " uris[1]
                    print "Suites: " as
                    print "Components: main"
                    for (i = 1; i <= n; i++) {
                        k = order[i]
                        if (k == "types" || k == "uris" || k == "suites" || k == "components" ||
                            k == "enabled") { continue }
                        # A value on lines of its own (an inline key) starts on the next line.
                        print name[k] ":" (value[k] ~ /^\n/ ? "" : " ") value[k]
                    }
                    exit
                }' "$f")
        else
            entry=$(awk -v suite="$suite" -v as="$as" '
                # One-line entries: deb [options] URI SUITE COMPONENT...
                $1 == "deb" {
                    options = ""; i = 2
                    if ($2 ~ /^\[/) {
                        options = $2
                        while (options !~ /\]$/ && i < NF) { i++; options = options " " $i }
                        i++
                    }
                    if ($(i + 1) != suite || $i ~ /^cdrom:/) { next }
                    print "list"
                    print "deb " (options == "" ? "" : options " ") $i " " as " main"
                    exit
                }' "$f")
        fi
        if [[ -n $entry ]]; then
            printf '%s\n' "$entry"
            return 0
        fi
    done
    return 1
}

if [[ "${1:-}" == "--source-entry" ]]; then
    source_entry "${2:?apt directory}" "${3:?suite}" "${4:?new suite}"
    exit
fi

packages=(cmake ninja-build g++ libgtest-dev libssl-dev openssl python3 libcurl4-openssl-dev
    nlohmann-json3-dev curl)
fuzz=(clang-14 libclang-rt-14-dev)
windows=0
if [[ "${1:-}" == "--windows" ]]; then
    windows=1
    packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 winbind
        libxml2-utils xsltproc chromium fonts-liberation ca-certificates clang-format
        wixl msitools lintian dpkg-dev adduser "${fuzz[@]}")
elif [[ "${1:-}" == "--fuzz" ]]; then
    packages+=("${fuzz[@]}")
elif [[ "${1:-}" == "--packages" ]]; then
    shift
    packages=("$@")
fi

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

# A mirror caught mid-sync serves an index that does not match its release file, and apt-get
# update then fails although every other list is fresh: try again after a pause, then go on
# with the lists there are (the install below fails by itself if a package cannot be had).
apt_update() {
    local try
    for try in 1 2 3; do
        $sudo apt-get update -qq && return 0
        echo "warning: apt-get update failed (try $try of 3); the mirror may be syncing" >&2
        ((try == 3)) || sleep $((try * 15))
    done
    echo "warning: going on with the package lists as they are" >&2
}

updated=0
if ((windows)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    apt_update
    updated=1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    ((updated)) || apt_update
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    then
        # A list that could not be fetched (the i386 one of the security suite, say) leaves
        # the two architectures of a library at different versions; the release's own suite
        # has both at one.
        codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
        [[ -n $codename ]] || exit 1
        echo "warning: installing again from the $codename suite alone" >&2
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -t "$codename" \
            "${missing[@]}" >/dev/null
    fi
fi

# A kernel that runs no 32-bit code (some virtual machines refuse every 32-bit program) gets a
# user-mode x86 emulator for them, registered with the kernel's binfmt_misc so wine's 32-bit
# loader runs through it. Bookworm's own emulator is too old for wine (it places fixed
# mappings elsewhere); its backports have one that is not.
runs_32bit() { /usr/lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1; }
if ((windows)) && ! runs_32bit; then
    binfmt=/proc/sys/fs/binfmt_misc
    [[ -e $binfmt/register ]] || $sudo mount -t binfmt_misc binfmt_misc "$binfmt" || true
    if ! dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null | grep -q '^1:\(8\|9\|[1-9][0-9]\)'; then
        target=()
        if [[ $(. /etc/os-release && echo "$VERSION_CODENAME") == bookworm ]]; then
            # From the mirror the machine already uses, unless backports are configured.
            if ! source_entry /etc/apt bookworm-backports bookworm-backports >/dev/null; then
                if entry=$(source_entry /etc/apt bookworm bookworm-backports); then
                    printf '%s\n' "$entry" | tail -n +2 |
                        $sudo tee "/etc/apt/sources.list.d/bookworm-backports.${entry%%$'\n'*}" \
                            >/dev/null
                    apt_update
                else
                    echo "warning: no package source for bookworm found to take the backports" \
                        "from" >&2
                fi
            fi
            target=(-t bookworm-backports)
        fi
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${target[@]}" \
            qemu-user-static >/dev/null || true
    fi
    if [[ -e $binfmt/register && ! -e $binfmt/qemu-i386 ]]; then
        # 32-bit x86 ELF executables and shared objects; F: the emulator is opened now, so it
        # is found from any mount namespace.
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo ":qemu-i386:M::$magic:$mask:$(command -v qemu-i386-static):F" |
            $sudo tee "$binfmt/register" >/dev/null || true
    fi
    # Without them the i686 checks say they were skipped; everything else still runs.
    runs_32bit || echo "warning: 32-bit programs do not run here, not even emulated" >&2
fi
