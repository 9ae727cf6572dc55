#!/usr/bin/env python3
"""Turns what one benchmark run recorded into its figures.

    summarise.py update ROBOT_LOG TRACE   -> one JSON object
        ROBOT_LOG  the journey's output (robot lines with --timing --memory,
                   e2e_check's "floor" record)
        TRACE      Wine's debug output with +timestamp,+debugstr
    summarise.py table RESULTS.json                 -> the table (Markdown)

The overhead of an update is the wall time from the Start click to the
restart question less every pause the updater traced ("pause N ms"); the
floor is e2e_check's CopyFileA copy of the same bytes into the same folders.
"""
import json
import re
import sys

TRACE_LINE = re.compile(r'^(\d+\.\d+):.*?:debugstr:\w+ "VrUpdater: (.*)\\n"')
# Phases of an update, each from its first traced step to the next one's.
PHASES = [
    ("checks and service removal", "start"),
    ("unregistration pass", "update: unregistration pass"),
    ("install pass", "update: install pass"),
    ("registration pass", "update: registration pass"),
    ("uninstall entry, service, merits", "uninstall entry:"),
]


def trace(path):
    steps = []
    with open(path, errors="replace") as f:
        for line in f:
            m = TRACE_LINE.match(line)
            if m:
                steps.append((float(m.group(1)) * 1000.0, m.group(2)))
    return steps


def pause_ms(text):
    m = re.fullmatch(r"pause (\d+) ms", text)
    return int(m.group(1)) if m else 0


def update(robot_log, trace_path):
    # The robot's and e2e_check's JSON records among the log's lines.
    records = [json.loads(line) for line in open(robot_log, errors="replace")
               if line.startswith("{")]
    start = next((r["t"] for r in records
                  if r.get("event") == "press" and r["button"] == "Start"), None)
    box = next((r["t"] for r in records if r.get("event") == "box" and r["id"] == 107), None)
    floor = next((r for r in records if r.get("check") == "floor" and r.get("ok")), None)
    mem = {r["when"]: {k: v for k, v in r.items() if isinstance(v, int)}
           for r in records if r.get("event") == "memory"}
    if start is None or box is None or not floor or "idle" not in mem or "box" not in mem:
        sys.exit("summarise: the run did not record Start, the restart question, the floor "
                 "and both memory readings")
    steps = trace(trace_path)
    # Pauses between the Start click and the restart question: everything
    # the updater traced up to the question.
    upto = next((i for i, (_, s) in enumerate(steps) if s.startswith("restart question")), len(steps))
    pauses = sum(pause_ms(s) for _, s in steps[:upto])
    wall = box - start
    phases = []
    marks = [(name, next((t for t, s in steps if s.startswith(prefix)), None)) for name, prefix in PHASES]
    marks.append(("end", steps[upto][0] if upto < len(steps) else steps[-1][0]))
    for (name, t0), (_, t1) in zip(marks, marks[1:]):
        if t0 is None or t1 is None:
            continue
        inside = sum(pause_ms(s) for t, s in steps[:upto] if t0 <= t < t1)
        phases.append({"phase": name, "wall_ms": round(t1 - t0), "pauses_ms": inside,
                       "overhead_ms": round(t1 - t0 - inside)})
    return {
        "wall_ms": wall, "pauses_ms": pauses, "overhead_ms": wall - pauses,
        "floor_ms": floor["ms"], "floor_files": floor["files"], "floor_bytes": floor["bytes"],
        "memory_idle": mem["idle"], "memory_update": mem["box"],
        "phases": phases,
    }


def mb(n):
    return f"{n / 1048576:.1f} MB"


def table(results):
    r = json.load(open(results))
    out = [f"Run of {r['date']} on {r['machine']}", ""]
    out.append("| Row | Flavour | Measured | Goal | Ratio / verdict |")
    out.append("|---|---|---|---|---|")
    for fl, u in r.get("update", {}).items():
        floor = max(u["floor_ms"], 1)
        ratio = u["overhead_ms"] / floor
        out.append(f"| 1. Update overhead | {fl} | {u['wall_ms'] / 1000:.1f} s from Start to the restart "
                   f"question, {u['pauses_ms'] / 1000:.1f} s of it pauses: overhead "
                   f"{u['overhead_ms'] / 1000:.2f} s; CopyFileA floor {u['floor_ms'] / 1000:.3f} s "
                   f"({mb(u['floor_bytes'])}) | overhead / floor <= 1.5 | {ratio:.1f} "
                   f"({'met' if ratio <= 1.5 else 'missed'}) |")
    for fl, u in r.get("update", {}).items():
        d = r.get("double", {}).get(fl)
        added = {k: u["memory_update"][k] - u["memory_idle"][k] for k in ("peak_ws", "peak_private")}
        text = (f"idle peak {mb(u['memory_idle']['peak_ws'])} working set, "
                f"{mb(u['memory_idle']['peak_private'])} private; the update adds "
                f"{mb(added['peak_ws'])} / {mb(added['peak_private'])}")
        worst = max(added.values())
        if d:
            dadded = {k: d["memory_update"][k] - d["memory_idle"][k] for k in ("peak_ws", "peak_private")}
            text += (f"; payload twice as large: adds {mb(dadded['peak_ws'])} / "
                     f"{mb(dadded['peak_private'])}")
            worst = max([worst] + list(dadded.values()))
        out.append(f"| 2. Memory | {fl} | {text} | adds <= 4 MB, whatever the payload | "
                   f"{'met' if worst <= 4 * 1048576 else 'missed'} |")
    for fl, s in r.get("startup", {}).items():
        diff = s["paired_diff_ms"]
        out.append(f"| 3. Start-up | {fl} | updater {s['updater_ms']} ms, minimal dialog "
                   f"{s['minimal_ms']} ms (medians of {s['runs']} starts) | within 100 ms (median "
                   f"of the pairs' differences) | {diff:+d} ms ({'met' if diff <= 100 else 'missed'}) |")
    packer = r.get("packer") or {}
    for row in packer.get("sets", []):
        size = 100.0 * row["ours_bytes"] / row["mscompress_bytes"]
        speed = row["mscompress_seconds"] / max(row["ours_seconds"], 1e-6)
        ok = size <= 95.0 and speed >= 20.0 and packer.get("round_trips_ok")
        verdict = "met" if ok else "missed" if packer.get("round_trips_ok") else "ROUND TRIP FAILED"
        out.append(f"| 4. Packer, {row['set']} | host | {row['files']} files, {mb(row['input_bytes'])}: "
                   f"ours {mb(row['ours_bytes'])} in {row['ours_seconds']:.1f} s, mscompress "
                   f"{mb(row['mscompress_bytes'])} in {row['mscompress_seconds']:.1f} s | <= 95 % of the "
                   f"size, >= 20x the speed | {size:.2f} %, {speed:.0f}x wall clock, "
                   f"{row['cpu_speed_ratio']}x processor time ({verdict}) |")
    for fl, e in r.get("exe", {}).items():
        out.append(f"| 5. Executable size | {fl} | {mb(e['exe_bytes'])} ({e['exe_bytes']} bytes) for "
                   f"{mb(e['payload_bytes'])} of expanded payload | (reported) | "
                   f"{100.0 * e['exe_bytes'] / e['payload_bytes']:.1f} % |")
    out.append("")
    for fl, u in r.get("update", {}).items():
        out.append(f"Overhead by phase ({fl}): " + "; ".join(
            f"{p['phase']} {p['overhead_ms']} ms" for p in u["phases"]))
    return "\n".join(out)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "update":
        print(json.dumps(update(sys.argv[2], sys.argv[3])))
    elif len(sys.argv) == 3 and sys.argv[1] == "table":
        print(table(sys.argv[2]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
