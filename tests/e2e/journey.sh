#!/usr/bin/env bash
# One journey through the real updater, in a prefix of its own:
#
#   journey.sh NAME [--arch win64|win32] [--winver VER] [--drive X=DIR]
#              [--install "VERSION [install-product options]"]
#              [--hold NAME] [--robot "robot options"] [--check "checks"]
#              [--step "TEXT[=COUNT]"]... [--no-step "TEXT"]...
#              [--last-buttons "start=N close=N"] [--small-drive LETTER=MB]
#              [--read-only-drive] [--also "SHELL COMMAND"]
#              [--planted "NAME..."] [--native-first]
#              [--fill-drive "STEP[+MS]"] [--corrupt-entry ENTRY]
#              [--kill "STEP[+MS]"] [--kill-at "POINT[#N]"] [--again "robot options"]
#              [--again-check "checks"] [--keep-trace FILE] [--watch-temp]
#
# --install  installs the simulated product first (scripts/install-product.sh)
#            and records the state of every file of the update list
# --hold     keeps NAME (relative to the program folder) open without
#            sharing from another process while the updater runs
# --robot    options of vrrobot (--start, --expect, --answer, ...); the robot
#            fails the journey when the boxes differ from --expect
# --check    e2e_check checks run afterwards in the same prefix; "same" alone
#            means every file of the list is as the install left it
# --step     a step the updater must have traced (COUNT times, default at
#            least once); --no-step a step it must not have traced
# --also     a shell command run in the prefix after the install
# --last-buttons  the state of Start and Close the robot saw last
# --small-drive   a tmpfs of MB megabytes mapped as drive LETTER (needs root;
#                 without it the journey exits 77, which ctest counts as
#                 skipped)
# --read-only-drive  remounts the small drive read-only after the setup
#                 (install, --hold, --also) and before the updater starts
# --planted      runs a copy of the updater from a download folder of its
#                own that is also its current directory, with the testbed's
#                marking library planted there under each NAME; any load of
#                one fails the journey. First a probe loads every NAME by
#                bare name from such a folder and says which it found there.
# --native-first with --planted: Wine prefers its own copy of a library it
#                has built in; this makes every NAME native-first (as Windows
#                treats a library that is not a Known DLL); the probe must
#                then find every NAME, so that the check can fail
# --fill-drive  fills the small drive up MS milliseconds after the updater
#            first traced STEP (tests/e2e/kill-when.sh --fill)
# --corrupt-entry  runs a variant of the updater whose store entry ENTRY has
#            one bit flipped inside its compressed data
# --kill     kills the updater's process (SIGKILL: the process ends, the
#            machine runs on) MS milliseconds after it first traced STEP
#            (tests/e2e/kill-when.sh); the journey fails when the point is not
#            reached. "old-or-new" and "facts" among the checks compare with
#            the state the install left.
# --kill-at  runs the killable updater (bin/killable, win32/KillPoint.h)
#            with VR_KILL_AT=POINT[#N]: it ends itself at that point, at the
#            same place in every run; the journey fails when it never got
#            there. The second run (--again) is the shipped updater.
# --again    runs the updater a second time in the same prefix after the
#            checks, with these robot options; --again-check checks after it
# --keep-trace  keeps Wine's debug output of the run (the updater's trace)
#            as FILE
# --watch-temp  watches the prefix user's temporary folder (inotify, from the
#            Linux side) from just before the updater starts until it has
#            ended, before any check; the journey fails when anything was
#            created in it, even for a moment (tests/e2e/watch-temp.py)
#
# Environment (set by the build): VR_BIN (built programs), VR_UPLIST (the
# updater's update list), VR_PAYLOAD_SRC (its expanded payload), VR_ARTIFACTS
# (screenshots go to VR_ARTIFACTS/NAME), VR_WINE_TEMPLATES. Commands of the
# journey start the built programs through $VR_WINE (the harness sets it).
# A journey the machine cannot run (a 32-bit one without 32-bit support)
# exits 77: skipped.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
name=$1
shift
harness_opts=() install="" hold="" robot="" checks="" steps=() no_steps=()
last_buttons="" small_drive="" read_only=0 also="" planted="" native_first=0 fill_at=""
corrupt="" kill_at="" kill_point="" again="" again_checks="" keep_trace="" watch_temp=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch | --winver | --drive) harness_opts+=("$1" "$2"); shift 2 ;;
    --install) install=$2; shift 2 ;;
    --hold) hold=$2; shift 2 ;;
    --robot) robot=$2; shift 2 ;;
    --check) checks=$2; shift 2 ;;
    --step) steps+=("$2"); shift 2 ;;
    --no-step) no_steps+=("$2"); shift 2 ;;
    --last-buttons) last_buttons=$2; shift 2 ;;
    --also) also=$2; shift 2 ;;
    --small-drive) small_drive=$2; shift 2 ;;
    --read-only-drive) read_only=1; shift ;;
    --planted) planted=$2; shift 2 ;;
    --native-first) native_first=1; shift ;;
    --fill-drive) fill_at=$2; shift 2 ;;
    --corrupt-entry) corrupt=$2; shift 2 ;;
    --kill) kill_at=$2; shift 2 ;;
    --kill-at) kill_point=$2; shift 2 ;;
    --again) again=$2; shift 2 ;;
    --again-check) again_checks=$2; shift 2 ;;
    --keep-trace) keep_trace=$2; shift 2 ;;
    --watch-temp) watch_temp=1; shift ;;
    *) echo "journey: unknown option $1" >&2; exit 2 ;;
  esac
done
bin=${VR_BIN:?} uplist=${VR_UPLIST:?} src=${VR_PAYLOAD_SRC:?}
if [ $read_only -eq 1 ] && [ -z "$small_drive" ]; then
  echo "journey: --read-only-drive needs --small-drive" >&2
  exit 2
fi
begin=$(date +%s)

work=$(mktemp -d /tmp/vrjourney.XXXXXX)
mounted=""
trap '[ -n "$mounted" ] && umount "$mounted"; [ -f "$work/temp-watch.pid" ] && kill "$(cat "$work/temp-watch.pid")" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/shots"
if [ -n "$small_drive" ]; then
  mkdir -p "$work/drive"
  if ! mount -t tmpfs -o "size=${small_drive#*=}m" tmpfs "$work/drive" 2>/dev/null; then
    echo "journey $name: cannot mount a small drive here (needs root); skipped"
    exit 77
  fi
  mounted=$work/drive
  harness_opts+=(--drive "${small_drive%%=*}=$work/drive")
fi
winpath() { printf 'Z:%s' "${1//\//\\}"; }
q() { printf '%q' "$1"; }

check_exe=$(q "$bin/e2e_check.exe")
list_opts="list=$(q "$uplist") src=$(q "$src")"
setup=""
if [ -n "$install" ]; then
  setup="$(q "$root/scripts/install-product.sh") \"\$WINEPREFIX\" $install --bin $(q "$bin") --keep-server"
  setup+=" && \"\$VR_WINE\" $check_exe $list_opts snapshot=$(q "$work/before.snap")"
fi
if [ -n "$hold" ]; then
  # The holder runs detached; the harness's wineserver -k ends it at the latest.
  setup+=" && { setsid \"\$VR_WINE\" $(q "$bin/e2e_holder.exe") $(q "$hold") $(q "$(winpath "$work/held")") </dev/null >/dev/null 2>&1 & echo \$! > $(q "$work/holder.pid"); }"
  setup+=" && for i in \$(seq 100); do [ -e $(q "$work/held") ] && break; sleep 0.1; done; [ -e $(q "$work/held") ]"
fi
[ -n "$also" ] && setup+="${setup:+ && }$also"
# Written by the install, read-only for the updater (and the checks after it).
[ $read_only -eq 1 ] && setup+="${setup:+ && }mount -o remount,ro $(q "$work/drive")"
# The watcher reads the updater's trace from this journey's stderr; it is
# stopped before anything else runs in the prefix.
if [ -n "$fill_at" ]; then
  setup+="${setup:+ && }{ $(q "$here/kill-when.sh") $(q "$fill_at") $(q "$work/stderr") $(q "$work/fill") --fill $(q "$work/drive") </dev/null >/dev/null 2>&1 & }"
fi
if [ -n "$kill_at" ]; then
  setup+="${setup:+ && }{ $(q "$here/kill-when.sh") $(q "$kill_at") $(q "$work/stderr") $(q "$work/kill") </dev/null >/dev/null 2>&1 & echo \$! > $(q "$work/watcher.pid"); }"
fi
then=""
with_checks() {  # the e2e_check command for the checks $1
  local c=${1//same/same=$(q "$work/before.snap")}
  c=${c//old-or-new/old-or-new=$(q "$work/before.snap")}
  c=${c//facts/facts=$(q "$work/before.snap")}
  echo "\"\$VR_WINE\" $check_exe $list_opts $c"
}
[ -n "$checks" ] && then=$(with_checks "$checks")
[ -n "$hold" ] && then="kill \$(cat $(q "$work/holder.pid")) 2>/dev/null; $then"
[ -n "$kill_at" ] && then="kill \$(cat $(q "$work/watcher.pid")) 2>/dev/null; ${then:-true}"
if [ -n "$again" ]; then
  # Every part runs; the status is the first failure's.
  then="s=0; { ${then:-true}; } || s=1; echo '--- second run'; echo '--- second run' >&2"
  then+="; unset VR_KILL_AT; LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 \"\$VR_WINE\" $(q "$bin/vrrobot.exe") $again -- $(q "$bin/VrUpdater1030.exe") </dev/null || s=1"
  [ -n "$again_checks" ] && then+="; $(with_checks "$again_checks") || s=1"
  then+="; exit \$s"
fi

updater=$bin/VrUpdater1030.exe
run_dir=$PWD
if [ -n "$kill_point" ]; then
  updater=$bin/killable/VrUpdater1030.exe
  [ -f "$updater" ] || { echo "journey: $updater not built" >&2; exit 2; }
  export VR_KILL_AT=$kill_point
fi
if [ -n "$corrupt" ]; then
  mkdir -p "$work/variant"
  python3 "$here/corrupt-entry.py" "$updater" "$work/variant/VrUpdater1030.exe" "$corrupt" || exit 1
  updater=$work/variant/VrUpdater1030.exe
fi
if [ -n "$planted" ]; then
  # The download folder: the updater's own folder and current directory.
  mkdir -p "$work/dl" "$work/probe"
  cp "$updater" "$work/dl/"
  updater=$work/dl/VrUpdater1030.exe
  cp "$bin/PlantedProbe.exe" "$work/probe/"
  overrides=""
  for n in $planted; do
    cp "$bin/Planted.dll" "$work/dl/$n"
    cp "$bin/Planted.dll" "$work/probe/$n"
    [ $native_first -eq 1 ] && overrides+="${overrides:+;}${n%.*}=n,b"
  done
  export VR_DLL_OVERRIDES=$overrides
  echo "journey: planted in $work/dl: $planted; WINEDLLOVERRIDES adds \"$overrides\""
  # The probe, from its own folder: every name it loads by bare name must be
  # the planted one.
  probe="cd $(q "$work/probe") && \"\$VR_WINE\" PlantedProbe.exe $planted"
  probe+="; for n in $planted; do [ -e $(q "$work/probe")/\$n.loaded ] && echo \"journey: the probe loaded the planted \$n\" || echo \"journey: the probe did not load the planted \$n\"; done"
  setup+="${setup:+ && }{ $probe; }"
  run_dir=$work/dl
fi

if [ $watch_temp -eq 1 ]; then
  # The last step of the setup, the first one after the run.
  watcher=$(q "$here/watch-temp.py")
  setup+="${setup:+ && }python3 $watcher start $(q "$work/temp-watch")"
  then="python3 $watcher stop $(q "$work/temp-watch"); ${then:-true}"
fi

# The updater traces its steps through OutputDebugStringA; Wine shows them
# on the debugstr channel.
# shellcheck disable=SC2086
(cd "$run_dir" && WINEDEBUG=${VR_JOURNEY_WINEDEBUG:--all,+debugstr} "$root/tests/harness/wine-test.sh" --display \
  "${harness_opts[@]}" ${setup:+--setup "$setup"} ${then:+--then "$then"} -- \
  "$bin/vrrobot.exe" --shot-dir "$work/shots" $robot -- "$updater") \
  2>"$work/stderr" | tr -d '\r' | tee "$work/robot"
status=${PIPESTATUS[0]}
if [ "$status" -eq 77 ]; then
  echo "journey $name: skipped"
  exit 77
fi

[ -n "$keep_trace" ] && cp "$work/stderr" "$keep_trace"
grep -a -o -E 'VrUpdater: [^"]*|^--- second run' "$work/stderr" | sed 's/\\n$//' >"$work/steps"
grep -a -E 'e2e_holder|e2e_check|install-product|wine-test|^wine:' "$work/stderr" >&2
echo "--- steps the updater traced"
cat "$work/steps"
for s in "${steps[@]}"; do
  text=${s%=*} want=""
  [ "$text" != "$s" ] && want=${s##*=}
  n=$(grep -c -F -- "VrUpdater: $text" "$work/steps")
  if { [ -z "$want" ] && [ "$n" -lt 1 ]; } || { [ -n "$want" ] && [ "$n" -ne "$want" ]; }; then
    echo "journey: step \"$text\" traced $n times (expected ${want:-at least once})"
    [ "$status" -eq 0 ] && status=1
  fi
done
for s in "${no_steps[@]}"; do
  if grep -q -F -- "VrUpdater: $s" "$work/steps"; then
    echo "journey: step \"$s\" must not be traced"
    [ "$status" -eq 0 ] && status=1
  fi
done

if [ -n "$planted" ]; then
  for n in $planted; do
    if [ $native_first -eq 1 ] && [ ! -e "$work/probe/$n.loaded" ]; then
      echo "journey: the probe did not load the planted $n: this check could not fail"
      [ "$status" -eq 0 ] && status=1
    fi
    if [ -e "$work/dl/$n.loaded" ]; then
      echo "journey: the planted $n was loaded"
      [ "$status" -eq 0 ] && status=1
    fi
  done
fi
if [ $watch_temp -eq 1 ]; then
  python3 "$here/watch-temp.py" check "$work/temp-watch" || { [ "$status" -eq 0 ] && status=1; }
fi
if [ -n "$fill_at" ]; then
  echo "fill: $(cat "$work/fill" 2>/dev/null || echo "not reached")"
  grep -q '^filled' "$work/fill" 2>/dev/null || { [ "$status" -eq 0 ] && status=1; }
fi
if [ -n "$kill_at" ]; then
  echo "kill: $(cat "$work/kill" 2>/dev/null || echo "not reached: the updater ended before the point")"
  grep -q '^killed' "$work/kill" 2>/dev/null || { [ "$status" -eq 0 ] && status=1; }
fi
if [ -n "$kill_point" ]; then
  # The killable updater announces the point before it ends itself.
  reached=$(sed '/^--- second run/q' "$work/steps" | grep -m1 '^VrUpdater: kill point ')
  if [ -n "$reached" ]; then
    echo "kill: reached: ${reached#VrUpdater: }"
  else
    echo "kill: not reached: \"$kill_point\""
    [ "$status" -eq 0 ] && status=1
  fi
fi

if [ -n "$last_buttons" ]; then
  seen=$(grep '^BUTTONS ' "$work/robot" | tail -n 1)
  if [ "$seen" != "BUTTONS $last_buttons" ]; then
    echo "journey: last buttons \"${seen#BUTTONS }\" (expected \"$last_buttons\")"
    [ "$status" -eq 0 ] && status=1
  fi
fi

artifacts=${VR_ARTIFACTS:-}
if [ -n "$artifacts" ]; then
  mkdir -p "$artifacts/$name"
  rm -f "$artifacts/$name"/*.png
  for bmp in "$work/shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "$artifacts/$name/$(basename "${bmp%.bmp}").png" 2>/dev/null ||
      cp "$bmp" "$artifacts/$name/"
  done
fi
echo "journey $name: exit $status after $(($(date +%s) - begin)) s"
exit $status
