#!/usr/bin/env bash
# Kills the updater of this prefix at a point of its run, the way a crash or
# the task manager would: SIGKILL to its Wine process, no chance to clean up.
# The machine goes on (the page cache and the wineserver's registry keep what
# was written): this is no power cut. The point is found by polling the trace
# and /proc, so it lands tens of milliseconds apart from run to run; the
# killable updater's named points (win32/KillPoint.h) land at the same place
# every time.
#
#   kill-when.sh "STEP[+MS]" TRACE REPORT [--fill DIR]
#
# With --fill, nothing is killed: the volume of DIR is filled up at the point
# instead (a file of zeros until the disc is full), as another program could.
# Waits until the Wine debug output TRACE (the journey's stderr) shows the
# updater's step trace "VrUpdater: STEP..." for the first time (any line that
# begins so: "service: install" is also "service: installer started"), waits MS more
# milliseconds, then kills the process of VrUpdater1030.exe that runs in
# $WINEPREFIX (found through /proc by its prefix and program name, killed by
# PID). One line goes to REPORT: "killed ..." or "not reached ...". Gives up
# after 180 s. Started in the background by journey.sh --kill.
set -u
point=$1 trace=$2 report=$3 fill=""
[ "${4:-}" = "--fill" ] && fill=$5
step=${point%+*} ms=0
[ "$step" != "$point" ] && ms=${point##*+}
prefix=${WINEPREFIX:?}

# PID of the updater's Wine process in this prefix: its first argument is
# the program and its environment names the prefix. The command lines are
# read with builtins, so that a look takes milliseconds.
updater_pid() {
  local p arg0
  for p in /proc/[0-9]*; do
    IFS= read -r -d '' arg0 <"$p/cmdline" 2>/dev/null || continue
    case "${arg0,,}" in
      *vrupdater1030.exe) ;;
      *) continue ;;
    esac
    if tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -q -x -F "WINEPREFIX=$prefix"; then
      echo "${p#/proc/}"
      return 0
    fi
  done
  return 1
}

deadline=$((SECONDS + 180))
until grep -a -q -F -- "VrUpdater: $step" "$trace" 2>/dev/null; do
  if [ $SECONDS -ge $deadline ]; then
    echo "not reached: \"$step\" never traced" >"$report"
    exit 1
  fi
  sleep 0.02
done
[ "$ms" -gt 0 ] && sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
if [ -n "$fill" ]; then
  dd if=/dev/zero of="$fill/filler" bs=64k 2>/dev/null
  echo "filled: $(df -k --output=avail "$fill" | tail -1 | tr -d ' ') KiB left $ms ms after \"$step\"" >"$report"
  exit 0
fi
if pid=$(updater_pid) && kill -KILL "$pid" 2>/dev/null; then
  echo "killed: updater (pid $pid) $ms ms after \"$step\"" >"$report"
else
  echo "not reached: the updater had ended $ms ms after \"$step\"" >"$report"
  exit 1
fi
