#!/usr/bin/env bash
# Runs a command as on a machine that cannot run 32-bit code:
#
#   scripts/rehearse-no-32bit.sh scripts/test-all.sh
#   scripts/rehearse-no-32bit.sh scripts/run-updater.sh
#
# In a mount namespace of its own (needs root and unshare), the i386 program
# interpreter is covered by a 64-bit program, so no i386 Linux program starts
# there: Wine's 32-bit loader, its 32-bit wineserver and every 32-bit helper
# that Wine's 64-bit loader would start all fail, as they do where the kernel
# has 32-bit emulation switched off. The harness then finds out by itself.
# (VR_FORCE_NO_32BIT=1 only makes the harness answer "no"; this proves that
# nothing of the run needs 32-bit code after all.)
set -euo pipefail
[ $# -ge 1 ] || { sed -n '2,13p' "$0" >&2; exit 2; }
interpreter=$(readlink -f /lib/ld-linux.so.2 2>/dev/null || true)
if [ -z "$interpreter" ] || [ ! -e "$interpreter" ]; then
  echo "rehearse-no-32bit: no i386 interpreter here; this machine runs no 32-bit code anyway" >&2
  exec "$@"
fi
exec unshare --mount --propagation private -- bash -c '
  mount --bind "$(type -P true)" "$0" || exit 125
  exec "$@"' "$interpreter" "$@"
