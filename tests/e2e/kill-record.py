#!/usr/bin/env python3
"""Records of the kill campaign (tests/e2e/kill-campaign.sh), one JSON object
per point, and the verdict drawn from them.

    kill-record.py record N POINT LOG     prints the record of one point from
                                          its journey's log (journey.sh output)
    kill-record.py summary RECORDS.jsonl  prints one line per record and the
                                          summary; exits 0 when every point
                                          passed, 1 otherwise

A record holds what the log says in machine-readable lines: the kill ("kill:"
line of journey.sh), the robot's BOX and EXIT lines of both runs, the two
"FACTS {json}" lines e2e_check prints (after the kill; after the second run)
and the files the second run traced as in use ("start: in use: PATH").
The verdict is computed here, from the record alone:
  - the point was reached;
  - after the kill every file is whole (old or new, none partial or missing)
    and every new file carries the list's time;
  - the second run (every question answered No) found no file in use and
    ended by itself, and after it
    the update is complete: every file new, the key file and the Uninstall
    entry of the update, the service present, no temporary, no record and no
    mark left in the updater's key.
"""
import json
import re
import sys

# What a complete update of the campaign's product leaves.
KEY_FILE = "10,3,0,0:6748072"
UNINSTALL_NAME = "Vorrel Recorder 10.30 (Update)"
UNINSTALL_VERSION = "10.30.000"

BOX = re.compile(r"^BOX id=(-?\d+) buttons=(\S+) answer=(\S+)")
EXIT = re.compile(r"^EXIT code=(\d+)")
FACTS = re.compile(r"^FACTS (\{.*\})\s*$")
SECONDS = re.compile(r"^journey \S+: exit -?\d+ after (\d+) s$")
IN_USE = re.compile(r"^VrUpdater: (?:start|update): in use: (.*)$")


def run_of(lines):
    """Boxes, answers, exit code and facts of one run's part of the log."""
    run = {"boxes": [], "answers": [], "exit": None, "timeout": False}
    facts = None
    for line in lines:
        m = BOX.match(line)
        if m:
            run["boxes"].append(int(m.group(1)))
            run["answers"].append(f"{m.group(1)}={m.group(3)}")
            continue
        m = EXIT.match(line)
        if m:
            run["exit"] = int(m.group(1))
            continue
        if line.startswith("TIMEOUT"):
            run["timeout"] = True
            continue
        m = FACTS.match(line)
        if m and facts is None:
            try:
                facts = json.loads(m.group(1))
            except ValueError:
                facts = None
    return run, facts


def faults_of(record):
    """Why a point failed; empty when it passed."""
    faults = []
    if not record["reached"]:
        faults.append("point not reached")
    after = record["after_kill"]
    if after is None:
        faults.append("no facts after the kill")
    else:
        if after["partial"] or after["missing"]:
            faults.append(f"files lost: {after['partial']} partial, {after['missing']} missing")
        if after["unstamped"]:
            faults.append(f"{after['unstamped']} new files without the list's time")
    second = record["second_run"]
    for path in second["in_use"]:
        faults.append(f"second run found {path} in use")
    if second["timeout"] or second["exit"] is None:
        faults.append("second run did not end by itself")
    final = record["after_second_run"]
    if final is None:
        faults.append("no facts after the second run")
        return faults
    if final["updated"] != final["files"] or final["files"] == 0:
        faults.append(f"{final['updated']} of {final['files']} files new")
    if final["key_file"] != KEY_FILE:
        faults.append(f"key file {final['key_file'] or 'unreadable'}")
    if final["uninstall_name"] != UNINSTALL_NAME or final["uninstall_version"] != UNINSTALL_VERSION:
        faults.append(f"Uninstall entry \"{final['uninstall_name']}\" {final['uninstall_version']}")
    if final["service"] != "present":
        faults.append(f"service {final['service']}")
    if final["temporaries"]:
        faults.append(f"{len(final['temporaries'])} temporaries left")
    if final["records"]:
        faults.append(f"{len(final['records'])} records left")
    if final["marks"]:
        faults.append(f"marks left: {', '.join(final['marks'])}")
    return faults


def make_record(number, point, log_path):
    with open(log_path, encoding="utf-8", errors="replace") as f:
        lines = [line.rstrip("\n") for line in f]
    steps_at = next((i for i, l in enumerate(lines) if l == "--- steps the updater traced"),
                    len(lines))
    head, tail = lines[:steps_at], lines[steps_at:]
    second_at = next((i for i, l in enumerate(head) if l == "--- second run"), len(head))
    first, after_kill = run_of(head[:second_at])
    second, after_second = run_of(head[second_at + 1:])
    # The steps of both runs, the second after its own marker; Wine's debug
    # channel doubles backslashes.
    steps_second = tail[next((i for i, l in enumerate(tail) if l == "--- second run"), len(tail)):]
    second["in_use"] = [m.group(1).replace("\\\\", "\\")
                        for m in map(IN_USE.match, steps_second) if m]
    kill = next((l[len("kill: "):] for l in tail if l.startswith("kill: ")), "no kill line")
    took = next((int(m.group(1)) for m in map(SECONDS.match, tail) if m), None)
    record = {
        "n": number,
        "point": point,
        "how": "sigkill" if point.startswith("sigkill:") else "kill point",
        "reached": kill.startswith("reached") or kill.startswith("killed"),
        "kill": kill,
        "first_run": first,
        "after_kill": after_kill,
        "second_run": second,
        "asked_102": 102 in second["boxes"],
        "after_second_run": after_second,
        "seconds": took,
    }
    record["faults"] = faults_of(record)
    record["verdict"] = "ok" if not record["faults"] else "FAIL"
    return record


def line_of(r):
    a, s = r["after_kill"], r["after_second_run"]
    kill = "reached" if r["reached"] else "NOT REACHED"
    after = ("no facts" if a is None else
             f"{a['old']} old, {a['new']} new, {a['partial']} partial, {a['missing']} missing, "
             f"{len(a['temporaries'])} temporaries, {len(a['records'])} records, "
             f"service {a['service']}")
    second = ",".join(r["second_run"]["answers"]) or "none"
    final = ("no facts" if s is None else
             f"{s['updated']}/{s['files']} new, {len(s['temporaries'])} temporaries, "
             f"{len(s['records'])} records, {len(s['marks'])} marks, service {s['service']}")
    verdict = r["verdict"] + ("" if not r["faults"] else ": " + "; ".join(r["faults"]))
    return (f"{r['n']:>3} {r['point']} | {kill} | after kill: {after} | second run boxes: "
            f"{second} | after: {final} | {verdict} ({r['seconds']} s)")


def summary(path):
    with open(path, encoding="utf-8") as f:
        records = [json.loads(line) for line in f if line.strip()]
    for r in records:
        print(line_of(r))

    def count(test):
        return sum(1 for r in records if test(r))
    final = [r["after_second_run"] for r in records if r["after_second_run"]]
    lost = sum(a["partial"] + a["missing"] for a in (r["after_kill"] for r in records) if a)
    failed = count(lambda r: r["verdict"] != "ok")
    print(f"{len(records)} points: {count(lambda r: r['reached'])} reached, {lost} files lost "
          f"(partial or missing), {sum(1 for s in final if s['temporaries'])} with temporaries "
          f"left, {sum(1 for s in final if s['records'] or s['marks'])} with records or marks "
          f"left, {sum(1 for s in final if s['service'] != 'present')} without the service, "
          f"{count(lambda r: r['second_run'].get('in_use'))} found a file in use, "
          f"{count(lambda r: r['asked_102'])} asked 102, {failed} failed")
    return 0 if records and failed == 0 else 1


def main(argv):
    if len(argv) == 5 and argv[1] == "record":
        print(json.dumps(make_record(int(argv[2]), argv[3], argv[4]), ensure_ascii=False))
        return 0
    if len(argv) == 3 and argv[1] == "summary":
        return summary(argv[2])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
