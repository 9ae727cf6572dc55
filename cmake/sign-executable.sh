#!/usr/bin/env bash
# Signs a Windows executable in place with SHA-256 Authenticode (cmake/Signing.cmake):
#   sign-executable.sh --osslsigncode TOOL --pkcs12 FILE --password-file FILE
#                      [--description TEXT] [--timestamp URL] EXE
# The signed image goes to EXE.signing and is renamed over EXE only once
# osslsigncode succeeded. On failure EXE is removed, so that the build fails
# now and again next time, and no unsigned or half-written file is left where
# the signed one belongs.
set -euo pipefail
tool=osslsigncode description= timestamp=()
while [ $# -gt 1 ]; do
  case $1 in
    --osslsigncode) tool=$2 ;;
    --pkcs12) pkcs12=$2 ;;
    --password-file) password_file=$2 ;;
    --description) description=$2 ;;
    --timestamp) timestamp=(-ts "$2") ;;
    *) echo "sign-executable: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
exe=$1
signing=$exe.signing
fail() {
  echo "sign-executable: $*" >&2
  rm -f -- "$signing" "$exe"
  exit 1
}
[ -r "${pkcs12:-}" ] || fail "cannot read the PKCS#12 file '${pkcs12:-}' (VR_SIGN_PKCS12)"
[ -r "${password_file:-}" ] || fail "cannot read the password file '${password_file:-}' (VR_SIGN_PASSWORD_FILE)"
rm -f -- "$signing"
"$tool" sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 \
  ${description:+-n "$description"} "${timestamp[@]}" -in "$exe" -out "$signing" >/dev/null ||
  fail "osslsigncode could not sign $exe"
mv -f -- "$signing" "$exe"
