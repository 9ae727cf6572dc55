#!/usr/bin/env bash
# Kill campaign: kills the real updater at many points of a full update and
# checks that nothing was lost and that the next run completes the update.
#
#   kill-campaign.sh [NAME] [--points N] [--part I/K] [--jobs J]
#                    [--build DIR] [--list]
#
# Each point is one journey (tests/e2e/journey.sh) in a prefix of its own:
# 10.2.9.0 installed as for the full-update journey (64-bit Windows 7, the
# launcher running, a resume entry), the robot presses Start, and the
# updater's Wine process is killed with SIGKILL at the point: MS
# milliseconds after the updater first traced STEP ("STEP+MS"). Then
#   - every file of the update list must be whole: the installed old copy or
#     the payload's new one, never partial, never missing (e2e_check
#     old-or-new); the service's state and any temporaries are listed;
#   - the updater runs again (Start; the re-update question answered Yes,
#     the restart question No), after which the update must be complete and
#     no temporary "tmp*.tmp" may be left in the targets' folders or TEMP;
#     where the kill left old and new files side by side, the second run
#     must finish the update without asking whether to update again (102).
#
# --points N   the first N points of the campaign (default 10: the short
#              set the test suite runs); N above 10 takes the long set:
#              named steps from the Start click to the restart question, then
#              offsets spread over the install pass and over the whole run
# --part I/K   only every K-th point from the I-th (1-based): the suite splits
#              the short set into two tests that run side by side
# --jobs J     points run at the same time (default 1), each in its prefix
# --build DIR  the build tree (default: build/ of this checkout); also taken
#              from VR_BIN, VR_UPLIST, VR_PAYLOAD_SRC, VR_WINE_TEMPLATES
# --list       prints the chosen points and exits
#
# Prints one line per point and a summary; exits 0 when every point was
# reached, lost no file and was completed by the next run without leftovers.
# The journeys' logs are kept (in a folder named at the end) when a point failed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
name=kill
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then name=$1; shift; fi
points=10 part="1/1" jobs=1 build=$root/build list=0
while [ $# -gt 0 ]; do
  case "$1" in
    --points) points=$2; shift 2 ;;
    --part) part=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --list) list=1; shift ;;
    *) echo "kill-campaign: unknown option $1" >&2; exit 2 ;;
  esac
done
export VR_BIN=${VR_BIN:-$build/bin}
export VR_UPLIST=${VR_UPLIST:-$build/payload/VrUpdater1030/UPLIST.INI}
export VR_PAYLOAD_SRC=${VR_PAYLOAD_SRC:-$build/payload/VrUpdater1030/src}
export VR_WINE_TEMPLATES=${VR_WINE_TEMPLATES:-$root/build-templates}

# Where the points fall in an undisturbed run (seconds after Start): service
# removal 0.25 and 3.7, unregistration pass 6.5, install pass 6.9 to 18.0
# (51 files, about 220 ms each), registration pass 18.0, Uninstall entry and
# service installer 18.1, filter merits 19.2, restart question right after.
# A step matches every trace line that begins with it, the first one counts.
short=(
  "start+0"                          # before any check
  "update: begin+2700"               # the update procedure removing the service
  "service: remove+100"              # the Start handler's service removal
  "update: install pass+3100"
  "update: unregistration pass+0"
  "update: install pass+9870"
  "update: install pass+1550"
  "update: registration pass+30"
  "update: install pass+6230"
  "update: filter merits+60"         # the restart question on screen
)
long=(
  "start+0" "start: buttons disabled+0" "service: remove+100"
  "service: installer started+150" "update: begin+0" "update: begin+1200"
  "update: begin+2700" "update: begin+4000" "update: unregistration pass+0"
  "update: unregistration pass+60" "update: install pass+0"
  "update: registration pass+0" "update: registration pass+60"
  "uninstall entry: updated+0" "uninstall entry: updated+10"
  "uninstall entry: updated+300" "update: filter merits+0"
  "update: filter merits+60"
)
if [ "$points" -le ${#short[@]} ]; then
  chosen=("${short[@]:0:$points}")
else
  # Two thirds of the rest inside the install pass, one third over the
  # whole run from the Start click, at offsets that do not repeat the
  # 220 ms rhythm of the files.
  rest=$((points - ${#long[@]})) chosen=("${long[@]}")
  inside=$(((rest * 2 + 2) / 3)) whole=$((rest - (rest * 2 + 2) / 3))
  for ((i = 0; i < inside; i++)); do
    chosen+=("update: install pass+$((90 + i * 10900 / inside + (i * 37) % 110))")
  done
  for ((i = 0; i < whole; i++)); do
    chosen+=("start+$((300 + i * 18900 / whole))")
  done
  chosen=("${chosen[@]:0:$points}")
fi
first=${part%/*} every=${part#*/}
mine=()
for ((i = first - 1; i < ${#chosen[@]}; i += every)); do mine+=("$((i + 1))=${chosen[$i]}"); done
if [ $list -eq 1 ]; then
  printf '%s\n' "${mine[@]}"
  exit 0
fi
for v in VR_BIN VR_UPLIST VR_PAYLOAD_SRC; do
  [ -e "${!v}" ] || { echo "kill-campaign: $v (${!v}) missing; build first" >&2; exit 2; }
done

logs=$(mktemp -d "/tmp/vrkill-$name.XXXXXX")
# Installed and driven as in the full-update journey; the second run also
# says Yes to the re-update question (the key file may be new already).
install="10.2.9.0 --launcher --run-value"
robot="--start --answer 107=No --timeout 150"
again="--start --answer 102=Yes --answer 107=No --timeout 150"
final="updated key=10,3,0,0:6748072 uninstall=updated run=absent service=present temporaries=none"

run_point() {  # number=STEP+MS
  local n=${1%%=*} point=${1#*=}
  VR_ARTIFACTS="" "$here/journey.sh" "$name-$n" --arch win64 --winver win7 --install "$install" \
    --robot "$robot" --kill "$point" --check "old-or-new service=any temporaries=any" \
    --again "$again" --again-check "$final" >"$logs/$n.log" 2>&1
  echo $? >"$logs/$n.status"
}

# One summary line per point, from its journey's log.
summarise() {
  local n=$1 log=$logs/$1.log first second
  first=$(sed '/^--- second run/q' "$log") second=$(sed -n '/^--- second run/,$p' "$log")
  local kill seen after service temps boxes updated left verdict took
  seen=$(grep -m1 -o 'ids=[0-9,]*' <<<"$first")
  took=$(grep -m1 -o 'exit [0-9]* after [0-9]* s' "$log" | sed 's/.* after //')
  kill=$(grep -m1 '^kill: ' "$log" | sed 's/^kill: //; s/: updater (pid [0-9]*)//')
  after=$(grep -m1 -o '[0-9]* old, [0-9]* new ([0-9]* not stamped), [0-9]* partial, [0-9]* missing' <<<"$first")
  service=$(grep -m1 -o '"qfsvcg" [a-z]*' <<<"$first" | cut -d' ' -f2)
  temps=$(grep -m1 -o 'note temporaries: [0-9]* tmp' <<<"$first" | grep -o '[0-9]*')
  boxes=$(grep -m1 -o 'ids=[0-9,]*' <<<"$second")
  updated=$(grep -m1 -o 'updated: [0-9]* of [0-9]*' <<<"$second" | cut -d' ' -f2-)
  left=$(grep -m1 -o 'temporaries: [0-9]* tmp' <<<"$second" | grep -o '[0-9]*')
  verdict=ok
  [ "$(cat "$logs/$n.status" 2>/dev/null)" = 0 ] || verdict=FAIL
  printf '%-4s %-34s %s, boxes %s | after kill: %s, service %s, %s temporaries | second run: boxes %s, %s new, %s temporaries left | %s %s\n' \
    "$n" "${point_of[$n]}" "${kill%% ms after*}" "${seen#ids=}" "${after:-?}" "${service:-?}" \
    "${temps:-?}" "${boxes#ids=}" "${updated:-?}" "${left:-?}" "$verdict" "${took:-?}"
}

declare -A point_of
for p in "${mine[@]}"; do point_of[${p%%=*}]=${p#*=}; done
begin=$(date +%s)
echo "kill campaign $name: ${#mine[@]} points, $jobs at a time"
running=0
for p in "${mine[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_point "$p" &
  running=$((running + 1))
done
wait

# A machine that cannot run the flavour skips every point (exit 77).
if ! grep -L -x 77 "$logs"/*.status | grep -q .; then
  head -n 3 "$logs/${mine[0]%%=*}.log"
  echo "kill campaign $name: skipped"
  rm -rf "$logs"
  exit 77
fi
failed=0 lost=0 unreached=0 leftover=0 reasked=0
for p in "${mine[@]}"; do
  n=${p%%=*}
  summarise "$n"
  log=$logs/$n.log
  [ "$(cat "$logs/$n.status" 2>/dev/null)" = 0 ] || failed=$((failed + 1))
  grep -q '^kill: killed' "$log" || unreached=$((unreached + 1))
  l=$(grep -m1 -o '[0-9]* partial, [0-9]* missing' "$log" | awk '{print $1 + $3}')
  lost=$((lost + ${l:-0}))
  grep -q '^FAIL temporaries' "$log" && leftover=$((leftover + 1))
  # Old and new side by side: finishing the update is no re-update.
  mixed=$(grep -m1 -o '[0-9]* old, [0-9]* new' "$log" | awk '$1 > 0 && $3 > 0')
  second_boxes=$(sed -n '/^--- second run/,$p' "$log" | grep -m1 -o 'ids=[0-9,]*')
  if [ -n "$mixed" ] && [[ ",${second_boxes#ids=}," == *,102,* ]]; then
    echo "point $n: the second run asked 102 although the kill left old and new files"
    reasked=$((reasked + 1))
    failed=$((failed + 1))
  fi
done
for p in "${mine[@]}"; do  # the failures in full
  n=${p%%=*}
  [ "$(cat "$logs/$n.status" 2>/dev/null)" = 0 ] && continue
  echo "--- point $n (${p#*=}) failed:"
  grep -E '^(FAIL|kill:|journey|wine-test|TIMEOUT|MISMATCH|EXIT|BOX)' "$logs/$n.log"
done
kept="logs in $logs"
[ "$failed" -eq 0 ] && { rm -rf "$logs"; kept="logs removed"; }
echo "kill campaign $name: ${#mine[@]} points, $unreached not reached, $lost files lost" \
  "(partial or missing), $leftover with temporaries left after the next run," \
  "$reasked asked again over a half-done update," \
  "$failed failed; $(($(date +%s) - begin)) s; $kept"
[ "$failed" -eq 0 ]
