#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine, installs the simulated product
# into a fresh Wine prefix and runs the updater against it.
#
#   scripts/run-updater.sh                               # 10.2.9.0, Windows 7 64-bit
#   VR_PRODUCT_VERSION=10.0.0.0 VR_ARCH=win32 VR_WINVER=winxp scripts/run-updater.sh
#   VR_FLAVOUR=x64 scripts/run-updater.sh                # the x64 test flavour
#
# It runs the 32-bit updater that ships where the machine runs 32-bit code,
# and otherwise the x64 test flavour (the same code built for x86-64, against
# the simulated product of that flavour), and says which in one line.
#
# With $DISPLAY the updater appears there and the user drives it. Without
# one it runs headless on a private Xvfb: the robot presses Start, answers
# every message box (the restart question with No), and prints what it saw;
# a screenshot of the dialog and of every box is saved in build/artifacts/.
# A table of the product's state before and after the update follows. The
# prefix is removed afterwards.
set -uo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "run-updater: $*" >&2
  exit 1
}
if [ "$(id -u)" -eq 0 ]; then bash scripts/bootstrap.sh; else sudo bash scripts/bootstrap.sh; fi ||
  fail "the build and test tools could not be installed (see the messages above)."
# shellcheck source=../tests/harness/wine-env.sh
. tests/harness/wine-env.sh

version=${VR_PRODUCT_VERSION:-10.2.9.0}
arch=${VR_ARCH:-win64}
winver=${VR_WINVER:-win7}
flavour=${VR_FLAVOUR:-}
if [ -z "$flavour" ]; then
  if vr_runs_32bit; then flavour=i686; else flavour=x64; fi
fi
case $flavour in
  i686)
    vr_runs_32bit || fail "the 32-bit updater cannot run here: $VR_NO_32BIT_WHY."
    preset=default build=build
    echo "run-updater: running the 32-bit updater that ships (this machine runs 32-bit code)" ;;
  x64)
    [ "$arch" = win64 ] || fail "the x64 flavour runs on 64-bit Windows only (VR_ARCH=$arch)."
    preset=x64 build=build-x64
    if [ -n "${VR_FLAVOUR:-}" ]; then
      echo "run-updater: running the x64 test flavour of the updater (VR_FLAVOUR=x64)"
    else
      echo "run-updater: running the x64 test flavour of the updater: $VR_NO_32BIT_WHY"
    fi ;;
  *) fail "VR_FLAVOUR must be i686 or x64, not \"$flavour\"." ;;
esac
cmake --preset "$preset" >/dev/null || fail "the $preset build could not be configured (see above)."
cmake --build --preset "$preset" --target VrUpdater1030 vrrobot VrInstallProduct ||
  fail "the updater or the simulated product could not be built (see above)."

root=$PWD
export VR_WINE_TEMPLATES=$root/build-templates
bin=$root/$build/bin
updater=$bin/VrUpdater1030.exe
artifacts=$root/$build/artifacts
mkdir -p "$artifacts"
bits=$(vr_pe_bits "$updater")
state=$(mktemp -d /tmp/vr-state.XXXXXX)
uplist=$(ls "$root/$build"/payload/*/UPLIST.INI 2>/dev/null | head -n 1)
# The product is installed into the updater's prefix before it starts; its
# state is recorded then and again after the updater has ended.
setup=(--arch "$arch" --winver "$winver"
  --setup "scripts/install-product.sh \"\$WINEPREFIX\" $version --arch $arch --bin $bin --keep-server --run-value ${uplist:+--uplist-file $uplist} >/dev/null && python3 scripts/product-state.py \"\$WINEPREFIX\" $state/before.json $bits"
  --then "python3 scripts/product-state.py \"\$WINEPREFIX\" $state/after.json $bits")

if [ -n "${DISPLAY:-}" ]; then
  exec tests/harness/wine-test.sh --host-display "${setup[@]}" -- "$updater"
fi

# The robot saves each screenshot as .bmp; turn them into .png for viewing.
shots=$(mktemp -d /tmp/vr-shots.XXXXXX)
trap 'rm -rf "$shots" "$state"' EXIT
tests/harness/wine-test.sh --display "${setup[@]}" -- "$bin/vrrobot.exe" \
    --start --answer 107=No --close-when-idle 5000 --timeout 600 --shot-dir "$shots" -- "$updater" |
  tr -d '\r'
status=${PIPESTATUS[0]}
if [ ! -s "$state/before.json" ]; then
  fail "the simulated product could not be installed into a Wine prefix (see the messages above)."
fi
[ -s "$state/after.json" ] || fail "the product's state after the update could not be read (see above)."
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  png=$artifacts/$(basename "${bmp%.bmp}").png
  convert "$bmp" "$png" && echo "screenshot: $png"
done
python3 - "$state/before.json" "$state/after.json" <<'TABLE' || true
import json, sys
before, after = (json.load(open(p)) for p in sys.argv[1:3])
rows = [k for k in before if k != "files"]
changed = sum(1 for f, d in after["files"].items() if before["files"].get(f) != d)
print()
print(f"{'':28} {'before':34} after")
for k in rows:
    print(f"{k:28} {before[k]:34} {after[k]}")
print(f"{'files replaced':28} {'':34} {changed} of {len(after['files'])}")
TABLE
[ "$status" -eq 0 ] || echo "run-updater: the robot saw the update end otherwise than expected (exit $status)" >&2
exit "$status"
