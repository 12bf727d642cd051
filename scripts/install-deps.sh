#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, only when something is missing.
# Usage: scripts/install-deps.sh [--windows]   (--windows adds the mingw-w64 cross compilers,
# wine64 to run what they build, xmllint and xsltproc for the report checks, and Chromium
# with a font to render the pages in)
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev python3)
if [[ "${1:-}" == "--windows" ]]; then
    packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 libxml2-utils
               xsltproc chromium fonts-liberation)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
