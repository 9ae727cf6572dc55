# Sourced by the harness and the scripts: which Wine loader starts what, and
# whether this machine runs 32-bit code at all.
#
# Some build machines boot with 32-bit x86 emulation switched off: no i386
# Linux program starts there, Wine's 32-bit loader (and the "wine" wrapper,
# which tries it first) among them. Wine's 64-bit loader starts x86-64
# programs on every machine and makes and serves 64-bit prefixes, so the
# harness uses it for everything of a 64-bit prefix and for every program of
# the x64 flavour; the 32-bit loader only for i386 programs and 32-bit
# prefixes, and only where it starts.
#
#   vr_runs_32bit         0 when i386 programs start here. Decided once per
#                         run: the answer is exported in VR_RUNS_32BIT
#                         (yes|no) with the reason in VR_NO_32BIT_WHY.
#                         VR_FORCE_NO_32BIT=1 answers "no" (to rehearse such
#                         a machine on one that runs 32-bit code).
#   vr_pe_bits FILE       32 or 64 for a Windows program or library; fails
#                         for anything else
#   vr_loader_for FILE    the loader that starts FILE
#   vr_tools_loader ARCH  the loader for Wine's own tools (wineboot, reg, sc)
#                         in a prefix of ARCH (win64|win32)
#   VR_NOBODY             the command prefix that runs as the unprivileged
#                         user of the read-only tests
#   vr_nobody_reaches PATH  0 when that user can enter PATH's folder (or the
#                         nearest existing folder above it)
#   vr_template_path TEMPLATES ARCH NOBODY  the template folder of a flavour:
#                         under TEMPLATES, except the unprivileged user's
#                         when that user cannot reach TEMPLATES (a checkout
#                         inside a folder only root may enter): then in
#                         ${TMPDIR:-/tmp}, one per TEMPLATES folder

VR_WINE64=${VR_WINE64:-/usr/lib/wine/wine64}
VR_WINE32_LOADER=${VR_WINE32_LOADER:-/usr/lib/wine/wine}
[ -x "$VR_WINE64" ] || VR_WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)

vr_runs_32bit() {
  if [ "${VR_FORCE_NO_32BIT:-0}" = 1 ]; then
    VR_RUNS_32BIT=no
    VR_NO_32BIT_WHY="VR_FORCE_NO_32BIT=1 rehearses a machine that cannot run 32-bit code"
  elif [ -z "${VR_RUNS_32BIT:-}" ]; then
    local out
    if [ ! -x "$VR_WINE32_LOADER" ]; then
      VR_RUNS_32BIT=no
      VR_NO_32BIT_WHY="Wine's 32-bit loader ($VR_WINE32_LOADER) is not installed"
    elif out=$("$VR_WINE32_LOADER" --version 2>&1 </dev/null); then
      VR_RUNS_32BIT=yes VR_NO_32BIT_WHY=""
    else
      VR_RUNS_32BIT=no
      VR_NO_32BIT_WHY="this machine cannot run 32-bit code (Wine's 32-bit loader: ${out##*: })"
    fi
  fi
  export VR_RUNS_32BIT VR_NO_32BIT_WHY
  [ "$VR_RUNS_32BIT" = yes ]
}

vr_pe_bits() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' \n')
  [ -n "$offset" ] || return 1
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' \n')
  case $machine in
    014c) echo 32 ;;
    8664) echo 64 ;;
    *) return 1 ;;
  esac
}

vr_loader_for() {
  if [ "$(vr_pe_bits "$1")" = 64 ]; then echo "$VR_WINE64"; else echo wine; fi
}

vr_tools_loader() {
  if [ "$1" = win32 ]; then echo wine; else echo "$VR_WINE64"; fi
}

VR_NOBODY=(setpriv --reuid=65534 --regid=65534 --clear-groups)

vr_nobody_reaches() {
  local folder=$1
  while [ ! -d "$folder" ]; do folder=$(dirname "$folder"); done
  "${VR_NOBODY[@]}" test -x "$folder" 2>/dev/null
}

vr_template_path() {
  local templates=$1 arch=$2 nobody=$3
  if [ "$nobody" != 1 ]; then
    echo "$templates/$arch"
  elif vr_nobody_reaches "$(dirname "$templates")"; then
    echo "$templates/$arch-nobody"
  else
    echo "${TMPDIR:-/tmp}/vr-templates.$(printf '%s' "$templates" | cksum | cut -d' ' -f1)/$arch-nobody"
  fi
}
