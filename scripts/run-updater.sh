#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine, installs the simulated product
# into a fresh Wine prefix and runs the updater against it.
#
#   scripts/run-updater.sh                               # 10.2.9.0, Windows 7 64-bit
#   VR_PRODUCT_VERSION=10.0.0.0 VR_ARCH=win32 VR_WINVER=winxp scripts/run-updater.sh
#
# With $DISPLAY the updater appears there and the user drives it. Without
# one it runs headless on a private Xvfb: the robot presses Start, answers
# every message box (the restart question with No), and prints what it saw;
# a screenshot of the dialog and of every box is saved in build/artifacts/.
# A table of the product's state before and after the update follows. The
# prefix is removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then bash scripts/bootstrap.sh; else sudo bash scripts/bootstrap.sh; fi
cmake --preset default >/dev/null
cmake --build --preset default --target VrUpdater1030 vrrobot VrInstallProduct

root=$PWD
export VR_WINE_TEMPLATES=$root/build/wine-templates
updater=$root/build/bin/VrUpdater1030.exe
artifacts=$root/build/artifacts
mkdir -p "$artifacts"

version=${VR_PRODUCT_VERSION:-10.2.9.0}
arch=${VR_ARCH:-win64}
winver=${VR_WINVER:-win7}
state=$(mktemp -d /tmp/vr-state.XXXXXX)
uplist=$(ls "$root"/build/payload/*/UPLIST.INI 2>/dev/null | head -n 1)
# The product is installed into the updater's prefix before it starts; its
# state is recorded then and again after the updater has ended.
setup=(--arch "$arch" --winver "$winver"
  --setup "scripts/install-product.sh \"\$WINEPREFIX\" $version --arch $arch --keep-server --run-value ${uplist:+--uplist-file $uplist} >/dev/null && python3 scripts/product-state.py \"\$WINEPREFIX\" $state/before.json"
  --then "python3 scripts/product-state.py \"\$WINEPREFIX\" $state/after.json")

if [ -n "${DISPLAY:-}" ]; then
  exec tests/harness/wine-test.sh --host-display "${setup[@]}" -- "$updater"
fi

# The robot saves each screenshot as .bmp; turn them into .png for viewing.
shots=$(mktemp -d /tmp/vr-shots.XXXXXX)
trap 'rm -rf "$shots" "$state"' EXIT
set +e
tests/harness/wine-test.sh --display "${setup[@]}" -- "$root/build/bin/vrrobot.exe" \
    --start --answer 107=No --close-when-idle 5000 --timeout 600 --shot-dir "$shots" -- "$updater" |
  tr -d '\r'
status=${PIPESTATUS[0]}
set -e
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
exit "$status"
