#!/usr/bin/env bash
# Builds the updater that ships twice from clean copies of this source tree,
# in two different temporary folders and one after the other, and compares
# the two executables byte for byte. The i686 preset "default", the target
# VrUpdater1030 and what it needs only, unsigned (a signature holds its
# signing time), and without a compiler cache, so that nothing of an earlier
# build can make the two agree. Takes a few minutes; not part of ctest.
#
#   scripts/check-reproducible.sh          exit 0: identical; 1: they differ
#   VR_KEEP_REPRO=1 scripts/...            keeps the two build folders
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(mktemp -d "${TMPDIR:-/tmp}/vr-repro.XXXXXX")
[ -n "${VR_KEEP_REPRO:-}" ] || trap 'rm -rf -- "$root"' EXIT

# The files git knows or would add (committed, changed or new; no build
# folders), so that what is checked is what this tree builds.
copy_sources() {
  mkdir -p "$1"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$1"
}

build() {
  local src=$1
  copy_sources "$src"
  (
    cd "$src"
    env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
      -u VR_SIGN_PKCS12 -u VR_SIGN_PASSWORD_FILE -u VR_SIGN_TIMESTAMP_URL \
      cmake --preset default -DVR_SIGN_PKCS12= -DVR_SIGN_PASSWORD_FILE= >"$src.configure.log" 2>&1 &&
      env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
        cmake --build --preset default --target VrUpdater1030 >"$src.build.log" 2>&1
  ) || { echo "check-reproducible: the build in $src failed (see $src.*.log)" >&2; exit 2; }
}

# Folders of different names and depths: a path that reaches the output
# shows as a difference.
first=$root/a/src
second=$root/second-build/of/the/updater
start=$(date +%s)
echo "check-reproducible: building in $first"
build "$first"
echo "check-reproducible: building in $second"
build "$second"
exe=build/bin/VrUpdater1030.exe
sha256sum "$first/$exe" "$second/$exe"
if cmp -s "$first/$exe" "$second/$exe"; then
  echo "check-reproducible: identical ($(stat -c %s "$first/$exe") bytes, $(($(date +%s) - start)) s)"
  exit 0
fi
echo "check-reproducible: the two builds differ (offset, then octal bytes of each):"
cmp -l "$first/$exe" "$second/$exe" | head -20 || true
echo "hint: a time stamp (the link time, __DATE__, a time in the store or the version" \
  "resource) or a build path (-ffile-prefix-map) in the output; see which section" \
  "holds the offsets: objdump -h $first/$exe; rerun with VR_KEEP_REPRO=1 to keep both" >&2
exit 1
