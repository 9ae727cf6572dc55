#!/usr/bin/env bash
# The benchmark: builds the updater with the payload at the real update's
# size (and once with every sized file twice as large), runs a full update of
# a simulated 10.2.9.0 installation in a 64-bit Windows 7 prefix with the
# robot, and prints in one table:
#   1. the update's overhead (Start to restart question, less the pauses the
#      updater traced) against copying the same bytes with CopyFileA
#   2. the updater's peak memory idle and during the update, at both sizes
#   3. start-up to the visible dialog against a minimal program with the
#      same dialog
#   4. the SZDD packer against Debian's mscompress (payload and a corpus)
#   5. the executable's size against its payload's expanded size
# Both flavours where the machine runs 32-bit code, the x64 one elsewhere;
# the first lines say which. Method and latest figures: docs/BENCHMARK.md.
#
#   scripts/benchmark.sh [--runs N] [--no-packer]
#     --runs N      start-up: starts of each program (default 30)
#     --no-packer   leaves out row 4 (mscompress takes minutes)
#
# Output: the table on stdout and in build-bench/results.md, the figures in
# build-bench/results.json, every run's logs beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=30 packer=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --no-packer) packer=0; shift ;;
    *) echo "benchmark: unknown option $1" >&2; exit 2 ;;
  esac
done
if [ "$(id -u)" -eq 0 ]; then bash scripts/bootstrap.sh; else sudo bash scripts/bootstrap.sh; fi
# shellcheck source=../tests/harness/wine-env.sh
. tests/harness/wine-env.sh
if vr_runs_32bit; then
  flavours="i686 x64"
  echo "benchmark: this machine runs 32-bit code: the shipped i686 updater and the x64 flavour"
else
  flavours="x64"
  echo "benchmark: $VR_NO_32BIT_WHY: the x64 flavour only"
fi

out=$root/build-bench
rm -rf "$out"
mkdir -p "$out"
preset() {  # preset of flavour $1 and payload size $2 (full|double)
  local p=$2
  [ "$p" = full ] && p=full-scale
  [ "$1" = x64 ] && p+=-x64
  echo "$p"
}
tree() {  # build tree of a preset, as CMakePresets.json names it
  python3 - "$1" <<'PY'
import json, sys
presets = json.load(open("CMakePresets.json"))["configurePresets"]
print(next(p["binaryDir"] for p in presets if p["name"] == sys.argv[1]).replace("${sourceDir}/", ""))
PY
}

for f in $flavours; do
  for size in full double; do
    p=$(preset "$f" "$size")
    echo "benchmark: building $p"
    cmake --preset "$p" >"$out/configure-$p.log"
    cmake --build --preset "$p" --target benchmark_programs >"$out/build-$p.log"
  done
done

# One full update in a fresh prefix: robot log, trace and figures.
update() {  # flavour, size
  local p dir name
  p=$(preset "$1" "$2")
  dir=$root/$(tree "$p")
  name=bench-$p
  echo "benchmark: full update with the $2 payload ($1)" >&2
  VR_BIN=$dir/bin VR_UPLIST=$dir/payload/VrUpdater1030/UPLIST.INI \
    VR_PAYLOAD_SRC=$dir/payload/VrUpdater1030/src VR_WINE_TEMPLATES=$root/build-templates \
    VR_ARTIFACTS="" VR_JOURNEY_WINEDEBUG=-all,+debugstr,+timestamp \
    python3 tests/e2e/journeys.py run bench_full_update --test-name "$name" \
    --trace "$out/$name.trace" >"$out/$name.log" 2>&1 ||
    { echo "benchmark: the update failed; see $out/$name.log" >&2; return 1; }
  python3 tools/bench/summarise.py update "$out/$name.log" "$out/$name.trace"
}

startup() {  # flavour
  local dir
  dir=$root/$(tree "$(preset "$1" full)")
  echo "benchmark: start-up, $runs starts of each program ($1)" >&2
  VR_WINE_TEMPLATES=$root/build-templates tests/harness/wine-test.sh --winver win7 --display -- \
    "$dir/bin/vrstartup.exe" "$runs" "$dir/bin/bench_minimal_dialog.exe" \
    "$dir/bin/VrUpdater1030.exe" >"$out/startup-$1.log" 2>&1 ||
    { echo "benchmark: start-up failed; see $out/startup-$1.log" >&2; return 1; }
  python3 - "$out/startup-$1.log" "$runs" <<'PY'
import json, re, sys
text = open(sys.argv[1], errors="replace").read()
med = {m.group(1).rsplit("\\", 1)[-1]: int(m.group(2))
       for m in re.finditer(r"^STARTUP exe=(\S+) runs=\d+ median_ms=(\d+)", text, re.M)}
diff = re.search(r"^STARTUP_DIFF pairs=\d+ median_ms=(-?\d+)", text, re.M)
print(json.dumps({"updater_ms": med["VrUpdater1030.exe"],
                  "minimal_ms": med["bench_minimal_dialog.exe"],
                  "paired_diff_ms": int(diff.group(1)), "runs": int(sys.argv[2])}))
PY
}

exe_size() {  # flavour
  local dir
  dir=$root/$(tree "$(preset "$1" full)")
  python3 - "$dir/bin/VrUpdater1030.exe" "$dir/payload/VrUpdater1030/src" <<'PY'
import json, os, sys
src = sys.argv[2]
print(json.dumps({"exe_bytes": os.path.getsize(sys.argv[1]),
                  "payload_bytes": sum(os.path.getsize(os.path.join(src, n)) for n in os.listdir(src))}))
PY
}

json_update="{}" json_double="{}" json_startup="{}" json_exe="{}"
add() { python3 -c 'import json,sys; d=json.loads(sys.argv[1]); d[sys.argv[2]]=json.loads(sys.argv[3]); print(json.dumps(d))' "$@"; }
for f in $flavours; do  # a failed step stops the benchmark (set -e)
  row=$(update "$f" full)
  json_update=$(add "$json_update" "$f" "$row")
  row=$(update "$f" double)
  json_double=$(add "$json_double" "$f" "$row")
  row=$(startup "$f")
  json_startup=$(add "$json_startup" "$f" "$row")
  row=$(exe_size "$f")
  json_exe=$(add "$json_exe" "$f" "$row")
done

json_packer="{}"
if [ $packer -eq 1 ]; then
  first=$(set -- $flavours; echo "$1")
  dir=$root/$(tree "$(preset "$first" full)")
  echo "benchmark: the SZDD packer against mscompress" >&2
  json_packer=$(python3 tools/bench-packer.py --szddpack "$dir/host/szddpack" \
    --payload-dir "$dir/payload/VrUpdater1030/src" --json) ||
    echo "benchmark: the packer's output did not expand back; the table says so" >&2
fi

machine="$(nproc) cores, $(uname -sr), $(wine --version 2>/dev/null || echo wine), flavours: $flavours"
python3 - "$out/results.json" "$machine" "$json_update" "$json_double" "$json_startup" "$json_exe" "$json_packer" <<'PY'
import datetime, json, sys
out, machine, update, double, startup, exe, packer = sys.argv[1:]
json.dump({"date": datetime.date.today().isoformat(), "machine": machine,
           "update": json.loads(update), "double": json.loads(double),
           "startup": json.loads(startup), "exe": json.loads(exe), "packer": json.loads(packer)},
          open(out, "w"), indent=1)
PY
python3 tools/bench/summarise.py table "$out/results.json" | tee "$out/results.md"
