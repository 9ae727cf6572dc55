#!/usr/bin/env bash
# Makes (once) the Wine prefix template for one architecture:
#   make-template.sh TEMPLATES_DIR win64|win32 NOBODY(0|1)
# Concurrent callers wait on a lock; a finished template is never changed,
# only made again when this script makes templates differently (the version
# in its .ready marker).
# A 64-bit prefix is made and set up by Wine's 64-bit loader, which works on
# every machine; a 32-bit one needs a machine that runs 32-bit code.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
templates=$1 arch=$2 nobody=${3:-0}
target=$(vr_template_path "$templates" "$arch" "$nobody")
flavour=$(basename "$target")
templates=$(dirname "$target")
version=2
ready() { [ "$(cat "$target/.ready" 2>/dev/null)" = "$version" ]; }
ready && exit 0
if [ "$arch" = win32 ] && ! vr_runs_32bit; then
  echo "make-template: no 32-bit prefix here: $VR_NO_32BIT_WHY" >&2
  exit 1
fi
tools=$(vr_tools_loader "$arch")

mkdir -p "$templates"
exec 8>"$templates/.$flavour.lock"
flock 8
ready && exit 0

runas=()
tmp=$templates/.$flavour.tmp
rm -rf "$tmp"
mkdir -p "$tmp"
if [ "$nobody" = 1 ]; then
  chmod 755 "$templates"
  chown 65534:65534 "$tmp"
  runas=("${VR_NOBODY[@]}")
  export HOME=$tmp.home; mkdir -p "$HOME"; chown 65534:65534 "$HOME"
fi
export WINEPREFIX=$tmp/pfx WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY
"${runas[@]}" "$tools" wineboot -i </dev/null >/dev/null 2>&1
# No window manager under Xvfb: let Wine draw captions itself.
"${runas[@]}" "$tools" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# The dialogs' font "ＭＳ Ｐゴシック" through the proportional IPAPGothic: the
# fixed-width default makes Japanese texts wider than on Windows and wraps the
# main dialog's instruction line. A UTF-16 file keeps the name intact.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"ＭＳ Ｐゴシック"="IPAPGothic"\r\n' |
  iconv -f UTF-8 -t UTF-16 >"$tmp/fonts.reg"
[ "$nobody" = 1 ] && chown 65534:65534 "$tmp/fonts.reg"
"${runas[@]}" "$tools" regedit /S "Z:${tmp//\//\\}\\fonts.reg" </dev/null >/dev/null 2>&1
"${runas[@]}" wineserver -w
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
[ "$nobody" = 1 ] && chown -R 65534:65534 "$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "make-template: Wine could not make a $flavour prefix ($tools wineboot -i failed)" >&2
  exit 1
fi
rm -rf "$target"
mv "$WINEPREFIX" "$target"
rm -rf "$tmp" "$tmp.home"
echo "$version" >"$target/.ready"
