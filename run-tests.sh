#!/usr/bin/env bash
# Builds the test preset (AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset linux-test >/dev/null
cmake --build --preset linux-test -j "$(nproc)"
# Each test case runs as its own test; many wait on sockets or timers, so run more than cores.
ctest --preset linux-test -j "$(( $(nproc) * 2 ))"
