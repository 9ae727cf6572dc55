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

# Both flavours sign their VrUpdater1030 (cmake/Signing.cmake), so that every
# check and the x64 journeys see the updater as it ships. Unless the caller
# gives a certificate (VR_SIGN_PKCS12, VR_SIGN_PASSWORD_FILE, optionally
# VR_SIGN_TIMESTAMP_URL and VR_SIGN_CAFILE), a throwaway self-signed
# code-signing certificate, valid for one day, is made for this run; the
# static_signature test trusts it. No time-stamp server: none is reachable
# from CI. Afterwards the build trees are set back to unsigned, so that no
# later build reaches for the deleted certificate.
throwaway_signing=
if [ -z "${VR_SIGN_PKCS12:-}" ]; then
  throwaway_signing=$(mktemp -d "${TMPDIR:-/tmp}/vr-signing.XXXXXX")
  unsigned() {
    local preset tree
    for preset in default:build x64:build-x64; do
      tree=${preset#*:}
      [ -f "$tree/CMakeCache.txt" ] || continue
      cmake --preset "${preset%%:*}" -DVR_SIGN_PKCS12= -DVR_SIGN_PASSWORD_FILE= -DVR_SIGN_CAFILE= \
        >/dev/null || true
    done
    rm -rf -- "$throwaway_signing"
  }
  trap unsigned EXIT
  (
    umask 077
    cd "$throwaway_signing"
    openssl rand -hex 24 >password
    openssl req -x509 -newkey rsa:2048 -days 1 -nodes -keyout key.pem -out certificate.pem \
      -subj "/CN=Vorrel Recorder test signing (throwaway)" \
      -addext "extendedKeyUsage=codeSigning" 2>/dev/null
    openssl pkcs12 -export -inkey key.pem -in certificate.pem -out signing.p12 -passout file:password
    rm key.pem
  )
  export VR_SIGN_PKCS12=$throwaway_signing/signing.p12
  export VR_SIGN_PASSWORD_FILE=$throwaway_signing/password
  export VR_SIGN_CAFILE=$throwaway_signing/certificate.pem
  echo "test-all: signing with a throwaway certificate ($VR_SIGN_PKCS12)"
fi
signing=(-DVR_SIGN_PKCS12="$VR_SIGN_PKCS12" -DVR_SIGN_PASSWORD_FILE="${VR_SIGN_PASSWORD_FILE:-}"
  -DVR_SIGN_TIMESTAMP_URL="${VR_SIGN_TIMESTAMP_URL:-}" -DVR_SIGN_CAFILE="${VR_SIGN_CAFILE:-}")

cmake --preset default "${signing[@]}" >/dev/null
cmake --build --preset default "${i686_targets[@]}"
cmake --preset x64 "${signing[@]}" >/dev/null
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
