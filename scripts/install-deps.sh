#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, only when something is missing.
# Usage: scripts/install-deps.sh [--windows | --fuzz]   (--windows adds the mingw-w64 cross
# compilers, wine for both Windows targets (wine64, and wine32 from the i386 architecture),
# Samba's ntlm_auth for wine's NTLM (winbind), xmllint and xsltproc for the report checks,
# Chromium with a font to render the pages in, clang-format for CI's formatting check, the
# packaging tools (wixl and msitools for the Windows installer, lintian and dpkg-dev for the
# Debian package), and what --fuzz adds alone: clang with libFuzzer for the fuzzers)
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libssl-dev openssl python3)
fuzz=(clang-14 libclang-rt-14-dev)
windows=0
if [[ "${1:-}" == "--windows" ]]; then
    windows=1
    packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 winbind
        libxml2-utils xsltproc chromium fonts-liberation ca-certificates clang-format
        wixl msitools lintian dpkg-dev adduser "${fuzz[@]}")
elif [[ "${1:-}" == "--fuzz" ]]; then
    packages+=("${fuzz[@]}")
fi

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
updated=0
if ((windows)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
    updated=1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    ((updated)) || $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
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
            source=/etc/apt/sources.list.d/bookworm-backports.list
            if [[ ! -e $source ]]; then
                echo "deb http://deb.debian.org/debian bookworm-backports main" |
                    $sudo tee "$source" >/dev/null
                $sudo apt-get update -qq
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
