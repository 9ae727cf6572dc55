#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and shows the updater.
#
#   scripts/run-updater.sh
#
# With $DISPLAY the updater appears there and the user drives it. Without
# one it runs headless on a private Xvfb: the robot presses Start, answers
# every message box with its default button, closes the dialog when nothing
# more happens, and prints what it saw; a screenshot of the dialog and of
# every box is saved in build/artifacts/. Each run uses a fresh Wine prefix
# that is removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then bash scripts/bootstrap.sh; else sudo bash scripts/bootstrap.sh; fi
cmake --preset default >/dev/null
cmake --build --preset default --target VrUpdater1030 vrrobot

root=$PWD
export VR_WINE_TEMPLATES=$root/build/wine-templates
updater=$root/build/bin/VrUpdater1030.exe
artifacts=$root/build/artifacts
mkdir -p "$artifacts"

# What the prefix holds before the updater starts (a harness --setup command).
setup=()
# Installing the simulated product first is this one line:
#   setup=(--setup "scripts/install-product.sh \"\$WINEPREFIX\" 10.2.9.0 --keep-server")

if [ -n "${DISPLAY:-}" ]; then
  exec tests/harness/wine-test.sh --host-display "${setup[@]}" -- "$updater"
fi

# The robot saves each screenshot as .bmp; turn them into .png for viewing.
shots=$(mktemp -d /tmp/vr-shots.XXXXXX)
trap 'rm -rf "$shots"' EXIT
set +e
tests/harness/wine-test.sh --display "${setup[@]}" -- "$root/build/bin/vrrobot.exe" \
    --start --close-when-idle 3000 --timeout 300 --shot-dir "$shots" -- "$updater" |
  tr -d '\r'
status=${PIPESTATUS[0]}
set -e
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  png=$artifacts/$(basename "${bmp%.bmp}").png
  convert "$bmp" "$png" && echo "screenshot: $png"
done
exit "$status"
