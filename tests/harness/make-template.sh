#!/usr/bin/env bash
# Makes (once) the Wine prefix template for one architecture:
#   make-template.sh TEMPLATES_DIR win64|win32 NOBODY(0|1)
# Concurrent callers wait on a lock; a finished template is never changed.
set -u
templates=$1 arch=$2 nobody=${3:-0}
flavour=$arch
[ "$nobody" = 1 ] && flavour=$arch-nobody
target=$templates/$flavour
[ -f "$target/.ready" ] && exit 0

mkdir -p "$templates"
exec 8>"$templates/.$flavour.lock"
flock 8
[ -f "$target/.ready" ] && exit 0

runas=()
tmp=$templates/.$flavour.tmp
rm -rf "$tmp"
mkdir -p "$tmp"
if [ "$nobody" = 1 ]; then
  chmod 755 "$templates"
  chown 65534:65534 "$tmp"
  runas=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  export HOME=$tmp.home; mkdir -p "$HOME"; chown 65534:65534 "$HOME"
fi
export WINEPREFIX=$tmp/pfx WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY
"${runas[@]}" wineboot -i </dev/null >/dev/null 2>&1
# No window manager under Xvfb: let Wine draw captions itself.
"${runas[@]}" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"${runas[@]}" wineserver -w
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
[ "$nobody" = 1 ] && chown -R 65534:65534 "$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "make-template: wineboot failed for $flavour" >&2
  exit 1
fi
rm -rf "$target"
mv "$WINEPREFIX" "$target"
rm -rf "$tmp" "$tmp.home"
touch "$target/.ready"
