#!/usr/bin/env bash
# Kill campaign: interrupts the real updater at many points of a full update
# and checks that nothing was lost and that the next run completes the update.
#
#   kill-campaign.sh [NAME] [--points N] [--part I/K] [--jobs J]
#                    [--build DIR] [--records FILE] [--list]
#
# Each point is one journey (tests/e2e/journey.sh) in a prefix of its own:
# 10.2.9.0 installed as for the full-update journey (64-bit Windows 7, the
# launcher running, a resume entry), the robot presses Start, and the run
# ends at the point. Two kinds of point:
#   at:NAME[#N]     the killable updater (bin/killable, win32/KillPoint.h)
#                   ends itself at the N-th point whose name begins with
#                   NAME: a traced step ("update: install pass") or a named
#                   window of the code ("replace: stamped, not renamed").
#                   The same place in every run.
#   sigkill:STEP+MS the shipped updater's Wine process gets SIGKILL MS
#                   milliseconds after it traced STEP (tests/e2e/kill-when.sh).
#                   Where that lands varies by tens of milliseconds.
# Either way the process ends without any clean-up, as in a crash; the
# machine goes on (the page cache and the registry keep what was written),
# so this is no power cut: that what must be on the disc is flushed
# (FlushFileBuffers, MOVEFILE_WRITE_THROUGH) is shown by the unit tests.
#
# After the kill e2e_check records the state (FACTS: every file of the list
# old, new, partial or missing; temporaries; records and marks in the
# updater's key; the service). Then the shipped updater runs again and every
# question it asks is answered No (the re-update question 102 and the
# restart question 107 too): it is judged by what a user would see. After it
# the update must be complete (every file new, key file, Uninstall entry,
# service present) with no temporary, no record and no mark left.
#
# --points N   the first N points of the list (default 10: the short set the
#              test suite runs); the list has 65 points, more are made up of
#              further install-pass windows and time offsets
# --part I/K   only every K-th point from the I-th (1-based): the suite splits
#              the short set into two tests that run side by side
# --jobs J     points run at the same time (default 1), each in its prefix
# --build DIR  the build tree (default: build/ of this checkout); also taken
#              from VR_BIN, VR_UPLIST, VR_PAYLOAD_SRC, VR_WINE_TEMPLATES
# --records F  where the records go, one JSON object per line (default:
#              DIR/artifacts/kill-campaign-NAME.jsonl, or VR_ARTIFACTS/...)
# --list       prints the chosen points and exits
#
# Prints one line per point from its record and a summary from the records
# (tests/e2e/kill-record.py); exits 0 when every point passed. The journeys'
# logs are kept (in a folder named at the end) when a point failed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
name=kill
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then name=$1; shift; fi
points=10 part="1/1" jobs=1 build=$root/build list=0 records=""
while [ $# -gt 0 ]; do
  case "$1" in
    --points) points=$2; shift 2 ;;
    --part) part=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --records) records=$2; shift 2 ;;
    --list) list=1; shift ;;
    *) echo "kill-campaign: unknown option $1" >&2; exit 2 ;;
  esac
done
export VR_BIN=${VR_BIN:-$build/bin}
export VR_UPLIST=${VR_UPLIST:-$build/payload/VrUpdater1030/UPLIST.INI}
export VR_PAYLOAD_SRC=${VR_PAYLOAD_SRC:-$build/payload/VrUpdater1030/src}
export VR_WINE_TEMPLATES=${VR_WINE_TEMPLATES:-$root/build-templates}
[ -n "$records" ] || records=${VR_ARTIFACTS:-$build/artifacts}/kill-campaign-$name.jsonl

# The list, in the order the points are taken. An undisturbed run (seconds
# after Start): service removal 0.25 and 3.7, unregistration pass 6.5, install
# pass 6.9 to 18.0 (51 files, about 220 ms each), registration pass 18.0,
# Uninstall entry and service installer 18.1, filter merits 19.2, restart
# question right after. "#N" of a window inside the install pass is the N-th
# file; of "temporary: recorded" the N-th temporary (the two write probes,
# then two per file).
# The first ten are the suite's short set (two halves: odd and even places);
# it holds every named window of the code that a full update on 64-bit
# Windows 7 reaches, so each flavour's suite goes through each of them.
list_of_points=(
  "at:replace: renamed, record kept#1"               # key file new, every other file old
  "at:service installer: started, install"           # the installer of the closing sequence just started
  "at:replace: stamped, not renamed#26"              # new copy whole and stamped beside the old target
  "at:uninstall values: name written, version not"   # Uninstall entry half written
  "at:service installer: started, removal#1"         # the Start handler's removal under way
  "at:replace: renamed, record kept#51"              # every file new, install pass mark still set
  "at:registration: file done#20"                    # inside the registration pass
  "sigkill:update: install pass+3100"
  "at:temporary: recorded, not made#24"               # the 11th file's expanded copy named, not made
  "at:unregistration: file done#20"                  # inside the unregistration pass
  # The long campaign goes on from here.
  "at:start"
  "at:start: buttons disabled"
  "at:service: remove"
  "at:service: installer started#1"
  "at:temporary: recorded, not made#1"               # the Start handler's write probe
  "at:update: begin"
  "at:temporary: recorded, not made#2"               # the update procedure's write probe
  "at:temporary: recorded, not made#3"               # the first file's extracted copy
  "at:unregistration: file done#1"
  "at:unregistration: file done#40"
  "at:update: unregistration pass"
  "at:launcher:#3"
  "at:update: install pass"
  "at:temporary: recorded, not made#5"
  "at:replace: stamped, not renamed#1"
  "at:replace: stamped, not renamed#2"
  "at:replace: renamed, record kept#2"
  "at:update: filter merits#1"                       # the restart question about to show
  "at:replace: stamped, not renamed#13"
  "at:replace: renamed, record kept#13"
  "at:replace: renamed, record kept#26"
  "at:temporary: recorded, not made#75"
  "at:replace: stamped, not renamed#40"
  "at:replace: renamed, record kept#40"
  "at:replace: stamped, not renamed#51"
  "at:update: 51 replaced"
  "at:update: registration pass"
  "at:registration: file done#1"
  "at:registration: file done#51"
  "at:uninstall entry: updated"
  "at:service: install"
  "at:service: installer started#3"
  "at:update: filter merits#2"
  "at:restart question"
  "sigkill:start+0"
  "sigkill:service: remove+100"
  "sigkill:update: begin+2700"
  "sigkill:update: unregistration pass+0"
  "sigkill:update: install pass+1550"
  "sigkill:update: install pass+6230"
  "sigkill:update: install pass+9870"
  "sigkill:update: registration pass+30"
  "sigkill:uninstall entry: updated+10"
  "sigkill:update: filter merits+60"
  "at:replace: stamped, not renamed#7"
  "at:replace: renamed, record kept#7"
  "at:replace: stamped, not renamed#19"
  "at:replace: renamed, record kept#19"
  "at:replace: stamped, not renamed#33"
  "at:replace: renamed, record kept#33"
  "at:replace: stamped, not renamed#45"
  "at:replace: renamed, record kept#45"
  "at:registration: file done#35"
  "at:service installer: started, removal#2"         # the update procedure's removal under way
  "at:temporary: recorded, not made#100"
)
chosen=("${list_of_points[@]:0:$points}")
# Beyond the list: the two replacement windows at further files, and
# SIGKILLs over the install pass at offsets that do not repeat the 220 ms
# rhythm of the files.
for ((i = 0; ${#chosen[@]} < points; i++)); do
  case $((i % 3)) in
    0) chosen+=("at:replace: stamped, not renamed#$((3 + (i * 7) % 49))") ;;
    1) chosen+=("at:replace: renamed, record kept#$((4 + (i * 11) % 47))") ;;
    2) chosen+=("sigkill:update: install pass+$((90 + (i * 739) % 10900))") ;;
  esac
done
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
[ -f "$VR_BIN/killable/VrUpdater1030.exe" ] || {
  echo "kill-campaign: $VR_BIN/killable/VrUpdater1030.exe missing; build VrUpdater1030Killable" >&2
  exit 2
}

logs=$(mktemp -d "/tmp/vrkill-$name.XXXXXX")
# Installed and driven as in the full-update journey. The second run answers
# No to every question and closes an idle window, as a user would.
install="10.2.9.0 --launcher --run-value"
robot="--start --answer 107=No --timeout 150"
again="--start --answer 102=No --answer 107=No --close-when-idle 1500 --timeout 150"

run_point() {  # number=at:NAME | number=sigkill:STEP+MS
  local n=${1%%=*} point=${1#*=} how
  case "$point" in
    at:*) how=(--kill-at "${point#at:}") ;;
    sigkill:*) how=(--kill "${point#sigkill:}") ;;
  esac
  VR_ARTIFACTS="" "$here/journey.sh" "$name-$n" --arch win64 --winver win7 --install "$install" \
    --robot "$robot" "${how[@]}" --check "facts" --again "$again" --again-check "facts" \
    >"$logs/$n.log" 2>&1
  echo $? >"$logs/$n.status"
  [ "$(cat "$logs/$n.status")" = 77 ] ||
    python3 "$here/kill-record.py" record "$n" "$point" "$logs/$n.log" >"$logs/$n.json"
}

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
mkdir -p "$(dirname "$records")"
: >"$records"
for p in "${mine[@]}"; do cat "$logs/${p%%=*}.json" >>"$records" 2>/dev/null; done
python3 "$here/kill-record.py" summary "$records"
status=$?
if [ $status -eq 0 ]; then
  rm -rf "$logs"
  kept="logs removed"
else
  kept="logs in $logs"
fi
echo "kill campaign $name: $(($(date +%s) - begin)) s; records in $records; $kept"
exit $status
