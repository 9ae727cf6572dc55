#!/usr/bin/env bash
# Installs the simulated product into a Wine prefix:
#
#   install-product.sh PREFIX VERSION [--arch win64|win32] [--winver VER]
#                      [--run-value[=PATH]] [--launcher[=FLAGS]] [--keep-server]
#                      [--bin DIR] [installer options...]
#
# PREFIX is made from the harness template of ARCH when it does not exist.
# VERSION is dotted (10.2.9.0); 10.4.0.0 and 9.5.0.0 are the off-list ones.
# --run-value       writes the Run value "marrowickupdater" = "PATH /r"
#                   (default PATH: the updater in the build's bin folder)
# --launcher        starts the launcher window (VrOstrel.exe, with FLAGS such
#                   as --ignore-close) after the install; it needs $DISPLAY
#                   and leaves the prefix's wineserver running
# --keep-server     leaves the prefix's wineserver running (used when the
#                   caller already runs one, e.g. the harness's --setup)
# --bin DIR         folder of the built programs (default: $VR_BIN or
#                   build/bin of this checkout)
# Other options go to VrInstallProduct.exe: --wrong-length, --length N,
# --qfcontrol normal|noexport|empty|stdcall|none, --no-trailing-backslash,
# --no-app-path, --no-uninstall-entry, --no-service, --no-filters,
# --filter-size N, --filter-long N, --filter-omit N, --no-comserver,
# --servinst-delay MS, --servinst-refuse, --soundfx-count N, --uplist WINPATH,
# --program-folder, --common-folder, --shared-folder.
# Without --uplist, the update list the build generated (UPLIST.INI under the
# build tree) is used when there is one.
# The product is of the build's flavour: the 32-bit one installs into the
# 32-bit registry view and "Program Files (x86)" of a 64-bit prefix, the
# 64-bit one where a 64-bit process sees it (64-bit view, "Program Files").
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
# shellcheck source=../tests/harness/wine-env.sh
. "$root/tests/harness/wine-env.sh"

[ $# -ge 2 ] || { sed -n '2,25p' "$0" >&2; exit 2; }
pfx=$1 version=$2
shift 2
arch=win64 winver="" run_value="" launcher="" keep_server=0
bin=${VR_BIN:-$root/build/bin}
have_uplist=0 uplist_file=""
pass=()
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --winver) winver=$2; shift 2 ;;
    --run-value) run_value=default; shift ;;
    --run-value=*) run_value=${1#*=}; shift ;;
    --launcher) launcher=" "; shift ;;
    --launcher=*) launcher=${1#*=}; shift ;;
    --keep-server) keep_server=1; shift ;;
    --bin) bin=$2; shift 2 ;;
    --uplist) have_uplist=1; pass+=("$1" "$2"); shift 2 ;;
    --uplist-file) have_uplist=1; uplist_file=$2; shift 2 ;;
    *) pass+=("$1"); shift ;;
  esac
done
bin=$(cd "$bin" && pwd) || { echo "install-product: no bin folder $bin" >&2; exit 2; }
[ -f "$bin/VrInstallProduct.exe" ] || { echo "install-product: $bin/VrInstallProduct.exe not built" >&2; exit 2; }

winpath() { printf 'Z:%s' "${1//\//\\}"; }

installer=$bin/VrInstallProduct.exe
bits=$(vr_pe_bits "$installer") || { echo "install-product: $installer is no Windows program" >&2; exit 2; }
if [ "$bits" = 32 ] || [ "$arch" = win32 ]; then
  vr_runs_32bit || { echo "install-product: the 32-bit product cannot be installed here: $VR_NO_32BIT_WHY" >&2; exit 2; }
fi

if [ ! -f "$pfx/system.reg" ]; then
  templates=${VR_WINE_TEMPLATES:-$root/build-templates}
  "$root/tests/harness/make-template.sh" "$templates" "$arch" 0 || exit 2
  mkdir -p "$(dirname "$pfx")"
  cp -al "$templates/$arch" "$pfx" || exit 2
  for f in "$pfx"/*.reg "$pfx"/drive_c/windows/win.ini "$pfx"/drive_c/windows/system.ini; do
    [ -f "$f" ] && cp --remove-destination "$templates/$arch/${f#"$pfx"/}" "$f"
  done
fi
pfx=$(cd "$pfx" && pwd)
export WINEPREFIX=$pfx WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree=;mshtml="
prefix_arch=win64
[ -d "$pfx/drive_c/windows/syswow64" ] || prefix_arch=win32
tools=$(vr_tools_loader "$prefix_arch")
loader=$(vr_loader_for "$installer")

# Start the server with stdio detached (Wine's helpers must not hold a pipe
# of the caller's open).
wineserver -p >/dev/null 2>&1 </dev/null
"$tools" wineboot </dev/null >/dev/null 2>&1
if [ -n "$winver" ]; then
  "$tools" reg add 'HKCU\Software\Wine' /v Version /d "$winver" /f </dev/null >/dev/null 2>&1
fi

[ -n "$uplist_file" ] && pass+=(--uplist "$(winpath "$(cd "$(dirname "$uplist_file")" && pwd)/$(basename "$uplist_file")")")
if [ $have_uplist -eq 0 ]; then
  uplist=$(find "$(dirname "$bin")" -maxdepth 4 -iname uplist.ini -type f 2>/dev/null | sort | head -n 1)
  [ -n "$uplist" ] && pass+=(--uplist "$(winpath "$uplist")")
fi
if [ "$run_value" = default ]; then
  updater=$(ls "$bin"/*[Uu]pdater*.exe 2>/dev/null | head -n 1)
  run_value=${updater:+$(winpath "$updater")}
  run_value=${run_value:-'C:\Marrowick\VrUpdate1030.exe'}
fi
[ -n "$run_value" ] && pass+=(--run-value "$run_value")

LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$loader" "$installer" "$version" "${pass[@]}" </dev/null | tr -d '\r'
status=${PIPESTATUS[0]}

if [ -n "$launcher" ] && [ $status -eq 0 ]; then
  progfolder=$(LANG=C "$tools" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\VRSAFFRA9.EXE' /v Path "/reg:$bits" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')
  # shellcheck disable=SC2086
  setsid "$loader" "${progfolder%\\}\\VrOstrel.exe" $launcher </dev/null >/dev/null 2>&1 &
  echo "launcher started (pid $!)"
  keep_server=1
fi
[ $keep_server -eq 0 ] && wineserver -k >/dev/null 2>&1
exit $status
