#!/usr/bin/env bash
# Runs one Windows program under Wine in a prefix of its own.
#
#   wine-test.sh [--arch win64|win32] [--winver VER] [--display] [--nobody]
#                [--keep] [--drive LETTER=DIR] [--setup "SHELL COMMAND"]
#                [--then "SHELL COMMAND"] [--host-display] -- program.exe [args...]
#
# The prefix is a copy (hard links, registry files copied for real) of a
# template made once per build tree and architecture; its wineserver and, with
# --display, an Xvfb server of its own are started here and stopped again by
# PID. Nothing is left running and the prefix is removed afterwards (kept with
# --keep or VR_KEEP_PREFIX=1 when the program failed). --setup runs a shell
# command (with WINEPREFIX and the rest exported, the server already up) after
# wineboot and before the program, e.g. to install the simulated product with
# scripts/install-product.sh "$WINEPREFIX" VERSION --keep-server; when it
# fails the program is not run and the exit code is 3. --then runs a shell
# command the same way after the program (e.g. a checker of the prefix's
# state); the exit code is the program's when it failed, else the command's.
# --host-display keeps the caller's $DISPLAY (to show a program to a user)
# instead of none.
#
# Loaders (tests/harness/wine-env.sh): a 64-bit program starts through Wine's
# 64-bit loader, a 32-bit one through "wine"; Wine's tools in a 64-bit prefix
# through the 64-bit loader. --setup and --then find the program's loader in
# $VR_WINE and the prefix's in $VR_WINE_TOOLS. Where the machine cannot run
# 32-bit code, a 32-bit program or prefix is not started: the exit code is 77
# (skipped) and the reason is printed.
#
# Environment: VR_WINE_TEMPLATES  folder of the templates (default: beside this
#              script's build tree, ./wine-templates)
#              VR_ARTIFACTS       folder where programs may save screenshots;
#                                 passed on unchanged
#              VR_DLL_OVERRIDES   load orders added to WINEDLLOVERRIDES
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"

arch=win64 bits="" winver="" display=0 nobody=0 keep=${VR_KEEP_PREFIX:-0} host_display=0
drives=() setup="" then=""
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --bits) bits=$2; shift 2 ;;
    --winver) winver=$2; shift 2 ;;
    --display) display=1; shift ;;
    --nobody) nobody=1; shift ;;
    --keep) keep=1; shift ;;
    --drive) drives+=("$2"); shift 2 ;;
    --setup) setup=$2; shift 2 ;;
    --then) then=$2; shift 2 ;;
    --host-display) host_display=1; shift ;;
    --) shift; break ;;
    *) echo "wine-test: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -ge 1 ] || { echo "wine-test: no program" >&2; exit 2; }

VR_WINE_TOOLS=$(vr_tools_loader "$arch")
# --bits: the program's kind as the build knows it, so that a program left
# unbuilt where it cannot run is skipped as well.
if [ "$bits" = 32 ] && ! vr_runs_32bit; then
  echo "wine-test: skipped ($(basename "$1"), $arch prefix): $VR_NO_32BIT_WHY"
  exit 77
fi
if bits=$(vr_pe_bits "$1"); then
  VR_WINE=$(vr_loader_for "$1")
else  # one of Wine's own programs: of the prefix's kind
  VR_WINE=$VR_WINE_TOOLS bits=64
  [ "$arch" = win32 ] && bits=32
fi
export VR_WINE VR_WINE_TOOLS
if [ "$bits" = 64 ] && [ "$arch" = win32 ]; then
  echo "wine-test: $(basename "$1") is a 64-bit program; a 32-bit prefix cannot run it" >&2
  exit 2
fi
if { [ "$bits" = 32 ] || [ "$arch" = win32 ]; } && ! vr_runs_32bit; then
  echo "wine-test: skipped ($(basename "$1"), $arch prefix): $VR_NO_32BIT_WHY"
  exit 77
fi

templates=${VR_WINE_TEMPLATES:-$PWD/wine-templates}
"$here/make-template.sh" "$templates" "$arch" "$nobody" || exit 2
template=$(vr_template_path "$templates" "$arch" "$nobody")

work=$(mktemp -d /tmp/vrtest.XXXXXX)
pfx=$work/pfx
runas=()
if [ $nobody -eq 1 ]; then
  chmod 755 "$work"
  runas=("${VR_NOBODY[@]}")
  # A build tree inside a folder only root may enter: the unprivileged user
  # runs a hard-linked copy of the program's folder (its helpers lie beside it).
  if [ -f "$1" ] && ! vr_nobody_reaches "$(dirname "$1")"; then
    cp -al "$(dirname "$1")" "$work/bin" 2>/dev/null || cp -a "$(dirname "$1")" "$work/bin"
    program=$work/bin/$(basename "$1")
    shift
    set -- "$program" "$@"
  fi
fi

xvfb_pid=""
cleanup() {
  local rc=$?
  WINEPREFIX=$pfx "${runas[@]}" wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  if [ "$keep" = 1 ] && [ "${status:-1}" -ne 0 ]; then
    echo "wine-test: prefix kept in $pfx" >&2
  else
    rm -rf "$work"
  fi
  return $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Hard-linked copy; files Wine rewrites in place get real copies so the
# template never changes.
cp -al "$template" "$pfx"
for f in "$pfx"/*.reg "$pfx"/drive_c/windows/win.ini "$pfx"/drive_c/windows/system.ini; do
  [ -f "$f" ] && cp --remove-destination "$template/${f#"$pfx"/}" "$f"
done
if [ $nobody -eq 1 ]; then
  chown 65534:65534 "$pfx" "$pfx"/*.reg "$pfx"/drive_c/windows/win.ini "$pfx"/drive_c/windows/system.ini 2>/dev/null
  export HOME=$work/home; mkdir -p "$HOME"; chown 65534:65534 "$HOME"
fi
if [ -n "$winver" ]; then
  printf '\n[Software\\\\Wine] 1700000000\n"Version"="%s"\n' "$winver" >> "$pfx/user.reg"
fi
for d in "${drives[@]}"; do
  letter=${d%%=*}; dir=${d#*=}
  ln -sfn "$dir" "$pfx/dosdevices/${letter,,}:"
done

# VR_DLL_OVERRIDES adds load orders of a test's own (e.g. "version=n,b").
export WINEPREFIX=$pfx WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree=;mshtml=${VR_DLL_OVERRIDES:+;$VR_DLL_OVERRIDES}"
[ $host_display -eq 1 ] || unset DISPLAY
if [ $display -eq 1 ]; then
  dfile=$work/display
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$dfile" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.05; done
  export DISPLAY=:$(tr -d '\n' < "$dfile")
fi

# The first process of a new wineserver starts Wine's helper processes; they
# must not inherit a pipe of ctest's, so start them with stdio detached.
"${runas[@]}" wineserver -p >/dev/null 2>&1 </dev/null
"${runas[@]}" "$VR_WINE_TOOLS" wineboot </dev/null >/dev/null 2>&1

if [ -n "$setup" ]; then
  if ! "${runas[@]}" bash -c "$setup" </dev/null; then
    echo "wine-test: setup failed: $setup" >&2
    status=3
    exit 3
  fi
fi

LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "${runas[@]}" "$VR_WINE" "$@" </dev/null
status=$?
if [ -n "$then" ]; then
  "${runas[@]}" bash -c "$then" </dev/null
  then_status=$?
  [ $status -eq 0 ] && status=$then_status
fi
exit $status
