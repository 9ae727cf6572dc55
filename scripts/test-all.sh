#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and runs every test of both
# flavours of the build in one ctest:
#   i686  the updater that ships (build/); its Wine tests need a machine that
#         runs 32-bit code
#   x64   the same code, store, testbed and tests built for x86-64
#         (build-x64/, test names "x64.*"); runs on every machine
# Where the machine cannot run 32-bit code, every i686 Wine test is reported
# as skipped with the reason; the host checks of the shipped updater run
# everywhere.
#
#   scripts/test-all.sh                       all tests (slow journeys included)
#   scripts/test-all.sh -LE slow              ctest options pass through
#   scripts/test-all.sh -L x64                one flavour (-L i686, -L x64)
#   VR_FORCE_NO_32BIT=1 scripts/test-all.sh   rehearses a machine without
#                                             32-bit support
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then bash scripts/bootstrap.sh; else sudo bash scripts/bootstrap.sh; fi
# shellcheck source=../tests/harness/wine-env.sh
. tests/harness/wine-env.sh
# Decided once for the whole run: every test inherits the answer.
# Where the i686 programs cannot run, the i686 flavour builds only the shipped
# updater and what its host checks need: its Wine tests skip themselves
# without their programs.
i686_targets=()
if vr_runs_32bit; then
  echo "test-all: this machine runs 32-bit code: the i686 and x64 flavours both run"
else
  echo "test-all: $VR_NO_32BIT_WHY"
  echo "test-all: the x64 flavour runs; the i686 Wine tests are skipped; the shipped updater is checked on the host"
  i686_targets=(--target host_checked)
fi

cmake --preset default >/dev/null
cmake --build --preset default "${i686_targets[@]}"
cmake --preset x64 >/dev/null
cmake --build --preset x64

# One ctest over both build trees, so that the slow journeys of both run
# beside everything else. Most of a test's time is the updater's own pauses,
# so four at a time suit two cores.
mkdir -p build-all
printf 'subdirs("%s" "%s")\n' "$PWD/build" "$PWD/build-x64" >build-all/CTestTestfile.cmake
status=0
ctest --test-dir build-all -j "${VR_TEST_JOBS:-4}" --timeout 900 --output-on-failure \
  --output-junit "$PWD/build-all/results.xml" "$@" || status=$?
python3 tests/harness/flavour-summary.py build-all/results.xml || true
exit $status
