#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and runs every test.
#   scripts/test-all.sh            all tests (slow journeys included)
#   scripts/test-all.sh -LE slow   all but the slow journeys (ctest options pass through)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then bash scripts/bootstrap.sh; else sudo bash scripts/bootstrap.sh; fi
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default "$@"
