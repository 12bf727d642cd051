#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, only when something is missing.
# Usage: scripts/install-deps.sh [--windows]   (--windows adds the mingw-w64 cross compilers,
# wine for both Windows targets (wine64, and wine32 from the i386 architecture), Samba's
# ntlm_auth for wine's NTLM (winbind), xmllint and xsltproc for the report checks, Chromium
# with a font to render the pages in, and clang-format for CI's formatting check)
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libssl-dev openssl python3)
windows=0
if [[ "${1:-}" == "--windows" ]]; then
    windows=1
    packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 winbind
        libxml2-utils xsltproc chromium fonts-liberation ca-certificates clang-format)
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
